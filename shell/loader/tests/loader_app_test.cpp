// The loader's application object: events of the GUI thread go to the manager's handler first, and
// an exception or hardware fault inside any event handler (a plug-in's window among them) is logged
// once under "TvkLoader" with a message window, while the program goes on.
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include <QCoreApplication>
#include <QEvent>
#include <QThread>
#include <QWidget>

#include <gtest/gtest.h>

#include "loader_app.h"
#include "platform/fault.h"
#include "platform/module.h"

namespace {

// ---- the application, made once for the program ----

CTvkLoaderApp* gApp = nullptr;

class LoaderAppEnvironment : public testing::Environment {
public:
    void SetUp() override
    {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        char pattern[] = "/tmp/shell-loader-runtime-XXXXXX";
        if (mkdtemp(pattern)) {
            runtimeDir_ = pattern;
            setenv("XDG_RUNTIME_DIR", pattern, 1);
        }
        gApp = new CTvkLoaderApp(argc_, argv_);
        plat::installFaultTranslator();
    }
    void TearDown() override
    {
        delete gApp;
        gApp = nullptr;
        if (!runtimeDir_.empty())
            rmdir(runtimeDir_.c_str());
    }

private:
    int argc_ = 1;
    char name_[20] = "shell_loader_app";
    char* argv_[2] = {name_, nullptr};
    std::string runtimeDir_;
};

[[maybe_unused]] testing::Environment* const environment =
    testing::AddGlobalTestEnvironment(new LoaderAppEnvironment);

// ---- what the loader hands the manager, recorded ----

struct LogEntry {
    std::string source;
    std::string text;
    int flags;
};

std::mutex gMutex; // guards the records below
std::vector<LogEntry> gLog;
std::vector<TvkMsg> gMessages;
std::atomic<int> gOffThreadMessages{0};

constexpr QEvent::Type kConsumedEvent = static_cast<QEvent::Type>(QEvent::User + 1);
constexpr QEvent::Type kPassedEvent = static_cast<QEvent::Type>(QEvent::User + 2);
constexpr QEvent::Type kThrowEvent = static_cast<QEvent::Type>(QEvent::User + 3);
constexpr QEvent::Type kFaultEvent = static_cast<QEvent::Type>(QEvent::User + 66); // the test plug-in's

int recordLog(const char* source, const char* fmt, int flags, ...)
{
    va_list args;
    va_start(args, flags);
    char text[4096];
    std::vsnprintf(text, sizeof text, fmt, args);
    va_end(args);
    std::lock_guard lock(gMutex);
    gLog.push_back({source, text, flags});
    return 0;
}

int recordMessage(TvkMsg* msg)
{
    if (QThread::currentThread() != qApp->thread())
        ++gOffThreadMessages;
    const auto* event = static_cast<const QEvent*>(msg->event);
    if (event->type() != kConsumedEvent && event->type() != kPassedEvent)
        return 0;
    std::lock_guard lock(gMutex);
    gMessages.push_back(*msg);
    return event->type() == kConsumedEvent;
}

class Receiver : public QObject {
public:
    std::vector<int> seen;
    std::function<void()> onThrow;

protected:
    bool event(QEvent* e) override
    {
        if (e->type() >= QEvent::User) {
            seen.push_back(e->type());
            if (e->type() == kThrowEvent && onThrow)
                onThrow();
            return true;
        }
        return QObject::event(e);
    }
};

class LoaderAppTest : public testing::Test {
protected:
    void SetUp() override
    {
        std::lock_guard lock(gMutex);
        gLog.clear();
        gMessages.clear();
        gApp->setLogFunc(recordLog);
        gApp->setMessageHandler(recordMessage);
    }
    void TearDown() override
    {
        gApp->setLogFunc(nullptr);
        gApp->setMessageHandler(nullptr);
    }
    static std::vector<LogEntry> logged()
    {
        std::lock_guard lock(gMutex);
        return gLog;
    }
};

TEST_F(LoaderAppTest, EventsGoToTheManagerFirstAndConsumedOnesStopThere)
{
    Receiver receiver;
    QEvent consumed(kConsumedEvent);
    QEvent passed(kPassedEvent);
    EXPECT_TRUE(QCoreApplication::sendEvent(&receiver, &consumed));
    EXPECT_TRUE(QCoreApplication::sendEvent(&receiver, &passed));
    QCoreApplication::postEvent(&receiver, new QEvent(kConsumedEvent));
    QCoreApplication::sendPostedEvents(&receiver);

    EXPECT_EQ(receiver.seen, std::vector<int>{kPassedEvent}) << "only the event nobody consumed arrives";
    std::lock_guard lock(gMutex);
    ASSERT_EQ(gMessages.size(), 3u);
    EXPECT_EQ(gMessages[0].receiver, &receiver);
    EXPECT_EQ(gMessages[0].event, &consumed);
    EXPECT_EQ(gMessages[1].event, &passed);
}

TEST_F(LoaderAppTest, EventsOfOtherThreadsAreNotOfferedToTheManager)
{
    gOffThreadMessages = 0;
    QThread worker;
    worker.start();
    Receiver receiver;
    receiver.moveToThread(&worker);
    QCoreApplication::postEvent(&receiver, new QEvent(kPassedEvent));
    QMetaObject::invokeMethod(&receiver, [] {}, Qt::BlockingQueuedConnection); // after the event
    worker.quit();
    worker.wait();
    EXPECT_EQ(receiver.seen, std::vector<int>{kPassedEvent});
    EXPECT_EQ(gOffThreadMessages.load(), 0);
}

TEST_F(LoaderAppTest, ExceptionsFromHandlersAreLoggedOnceAndTheProgramGoesOn)
{
    struct Case {
        std::function<void()> thrower;
        std::string text;
    } cases[] = {
        {[] { throw std::runtime_error("Boom."); },
         "Unhandled exception occurred in main thread:\nBoom.\nConsider restarting program."},
        {[] { throw 42; }, "Uknown exception occurred, consider restarting program."},
        {[] {
             plat::FaultRecord record;
             record.code = plat::kCodeIntDivideByZero;
             throw plat::Win32Exception(record, "/opt/plugins/Scans.so");
         },
         "Unhandled exception occurred in main thread in module:\n/opt/plugins/Scans.so\n"
         "Win32 exception (3221225620).\nConsider restarting program."},
    };
    for (const Case& c : cases) {
        SetUp();
        Receiver receiver;
        receiver.onThrow = c.thrower;
        QEvent event(kThrowEvent);
        EXPECT_FALSE(QCoreApplication::sendEvent(&receiver, &event));
        const std::vector<LogEntry> entries = logged();
        ASSERT_EQ(entries.size(), 1u) << c.text;
        EXPECT_EQ(entries[0].source, "TvkLoader");
        EXPECT_EQ(entries[0].text, c.text);
        EXPECT_EQ(entries[0].flags, MGRLOG_MSGWINDOW);

        QEvent after(kPassedEvent);
        EXPECT_TRUE(QCoreApplication::sendEvent(&receiver, &after));
        EXPECT_EQ(receiver.seen.back(), kPassedEvent);
    }
}

TEST_F(LoaderAppTest, AccessViolationInAPluginWindowIsLoggedWithItsModule)
{
    plat::Module plugin;
    ASSERT_TRUE(plugin.open(TEST_FAULT_PLUGIN_PATH)) << plugin.error();
    auto create = reinterpret_cast<QWidget* (*)()>(plugin.symbol("createFaultyWindow"));
    ASSERT_NE(create, nullptr) << plugin.error();
    const std::string modulePath = plat::modulePathOf(reinterpret_cast<const void*>(create));

    std::unique_ptr<QWidget> window(create());
    for (int round = 1; round <= 2; ++round) {
        QEvent fault(kFaultEvent);
        EXPECT_FALSE(QCoreApplication::sendEvent(window.get(), &fault));
        const std::vector<LogEntry> entries = logged();
        ASSERT_EQ(entries.size(), static_cast<size_t>(round)) << "one entry per fault";
        const std::string expectedStart =
            "Unhandled exception occurred in main thread in module:\n" + modulePath + "\nAccess violation writing";
        EXPECT_EQ(entries.back().text.rfind(expectedStart, 0), 0u) << entries.back().text;
        EXPECT_NE(entries.back().text.find("\nConsider restarting program."), std::string::npos);
        EXPECT_EQ(entries.back().source, "TvkLoader");
        EXPECT_EQ(entries.back().flags, MGRLOG_MSGWINDOW);
    }
    // The window and the program still work.
    window->resize(120, 80);
    window->show();
    QCoreApplication::processEvents();
    EXPECT_TRUE(window->isVisible());
    window.reset();
}

TEST_F(LoaderAppTest, WithoutALogReportsGoToStandardError)
{
    gApp->setLogFunc(nullptr);
    Receiver receiver;
    receiver.onThrow = [] { throw std::logic_error("No log."); };
    QEvent event(kThrowEvent);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(QCoreApplication::sendEvent(&receiver, &event));
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("TvkLoader: Unhandled exception occurred in main thread:\nNo log."), std::string::npos) << err;
}

} // namespace
