#include "loader_app.h"

#include <cstdio>
#include <stdexcept>

#include <QThread>

#include "platform/fault.h"

CTvkLoaderApp::CTvkLoaderApp(int& argc, char** argv) : QApplication(argc, argv) {}

bool CTvkLoaderApp::notify(QObject* receiver, QEvent* event)
{
    try {
        if (const MessageHandler handler = handler_.load(); handler && QThread::currentThread() == thread()) {
            TvkMsg msg{receiver, event};
            if (handler(&msg))
                return true;
        }
        return QApplication::notify(receiver, event);
    } catch (...) {
        reportException();
    }
    return false;
}

std::string CTvkLoaderApp::describeCurrentException()
{
    try {
        throw;
    } catch (const plat::Win32Exception& e) {
        return std::string("Unhandled exception occurred in main thread in module:\n") + e.module() + "\n" + e.what() +
               "\nConsider restarting program.";
    } catch (const std::exception& e) {
        return std::string("Unhandled exception occurred in main thread:\n") + e.what() +
               "\nConsider restarting program.";
    } catch (...) {
        return "Uknown exception occurred, consider restarting program.";
    }
}

void CTvkLoaderApp::reportException()
{
    std::string text;
    try {
        text = describeCurrentException();
    } catch (...) {
        text = "Uknown exception occurred, consider restarting program.";
    }
    try {
        if (const LogFunc log = log_.load()) {
            log("TvkLoader", "%s", MGRLOG_MSGWINDOW, text.c_str());
            return;
        }
    } catch (...) {
        // Reporting must not throw out of notify(); fall back to stderr.
    }
    std::fprintf(stderr, "TvkLoader: %s\n", text.c_str());
}
