// Module paths through dladdr and run-time loading through dlopen.
#include "platform/module.h"

#include <climits>
#include <cstdlib>
#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

namespace plat {

namespace {

std::string executablePath()
{
    char buf[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0)
        return {};
    return std::string(buf, static_cast<size_t>(n));
}

std::string takeDlError(const char* fallback)
{
    const char* text = ::dlerror();
    return text ? std::string(text) : std::string(fallback);
}

} // namespace

std::string modulePathOf(const void* address)
{
    Dl_info info{};
    link_map* map = nullptr;
    if (!address || ::dladdr1(address, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) == 0)
        return {};
    // The main program's link map carries no name; its file is /proc/self/exe.
    std::string name = (map && map->l_name && *map->l_name) ? map->l_name : "";
    if (name.empty())
        name = executablePath();
    if (name.empty())
        return {};
    char resolved[PATH_MAX];
    if (::realpath(name.c_str(), resolved))
        return resolved;
    return name;
}

std::string moduleFolderOf(const void* address)
{
    const std::string path = modulePathOf(address);
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return {};
    return slash == 0 ? "/" : path.substr(0, slash);
}

Module::~Module()
{
    close();
}

Module::Module(Module&& other) noexcept
    : handle_(other.handle_), path_(std::move(other.path_)), error_(std::move(other.error_))
{
    other.handle_ = nullptr;
}

Module& Module::operator=(Module&& other) noexcept
{
    if (this != &other) {
        close();
        handle_ = other.handle_;
        path_ = std::move(other.path_);
        error_ = std::move(other.error_);
        other.handle_ = nullptr;
    }
    return *this;
}

bool Module::open(const std::string& path)
{
    close();
    path_ = path;
    error_.clear();
    if (path.empty()) { // dlopen would hand out the main program
        error_ = "No library path given";
        return false;
    }
    ::dlerror();
    handle_ = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) {
        error_ = takeDlError("dlopen failed");
        return false;
    }
    return true;
}

void* Module::symbol(const char* name)
{
    if (!handle_) {
        error_ = "Library is not loaded";
        return nullptr;
    }
    if (!name) {
        error_ = "No symbol name given";
        return nullptr;
    }
    ::dlerror();
    void* address = ::dlsym(handle_, name);
    if (!address) {
        error_ = takeDlError(("Symbol " + std::string(name) + " is null").c_str());
        return nullptr;
    }
    return address;
}

void Module::close()
{
    if (!handle_)
        return;
    ::dlerror();
    if (::dlclose(handle_) != 0)
        error_ = takeDlError("dlclose failed");
    handle_ = nullptr;
}

} // namespace plat
