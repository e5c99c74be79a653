// A test plug-in with a window whose handler of one event type writes through a null pointer, as a
// faulty plug-in would; loaded at run time by the loader's tests.
#include <QEvent>
#include <QWidget>

#include "tvk_export.h"

namespace {

class FaultyWindow : public QWidget {
public:
    static constexpr QEvent::Type kFaultEvent = static_cast<QEvent::Type>(QEvent::User + 66);

protected:
    bool event(QEvent* e) override
    {
        if (e->type() == kFaultEvent) {
            volatile int* nowhere = nullptr;
            *nowhere = 1;
            return true;
        }
        return QWidget::event(e);
    }
};

} // namespace

extern "C" TVK_EXPORT QWidget* createFaultyWindow()
{
    return new FaultyWindow;
}
