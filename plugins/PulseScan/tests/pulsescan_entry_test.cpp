// The plug-in's entry on a stand-in manager: a table of another version is refused with the box and
// nothing registered; the right one registers "Back side pulse" under each device and the events, an
// event of an unknown device is logged, and after "Exit" no handler analyses any more.
#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ombrel_test_support.h"
#include "pluginfw/tests/plugin_under_test.h"

namespace {

std::vector<std::string> gLog;
std::vector<std::string> gUnsubscribed;

int logMsg(const char* source, const char* format, int level, ...)
{
    char text[256];
    va_list args;
    va_start(args, level);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    gLog.push_back(std::string(source) + ": " + text);
    return 0;
}

int unregisterCallback(const char* source, const char* event, EventCallback)
{
    gUnsubscribed.push_back(std::string(source) + " " + event);
    return 0;
}

} // namespace

TEST(PulseScanEntry, VersionCheckRegistrationsAndExit)
{
    const std::string dir = ombrel_test::scratchDir("pulsescan-entry");
    fakemgr::reset(dir + "/");
    fakemgr::setDevice(0, "A");
    fakemgr::setDevice(1, "B");
    ombrel_test::PluginUnderTest plugin(PULSESCAN_PATH, "pulsescanSetMessageBoxHandler");
    ombrel_test::expectVersionRefused(plugin, "pulsescan");

    static _MgrFuncTable table = fakemgr::table();
    table.mgrLogMsg = logMsg;
    table.mgrUnregisterCallback = unregisterCallback;
    ASSERT_EQ(plugin.init(&table), 0);
    EXPECT_EQ(fakemgr::subscribedEvents(), (std::vector<std::string>{"tvkmgr Exit", "tvkmgr Start", "tvkmgr Exit",
                                                                     "tvkctrl TvkDevChanged", "tvkctrl TvkDevNew",
                                                                     "tvkctrl AcqCompleted"}));
    {
        std::lock_guard lock(fakemgr::state().m);
        const fakemgr::State& s = fakemgr::state();
        ASSERT_EQ(s.menuItems.size(), 2u);
        for (int dev = 0; dev < 2; ++dev) {
            EXPECT_EQ(s.menuItems[static_cast<size_t>(dev)].devId, dev);
            EXPECT_EQ(s.menuItems[static_cast<size_t>(dev)].name, "Back side pulse");
        }
    }
    // A device without an open window is not read; an unknown one is logged; after "Exit" nothing runs.
    fakemgr::fire("tvkctrl", "AcqCompleted", 1);
    fakemgr::fire("tvkctrl", "AcqCompleted", 7);
    EXPECT_EQ(gLog, std::vector<std::string>{"PulseScan: CallBack: Invalid device ID (devID=0x7)"});
    fakemgr::fire("tvkmgr", "Exit", 0);
    EXPECT_EQ(gUnsubscribed, std::vector<std::string>{"tvkctrl AcqCompleted"});
    fakemgr::fire("tvkctrl", "AcqCompleted", 7);
    EXPECT_EQ(gLog.size(), 1u) << "a handler ran after Exit";
}
