// File and ini helpers of the plug-ins: the settings file of a plug-in, a number from it, the text of
// the last system error, a blank skip for text readers, and the name of the plug-in's own module.
// Free functions without state and without windows; any thread.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

// Size of the path buffers of these helpers, terminating zero included.
constexpr size_t kPluginPathSize = 512;

// File name of the module at modulePath without its folder, and without its extension when the last '.'
// follows the last '/' ("/opt/b.d/tool.so" gives "tool"). Empty for an empty path.
std::string moduleBaseName(std::string_view modulePath);

// The same for the module that holds address (plat::modulePathOf); empty when it cannot be told.
std::string moduleBaseNameOf(const void* address);

// Settings file of a plug-in: folder, one '/', the module's name without extension, "_" and the suffix
// when one is given (made safe for a file name, safeFileNamePart), ".ini". A folder that already ends with
// '/' gets no second one; an empty folder gives the bare name. out (kPluginPathSize characters) is empty
// on failure. Returns 0, or -1 when the module's path cannot be told or the result does not fit.
int buildIniPath(const char* folder, char* out, const void* moduleAddress, const char* suffix);
// The same with the module's path given (what buildIniPath asks of the system).
int buildIniPathFor(const char* folder, char* out, std::string_view modulePath, const char* suffix);

// The value of key in section "Settings" of iniFile as a number: the number at the start of the whole
// text, read the same under every locale ("2.5e3x" gives 2500), 0 when the text starts with none; def
// when the file or the key is missing or the value is empty.
double readSettingsDouble(const char* key, double def, const char* iniFile);

// The calling thread's last system error (errno) as "text (code)" in buf (256 characters, cut to fit);
// returns buf.
const char* formatLastError(char* buf);

// Reads characters up to the first that is not ' ', '\t', '\n' or '\r' and leaves the file positioned at
// it; false at the end of the file.
bool skipBlanks(FILE* f);
