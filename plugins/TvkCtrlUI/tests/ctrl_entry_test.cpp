// The plug-in's entry on a stand-in manager: a table of another interface version is refused with the box,
// and nothing is registered or called.
#include <gtest/gtest.h>

#include "ombrel_test_support.h"
#include "pluginfw/tests/plugin_under_test.h"

namespace {

TEST(CtrlEntry, TableOfAnotherVersionIsRefused)
{
    const std::string dir = ombrel_test::scratchDir("tvkctrlui-entry");
    fakemgr::reset(dir + "/");
    fakemgr::setDevice(0, "A");
    ombrel_test::PluginUnderTest plugin(TVKCTRLUI_PATH, "tvkctrluiSetMessageBoxHandler");
    ombrel_test::expectVersionRefused(plugin, "tvkctrlui");
}

} // namespace
