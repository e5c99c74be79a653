// Helpers of the widget tests.
#pragma once

#include <chrono>
#include <cstdlib>
#include <functional>

#include <QCoreApplication>
#include <QEventLoop>
#include <QString>

namespace ombrel_test {

// Processes events until pred holds or the limit passes; whether it held.
inline bool processUntil(const std::function<bool()>& pred,
                         std::chrono::milliseconds limit = std::chrono::seconds(30))
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

namespace detail {
inline QtMessageHandler previousQtHandler = nullptr;
inline void strictQtMessages(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (previousQtHandler)
        previousQtHandler(type, context, text);
    if (type != QtDebugMsg && type != QtInfoMsg && !text.startsWith(QLatin1String("This plugin does not support ")))
        std::abort();
}
} // namespace detail

// Every Qt warning ends the test, as QT_FATAL_WARNINGS does, except the headless platform's notes on what it
// cannot do (raise a window, grab the keyboard), which it gives for every menu and dialog that opens; for
// tests that open menus. restoreQtMessages puts the earlier handler back.
inline void strictQtMessages()
{
    detail::previousQtHandler = qInstallMessageHandler(&detail::strictQtMessages);
}
inline void restoreQtMessages()
{
    qInstallMessageHandler(detail::previousQtHandler);
}

} // namespace ombrel_test
