// The preview window: a frame picture of the display model with level controls, histogram, statistics,
// orientation, service frames and the pixel menu; free (a size fixed at creation) or bound to a device
// (follows its acquisitions). The rules live in PreviewView and PreviewSettings (no Qt); this class moves
// their results into the controls. It keeps its PreviewState current for the preview functions, and is
// reached from other threads only through PrevWindowHost, which queues to the GUI thread. GUI thread only.
#pragma once

#include <array>
#include <atomic>
#include <exception>
#include <memory>

#include <QPointer>

#include "pix_cfg_device.h"
#include "pix_crit_dlg.h"
#include "pluginfw/mult_data.h"
#include "preview_settings.h"
#include "preview_view.h"
#include "prev_wnd_funcs.h"
#include "uikit/picture_data.h"
#include "uikit/resizeable_dlg.h"

class CPicture;
class CPixCritDlg;
class CSmartEdit;
class CComboBoxFilterChains;
class Plot2D;
class QAction;
class QActionGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QMenu;
class QMenuBar;
class QPushButton;
class QScrollBar;
class QSlider;
class QTimer;
class QTreeWidget;

// Commands of the pixel menu.
enum class PixCommand { MaskPixel, UnmaskPixel, MaskColumn, UnmaskColumn, MaskRow, UnmaskRow, MaskAll, UnmaskAll,
                        MaskSelected, UnmaskSelected, SetThl, SetThh, SetMode, MaskAbove, ShiftThlAbove };

class CPreviewDialog : public CResizeableDlg {
    Q_OBJECT
public:
    // Makes, registers and returns the id of the window of a request, or -1 after the box "Preview
    // initialization error." (nothing registered). The PreviewFactory of the plug-in.
    static int create(const _MgrFuncTable* mgr, const PrevCreateRequest& request);
    ~CPreviewDialog() override; // writes the settings

    const std::shared_ptr<PreviewState>& state() const { return state_; }
    // Sizes the model to the device, fetches its service frames and takes it as the bound device: false
    // when the model cannot be sized.
    bool bindDevice(int devIndex);
    // Shows the frame of that id: 0, or -1 with the last error set and the error callback called.
    int showFrameId(uint32_t frameId);
    // Shows frame n (from 1) of the bound device's last acquisition: 0, or -1 as above.
    int showFrameNumber(int n, bool updateEdit = true);
    // The device's last acquisition: frame count, and its last frame shown while visible and following.
    void refreshFromDevice();
    // The device's pixel configuration changed: the mask and a shown service frame again.
    void pixCfgChanged();
    uint32_t shownFrameId() const { return model_.frameId(); }
    // Captures the placement and keeps "Visible" as it is: the window is hidden for its destruction.
    void aboutToDestroy();
    // After a show: the first time the window is normal on the screen, its frame is known and the saved
    // rectangle is applied again, exactly (placed before, the frame was taken as nothing).
    void placeOnceShownNormal();
    // The frame loaded from a file that this window closes when it is replaced (0: none).
    uint32_t ownedFrameId() const { return ownsShownFrame_ ? shownById_ : 0; }

    // Commands, as the menus and controls run them (tests call them without the dialogs).
    bool loadPicture(const QString& path);
    void update();                    // "Update" and Enter
    void chooseServiceFrame(int slot); // "Service Frames" item
    int serviceFrameShown() const { return serviceShown_; }
    void setMaxAutoUpdateMode(int mode);
    void setSize(int k);
    // The pixel menu for a frame pixel, with its enabling and check marks (the caller owns it).
    QMenu* createPixelMenu(int frameX, int frameY);
    // A pixel-menu command at the pixel of the last menu; value: the field value of SetThl/SetThh/SetMode,
    // the threshold of MaskAbove/ShiftThlAbove.
    PixCfgResult runPixelCommand(PixCommand command, double value = 0);
    // The criteria dialog of MaskAbove or ShiftThlAbove, set up as the menu opens it (not yet run).
    std::unique_ptr<CPixCritDlg> criteriaDialog(PixCommand command);

    PreviewSettings& settings() { return settings_; }
    PreviewView& view() { return view_; }
    PictureData& model() { return model_; }
    CPicture* picture() const { return picture_; }
    int frameCount() const { return frameCount_; }
    int refreshRuns() const { return refreshRuns_; } // refreshes from the device run so far
    int currentFrame() const { return currentFrame_; }

