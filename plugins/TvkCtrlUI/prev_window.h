// The preview window: a frame picture of the display model, free (a size fixed at creation) or bound to a
// device (follows its acquisitions). It keeps its PreviewState current for the preview functions, and is
// reached from other threads only through PrevWindowHost, which queues to the GUI thread. GUI thread only.
#pragma once

#include <memory>

#include <QPointer>
#include <QWidget>

#include "prev_wnd_funcs.h"
#include "uikit/picture_data.h"

class CPicture;
class QLabel;

class CPreviewDialog : public QWidget {
    Q_OBJECT
public:
    // Makes, registers and returns the id of the window of a request, or -1 after the box "Preview
    // initialization error." (nothing registered). The PreviewFactory of the plug-in.
    static int create(const _MgrFuncTable* mgr, const PrevCreateRequest& request);
    ~CPreviewDialog() override;

    const std::shared_ptr<PreviewState>& state() const { return state_; }
    // Sizes the model to the device and takes it as the bound device: false when that fails.
    bool bindDevice(int devIndex);
    // Shows the frame of that id: 0, or -1 with the last error set and the error callback called.
    int showFrameId(uint32_t frameId);
    // Shows frame n (from 1) of the bound device's last acquisition: 0, or -1 as above.
    int showFrameNumber(int n);
    // The device's last acquisition: frame count, and its last frame shown while visible and following.
    void refreshFromDevice();
    uint32_t shownFrameId() const { return model_.frameId(); }

protected:
    bool event(QEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void hideEvent(QHideEvent* e) override;

private:
    CPreviewDialog(const _MgrFuncTable* mgr, std::shared_ptr<PreviewState> state);
    void reportUnhandled(const char* text);
    void updateInfo();

    const _MgrFuncTable* mgr_;
    std::shared_ptr<PreviewState> state_;
    PictureData model_;
    CPicture* picture_ = nullptr;
    QLabel* info_ = nullptr;
};

// The preview functions' side of one window: every call queued to the GUI thread, where a window that is
// gone by then is skipped.
class PrevWindowHost : public PreviewHost {
public:
    PrevWindowHost(CPreviewDialog* window, const _MgrFuncTable* mgr) : window_(window), mgr_(mgr), state_(window->state()) {}
    void show(bool visible) override;
    void setCaption(const std::string& caption) override;
    int showFrame(uint32_t frameId) override;
    void destroy() override;
    void refresh() override;
    void rebind() override;
    void pixCfgChanged() override;

private:
    void queue(std::function<void(CPreviewDialog*)> work);
    QPointer<CPreviewDialog> window_;
    const _MgrFuncTable* mgr_;
    std::shared_ptr<PreviewState> state_;
};

// Connects the preview functions to these windows: creation through CPreviewDialog::create on the GUI
// thread of the running application.
void installPreviewWindows(const _MgrFuncTable* mgr);
