// The loader's application object. Every event of the GUI thread is first offered to the manager's
// message handler (as a TvkMsg {receiver, event}); a consumed event is not delivered. No exception
// leaves an event handler: hardware faults (translated into exceptions on the GUI thread), standard
// exceptions and anything else are written to the log under the source "TvkLoader", shown in a message
// window, and the program goes on.
#pragma once

#include <atomic>
#include <exception>
#include <string>

#include <QApplication>

#include "tvk_mgr.h"

class CTvkLoaderApp : public QApplication {
    Q_OBJECT
public:
    // mgrLogMsg's form; the loader logs its texts verbatim through "%s".
    using LogFunc = int (*)(const char* source, const char* fmt, int flags, ...);
    using MessageHandler = int (*)(TvkMsg* msg);

    CTvkLoaderApp(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;

    // Where events go first (null: nowhere) and where unhandled exceptions are reported (null: stderr).
    void setMessageHandler(MessageHandler handler) { handler_.store(handler); }
    void setLogFunc(LogFunc log) { log_.store(log); }

    // The report of the exception that is being handled (call inside a catch block).
    static std::string describeCurrentException();

private:
    void reportException();

    std::atomic<MessageHandler> handler_{nullptr};
    std::atomic<LogFunc> log_{nullptr};
};
