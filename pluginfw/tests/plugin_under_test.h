// A plug-in library opened by a GUI test: its entry resolved and its message boxes recorded instead of shown,
// and the version check every plug-in makes before it registers anything.
#pragma once

#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/module.h"
#include "pluginfw/tests/fake_mgr.h"
#include "uikit/message_box.h"

namespace ombrel_test {

struct Box {
    std::string title;
    std::string text;
};

class PluginUnderTest {
public:
    // boxSetter: the plug-in's exported "<prefix>SetMessageBoxHandler".
    PluginUnderTest(const std::string& path, const char* boxSetter)
    {
        if (!module_.open(path))
            throw std::runtime_error(module_.error());
        init_ = reinterpret_cast<InitFn>(module_.symbol("InitTvkPlugin"));
        setBoxes_ = reinterpret_cast<SetBoxesFn>(module_.symbol(boxSetter));
        if (!init_ || !setBoxes_)
            throw std::runtime_error(path + ": InitTvkPlugin or " + boxSetter + " missing");
        setBoxes_(&handler_);
    }
    ~PluginUnderTest() { setBoxes_(nullptr); }
    PluginUnderTest(const PluginUnderTest&) = delete;
    PluginUnderTest& operator=(const PluginUnderTest&) = delete;

    int init(const _MgrFuncTable* table) { return init_(table); }
    plat::Module& module() { return module_; }

    std::vector<Box> boxes;

private:
    using InitFn = int (*)(const _MgrFuncTable*);
    using SetBoxesFn = void (*)(const MessageBoxHandler*);

    plat::Module module_;
    InitFn init_ = nullptr;
    SetBoxesFn setBoxes_ = nullptr;
    const MessageBoxHandler handler_ = [this](QWidget*, const QString& text, const QString& title, unsigned) {
        boxes.push_back({title.toStdString(), text.toStdString()});
        return int(MSGBOX_IDOK);
    };
};

// A manager table of another interface version is refused with the box, and no slot of it is touched.
inline void expectVersionRefused(PluginUnderTest& plugin, const char* pluginName, uint32_t version = 16)
{
    const _MgrFuncTable other = fakemgr::table(version);
    EXPECT_EQ(plugin.init(&other), -1);
    ASSERT_EQ(plugin.boxes.size(), 1u);
    EXPECT_EQ(plugin.boxes[0].title, "Plugin version check failed");
    EXPECT_EQ(plugin.boxes[0].text, "Plugin \"" + std::string(pluginName) +
                                        "\" was compiled with header files ver. 17, this version is " +
                                        std::to_string(version) + ", please recompile the plugin.");
    std::lock_guard lock(fakemgr::state().m);
    const fakemgr::State& s = fakemgr::state();
    EXPECT_TRUE(s.calls.empty());
    EXPECT_TRUE(s.subscriptions.empty());
    EXPECT_TRUE(s.menuItems.empty());
    EXPECT_TRUE(s.functions.empty());
}

} // namespace ombrel_test
