// A loaded hardware library: its module and the function table that getMandatoryFuncs handed out.
// Devices hold the library through shared ownership, so it stays loaded while any device of it lives.
#pragma once

#include <memory>
#include <string>

#include "platform/module.h"
#include "tvk_hw.h"

class HwLibrary {
public:
    // Loads path and binds its table. On failure returns null with the library code (TVK_ERR_LIB_LOAD, TVK_ERR_LIB_INIT) and the
    // message text.
    static std::shared_ptr<HwLibrary> load(const std::string& path, int* code, std::string* message);

    const _HwFuncTable& table() const { return *table_; }
    const std::string& path() const { return module_.path(); }

private:
    plat::Module module_;
    const _HwFuncTable* table_ = nullptr;
};

// A text that a hardware library returned, copied with a bound; empty for null.
std::string hwText(const char* text);
