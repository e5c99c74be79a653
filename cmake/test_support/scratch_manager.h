// The real manager started in a prepared scratch app folder (the current folder while it runs, so that its
// log lands there), without a user interface, and the function table that a table plug-in of the folder
// (ombrel_add_table_plugin) hands out. The destructor sends "Exit" when the manager started, unloads it and
// goes back to the old folder.
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>

#include "platform/module.h"
#include "tvk_mgr.h"

namespace ombrel_test {

class ScratchManager {
public:
    // tablePlugin: the table plug-in's path inside dir (listed in the folder's tvkmanager.ini);
    // tableFunction: its exported function.
    ScratchManager(const std::string& dir, const std::string& tablePlugin, const char* tableFunction)
        : dir_(dir), oldCwd_(std::filesystem::current_path())
    {
        std::filesystem::current_path(dir_);
        if (!manager_.open(dir_ + "/libTvkManager.so"))
            throw std::runtime_error(manager_.error());
        call<int (*)(void*, const void*)>("mgrSetUiHooks")(nullptr, nullptr); // boxes answered at once
        started_ = call<int (*)()>("mgrInitManager")() == 0;
        if (started_ && plugin_.open(tablePlugin))
            if (auto tableOf = reinterpret_cast<const _MgrFuncTable* (*)()>(plugin_.symbol(tableFunction)))
                table_ = tableOf();
    }
    ~ScratchManager()
    {
        plugin_ = plat::Module();
        if (started_)
            call<int (*)()>("mgrExitManager")(); // "Exit": the plug-ins' windows close
        call<int (*)()>("mgrUnloadManager")();
        std::filesystem::current_path(oldCwd_);
        manager_ = plat::Module();
    }
    ScratchManager(const ScratchManager&) = delete;
    ScratchManager& operator=(const ScratchManager&) = delete;

    // Null when the manager did not start or the table plug-in is missing.
    const _MgrFuncTable* table() const { return table_; }
    const std::string& dir() const { return dir_; }

private:
    template <class Fn>
    Fn call(const char* name)
    {
        auto fn = reinterpret_cast<Fn>(manager_.symbol(name));
        if (!fn)
            throw std::runtime_error(std::string("the manager lacks ") + name);
        return fn;
    }

    std::string dir_;
    std::filesystem::path oldCwd_;
    plat::Module manager_;
    plat::Module plugin_;
    bool started_ = false;
    const _MgrFuncTable* table_ = nullptr;
};

} // namespace ombrel_test
