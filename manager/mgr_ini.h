// The manager's own sections of "tvkmanager.ini": free-form lines, one entry per non-empty line
// ([Plugins], [Filter instances], [Filter chains]). Other sections of the file are left byte for byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Appends the non-empty lines of the first section named exactly "[" + section + "]" to lines and
// returns how many were appended; 0 when the file or the section does not exist. An existing file that
// cannot be read gives -5 (errorText, when not null, says why) and appends nothing, so that the caller
// never takes it for an empty file.
// With rest given, at most maxLines lines are appended; the section's further non-empty lines go to
// *rest, each ended by '\n', so that the caller can write them back unchanged (writeIniSection).
int readIniSection(const std::string& section, const std::string& iniPath, std::vector<std::string>& lines,
                   std::string* errorText = nullptr, size_t maxLines = SIZE_MAX, std::string* rest = nullptr);

// Replaces the first section of that name by the header and lines (the section is appended when
// missing, the file created when it does not exist) through a temporary file and a rename.
// 0; -2 a line holds a line break; -5 the existing file cannot be read; -6 the temporary file cannot be
// created; -8 a write, the close or the rename failed. On failure the file is left as it was.
// rest (lines ended by '\n', as readIniSection gave them) follows the lines as it is.
int writeIniSection(const std::string& iniPath, const std::string& section, const std::vector<std::string>& lines,
                    std::string* errorText = nullptr, std::string_view rest = {});
