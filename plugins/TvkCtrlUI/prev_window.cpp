#include "prev_window.h"

#include <cstdio>

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QThread>
#include <QVBoxLayout>

#include "platform/fault.h"
#include "uikit/message_box.h"
#include "uikit/picture.h"

namespace {

constexpr size_t kReportSize = 512;

std::string formatted(const char* fmt, long long value)
{
    char text[256];
    std::snprintf(text, sizeof text, fmt, value);
    return text;
}

} // namespace

CPreviewDialog::CPreviewDialog(const _MgrFuncTable* mgr, std::shared_ptr<PreviewState> state)
    : QWidget(nullptr, Qt::Window), mgr_(mgr), state_(std::move(state)), model_(mgr)
{
    auto* layout = new QVBoxLayout(this);
    layout->setSizeConstraint(QLayout::SetNoConstraint); // the size is the user's; no minimum pushed to the window system
    picture_ = new CPicture(this);
    info_ = new QLabel(this);
    layout->addWidget(picture_, 1);
    layout->addWidget(info_);
    model_.setPicture(picture_);
    resize(420, 460);
}

CPreviewDialog::~CPreviewDialog()
{
    model_.setPicture(nullptr);
}

int CPreviewDialog::create(const _MgrFuncTable* mgr, const PrevCreateRequest& r)
{
    auto state = std::make_shared<PreviewState>(r.devIndex, r.destroyOnClose, r.iniPath);
    std::unique_ptr<CPreviewDialog> w(new CPreviewDialog(mgr, state));
    const bool sized = r.devIndex < 0 ? w->model_.setSize(r.width, r.height) == 0 : w->bindDevice(r.devIndex);
    if (!sized) {
        messageBox(nullptr, QStringLiteral("Preview initialization error."), QString(), MSGBOX_OK | MSGBOX_ICONERROR);
        return -1;
    }
    w->setAttribute(Qt::WA_DeleteOnClose, false);
    auto host = std::make_shared<PrevWindowHost>(w.get(), mgr);
    const uint32_t id = prevWndService().registry().add({state, host});
    w->updateInfo();
    w.release(); // owned by the registry's entry from here: freed by its destroy()
    return int(id);
}

bool CPreviewDialog::bindDevice(int devIndex)
{
    if (devIndex < 0 || model_.bindDevice(devIndex) != 0)
        return false;
    state_->setDevIndex(devIndex);
    return true;
}

int CPreviewDialog::showFrameId(uint32_t frameId)
{
    if (model_.showFrame(frameId) != 0) {
        state_->reportError(formatted("Preview: cannot get frame with id: %llu (zero-based)", frameId));
        return -1;
    }
    updateInfo();
    return 0;
}

int CPreviewDialog::showFrameNumber(int n)
{
    const int dev = state_->devIndex();
    uint32_t frameId = 0;
    if (n < 1 || dev < 0)
        return 0;
    if (!mgr_ || !mgr_->tvkCtrlGetFrameID || mgr_->tvkCtrlGetFrameID(unsigned(dev), n - 1, &frameId) != 0 ||
        model_.showFrame(frameId) != 0) {
        state_->reportError(formatted("Preview: cannot get frame %lld (zero-based)", n - 1));
        return -1;
    }
    state_->setFrames(state_->frameCount(), n);
    updateInfo();
    return 0;
}

void CPreviewDialog::refreshFromDevice()
{
    state_->takeRefresh();
    const int dev = state_->devIndex();
    int frameIndex = 0, frameCount = 0, kind = 0, framesDone = 0;
    if (dev < 0 || !mgr_ || !mgr_->tvkCtrlGetAcqInfo ||
        mgr_->tvkCtrlGetAcqInfo(unsigned(dev), &frameIndex, &frameCount, &kind, &framesDone) != 0)
        return;
    const int count = (kind == 0 || kind == 1) ? framesDone : 1;
    state_->setFrames(count, state_->currentFrame());
    if (isVisible() && count > 0)
        showFrameNumber(count);
}

void CPreviewDialog::updateInfo()
{
    const int dev = state_->devIndex();
    QString text = dev < 0 ? QStringLiteral("Frame id: %1").arg(model_.frameId())
                           : QStringLiteral("Frame %1 of %2").arg(state_->currentFrame()).arg(state_->frameCount());
    info_->setText(text);
}

