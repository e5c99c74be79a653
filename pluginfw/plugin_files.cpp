#include "plugin_files.h"

#include <cerrno>
#include <cstring>

#include "file_names.h"
#include "platform/ini.h"
#include "platform/module.h"
#include "platform/numbers.h"
#include "platform/syserror.h"
#include "platform/text_copy.h"

std::string moduleBaseName(std::string_view modulePath)
{
    const size_t slash = modulePath.rfind('/');
    std::string_view name = slash == std::string_view::npos ? modulePath : modulePath.substr(slash + 1);
    const size_t dot = name.rfind('.');
    if (dot != std::string_view::npos)
        name = name.substr(0, dot);
    return std::string(name);
}

std::string moduleBaseNameOf(const void* address)
{
    return moduleBaseName(plat::modulePathOf(address));
}

int buildIniPathFor(const char* folder, char* out, std::string_view modulePath, const char* suffix)
{
    if (!out)
        return -1;
    out[0] = '\0';
    const std::string name = moduleBaseName(modulePath);
    if (!folder || name.empty())
        return -1;
    std::string path(folder);
    if (!path.empty() && path.back() != '/')
        path += '/';
    path += name;
    if (suffix) {
        path += '_';
        path += safeFileNamePart(suffix);
    }
    path += ".ini";
    if (path.size() >= kPluginPathSize)
        return -1;
    plat::copyText(out, kPluginPathSize, path);
    return 0;
}

int buildIniPath(const char* folder, char* out, const void* moduleAddress, const char* suffix)
{
    if (out)
        out[0] = '\0';
    const std::string modulePath = plat::modulePathOf(moduleAddress);
    if (modulePath.empty())
        return -1;
    return buildIniPathFor(folder, out, modulePath, suffix);
}

double readSettingsDouble(const char* key, double def, const char* iniFile)
{
    if (!key || !iniFile)
        return def;
    const std::optional<std::string> value = plat::iniRead(iniFile, "Settings", key);
    if (!value || value->empty())
        return def;
    std::string_view text(*value);
    return plat::takeDouble(text).value_or(0.0);
}

const char* formatLastError(char* buf)
{
    const int code = errno;
    char text[256];
    std::snprintf(text, sizeof text, "%s (%u)", plat::systemErrorText(code).c_str(), static_cast<unsigned>(code));
    plat::copyText(buf, 256, text);
    return buf;
}

bool skipBlanks(FILE* f)
{
    if (!f)
        return false;
    for (;;) {
        const int c = std::fgetc(f);
        if (c == EOF)
            return false;
        if (c != ' ' && c != '\t' && c != '\n' && c != '\r') {
            std::ungetc(c, f);
            return true;
        }
    }
}