    // Runs work for this window: an exception escaping it is reported (a warning box through the manager's
    // log, `reporting` set meanwhile) and the window goes on. false when one was reported. Events, timer
    // ticks and the work queued from other threads all run through it.
    template <typename Work>
    bool guarded(Work&& work);

protected:
    bool event(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void hideEvent(QHideEvent* e) override;
    void dragEnterEvent(QDragEnterEvent* e) override;
    void dropEvent(QDropEvent* e) override;
    void initLayout() override;
    void accept() override { update(); } // Enter: same as "Update"
    void reject() override {}            // Escape does not close the window

private:
    CPreviewDialog(const _MgrFuncTable* mgr, std::shared_ptr<PreviewState> state);
    void buildControls();
    void buildMenus();
    void updateMenus();
    void initView();
    void refreshView();
    void applyRangeToControls(bool keep);
    void showLevels(bool min, bool max);
    void showHistogram();
    void showStatistics();
    void showZoomLabels();
    void showCursor(int x, int y);
    void closeOwnedFrame();
    void reportUnhandled(std::exception_ptr fault); // a warning box with the fault's text, `reporting` set
    // fn as a slot that runs under guarded(): the handlers of the controls and menus.
    template <typename Fn>
    auto guardedSlot(Fn fn);
    void savePicture();
    void preferences();
    void pixelMenuAt(const QPoint& clientPoint, int x, int y);
    void pixCfgResult(PixCfgResult r);
    void setFrameEditEnabled(bool on);

    const _MgrFuncTable* mgr_;
    std::shared_ptr<PreviewState> state_;
    PreviewSettings settings_;
    PictureData model_;
    PreviewView view_{model_, settings_};
    _DevInfo devInfo_{};
    std::array<uint32_t, kServiceFrameCount> serviceFrames_{};
    int serviceShown_ = -1;
    int frameCount_ = 0;
    int currentFrame_ = 0;
    uint32_t shownById_ = 0; // frame shown by id or loaded from a file; 0: a device frame number
    bool ownsShownFrame_ = false;
    int menuPixelX_ = 0, menuPixelY_ = 0;
    PixelRect zoomShown_{-1, -1, -1, -1};
    bool updating_ = false; // controls being set by the window, not the user
    bool destroying_ = false;
    bool placementPending_ = false; // the saved rectangle waits for the first normal show
    WindowPlacement placement_;     // the saved placement as fitted to the screens
    int refreshRuns_ = 0;

    CPicture* picture_ = nullptr;
    QMenuBar* menuBar_ = nullptr;
    CSmartEdit* frameEdit_ = nullptr;
    QScrollBar* frameSpin_ = nullptr;
    QPushButton* updateButton_ = nullptr;
    QPushButton* prevButton_ = nullptr;
    QPushButton* nextButton_ = nullptr;
    CSmartEdit* minEdit_ = nullptr;
    CSmartEdit* maxEdit_ = nullptr;
    QSlider* minSlider_ = nullptr;
    QSlider* maxSlider_ = nullptr;
    QCheckBox* minLock_ = nullptr;
    QCheckBox* maxLock_ = nullptr;
    QPushButton* underWarning_ = nullptr;
    QPushButton* overWarning_ = nullptr;
    QCheckBox* autoRange_ = nullptr;
    QComboBox* autoRangeType_ = nullptr;
    QCheckBox* countRate_ = nullptr;
    QLabel* timeLabel_ = nullptr;
    QCheckBox* showHistogram_ = nullptr;
    QPushButton* histRefine_ = nullptr;
    Plot2D* histogram_ = nullptr;
    QTreeWidget* stats_ = nullptr;
    QComboBox* colorMap_ = nullptr;
    CComboBoxFilterChains* chains_ = nullptr;
    QCheckBox* autoUpdate_ = nullptr;
    QTimer* timer_ = nullptr;

    QAction* saveFrameRangeAction_ = nullptr;
    QAction* loadFrameRangeAction_ = nullptr;
    QAction* ignoreMaskedAction_ = nullptr;
    QMenu* maxUpdatesMenu_ = nullptr;
    std::array<QAction*, 6> maxUpdateActions_{};
    QAction* mirrorAction_ = nullptr;
    std::array<QAction*, 4> rotateActions_{};
    QAction* interpolateAction_ = nullptr;
    QAction* gridAction_ = nullptr;
    QMenu* serviceMenu_ = nullptr;
    std::array<QAction*, kServiceFrameCount> serviceActions_{};
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
    void holdLatestFrame() override;
    void rebind() override;
    void pixCfgChanged() override;

private:
    void queue(std::function<void(CPreviewDialog*)> work);
    void dropHeldFrame(); // closes the reference holdLatestFrame took, when the refresh did not take it
    std::atomic<bool> destroyed_{false}; // set by destroy: a reference taken after it is closed at once
    QPointer<CPreviewDialog> window_;
    const _MgrFuncTable* mgr_;
    std::shared_ptr<PreviewState> state_;
};

// Connects the preview functions to these windows: creation through CPreviewDialog::create on the GUI
// thread of the running application.
void installPreviewWindows(const _MgrFuncTable* mgr);