void CPreviewDialog::reportUnhandled(const char* text)
{
    state_->setReporting(true);
    if (mgr_ && mgr_->mgrLogMsg)
        mgr_->mgrLogMsg("tvkctrlui", "%s", MGRLOG_MSGBOX, text);
    state_->setReporting(false);
}

bool CPreviewDialog::event(QEvent* e)
{
    char text[kReportSize];
    try {
        return QWidget::event(e);
    } catch (const plat::Win32Exception& ex) {
        std::snprintf(text, sizeof text,
                      "Unhandled exception occurred in Preview UI thread in module:\n%s\n%s\nConsider restarting program.",
                      ex.module(), ex.what());
    } catch (const std::exception& ex) {
        std::snprintf(text, sizeof text,
                      "Unhandled exception occurred in Preview UI thread:\n%s\nConsider restarting program.", ex.what());
    }
    reportUnhandled(text);
    return true;
}

void CPreviewDialog::closeEvent(QCloseEvent* e)
{
    e->ignore();
    const uint32_t id = state_->id();
    hide();
    state_->setVisible(false);
    if (state_->destroyOnClose()) {
        // Out of the registry now, freed once this handler has returned.
        if (auto entry = prevWndService().registry().take(id))
            entry->host->destroy();
    }
    if (CallbackFuncType cb = state_->closeCb())
        cb(id); // may destroy this preview: nothing of this window is touched after it
}

void CPreviewDialog::showEvent(QShowEvent* e)
{
    state_->setVisible(true);
    QWidget::showEvent(e);
}

void CPreviewDialog::hideEvent(QHideEvent* e)
{
    state_->setVisible(false);
    QWidget::hideEvent(e);
}

// ---- PrevWindowHost ----

void PrevWindowHost::queue(std::function<void(CPreviewDialog*)> work)
{
    QPointer<CPreviewDialog> w = window_;
    QMetaObject::invokeMethod(
        qApp,
        [w, work = std::move(work)] {
            if (w)
                work(w.data());
        },
        Qt::QueuedConnection);
}

void PrevWindowHost::show(bool visible)
{
    queue([visible](CPreviewDialog* w) {
        if (!visible) {
            w->hide();
            return;
        }
        w->show();
        const auto& s = w->state();
        if (s->devIndex() >= 0 && s->frameCount() > 0)
            w->showFrameNumber(s->currentFrame() > s->frameCount() || s->currentFrame() < 1 ? 1 : s->currentFrame());
    });
}

void PrevWindowHost::setCaption(const std::string& caption)
{
    queue([c = QString::fromStdString(caption)](CPreviewDialog* w) { w->setWindowTitle(c); });
}

int PrevWindowHost::showFrame(uint32_t frameId)
{
    uint32_t width = 0, height = 0;
    if (!mgr_ || !mgr_->mgrGetFrameSize || mgr_->mgrGetFrameSize(frameId, &width, &height) != 0) {
        state_->reportError(formatted("Preview: cannot get frame with id: %llu (zero-based)", frameId));
        return -1;
    }
    queue([frameId](CPreviewDialog* w) { w->showFrameId(frameId); });
    return 0;
}

void PrevWindowHost::destroy()
{
    queue([](CPreviewDialog* w) {
        w->hide();
        w->deleteLater();
    });
}

void PrevWindowHost::refresh()
{
    queue([](CPreviewDialog* w) { w->refreshFromDevice(); });
}

void PrevWindowHost::rebind()
{
    queue([](CPreviewDialog* w) {
        if (!w->bindDevice(w->state()->devIndex()))
            messageBox(w, QStringLiteral("Preview initialization error."), QString(), MSGBOX_OK | MSGBOX_ICONERROR);
    });
}

void PrevWindowHost::pixCfgChanged()
{
    queue([](CPreviewDialog* w) {
        if (w->shownFrameId())
            w->showFrameId(w->shownFrameId());
    });
}

void installPreviewWindows(const _MgrFuncTable* mgr)
{
    prevWndService().setFactory([mgr](const PrevCreateRequest& r) { return CPreviewDialog::create(mgr, r); },
                                GuiDispatch{[] { return qApp && QThread::currentThread() == qApp->thread(); },
                                            [](std::function<void()> f) {
                                                if (qApp)
                                                    QMetaObject::invokeMethod(qApp, std::move(f), Qt::QueuedConnection);
                                            }});
}
