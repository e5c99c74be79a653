// Shared modules: where the calling module lies, and run-time loading with dlerror's text.
#pragma once

#include <string>

namespace plat {

// Full path of the module (executable or shared library) that contains the address, symbolic links
// resolved; empty when unknown.
std::string modulePathOf(const void* address);
// The folder of that module, without trailing '/'.
std::string moduleFolderOf(const void* address);

// A shared library opened with RTLD_NOW | RTLD_LOCAL. Move-only; closes on destruction.
class Module {
public:
    Module() = default;
    ~Module();
    Module(Module&& other) noexcept;
    Module& operator=(Module&& other) noexcept;
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;

    bool open(const std::string& path);  // false: error() holds dlerror's text
    void* symbol(const char* name);      // null: error() holds the reason
    void close();
    bool isOpen() const { return handle_ != nullptr; }
    void* handle() const { return handle_; }
    const std::string& path() const { return path_; }
    const std::string& error() const { return error_; }

private:
    void* handle_ = nullptr;
    std::string path_;
    std::string error_;
};

} // namespace plat
