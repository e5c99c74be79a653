// Profile strings: ini files with the semantics the suite's files were written for.
// Sections and keys match case-insensitively, the first match wins, a missing key gives the default,
// and a write keeps every unrelated line (comments, blank lines, other sections) byte for byte.
// One process-wide lock serialises every read and write. A write goes to a temporary file in the same
// folder, is flushed and checked, and is renamed over the old file; an existing file that cannot be read
// is never replaced. Readers accept LF and CR LF; writers keep the file's line ends for kept lines and
// write LF for new ones.
// Lines: "[name]" starts a section (blanks around the name ignored); "key = value" is an entry; lines
// starting with ';', lines without '=', and lines before the first section are no entries and are kept
// as they are. A file larger than 64 MiB counts as unreadable.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace plat {

// The value of key in section, or nullopt when the file, the section or the key is missing.
// Blanks around the value are removed, and one pair of enclosing double or single quotes.
std::optional<std::string> iniRead(const std::string& file, const std::string& section, const std::string& key);

// GetPrivateProfileString: copies the value (or def, without its trailing blanks) into out, at most
// size - 1 characters, terminated; returns the number of characters copied. A null key gives the key names
// of the section, a null section the section names (each name once, in file order), each terminated, the
// list ended by a second zero; a list that does not fit is cut, ends with two zeros and returns size - 2.
// A value that does not fit is reported by the return value size - 1, as the Windows call does; callers
// that must not truncate use iniRead.
uint32_t getProfileString(const char* section, const char* key, const char* def, char* out, uint32_t size,
                          const char* file);

// GetPrivateProfileInt: the value read as a decimal integer (leading digits, optional sign); def when the
// key is missing or holds no number or one outside the range of int.
int getProfileInt(const char* section, const char* key, int def, const char* file);

// Names of the sections and of the keys of one section, in file order, each name once (first spelling).
std::vector<std::string> iniSections(const std::string& file);
std::vector<std::string> iniKeys(const std::string& file, const std::string& section);

// All key = value lines of a section in file order (for sections read as lists).
std::vector<std::pair<std::string, std::string>> iniSectionEntries(const std::string& file,
                                                                  const std::string& section);

// Result of a write: 0 success, -2 a name or value that an ini line cannot hold (null or empty section,
// a line break anywhere, ']' in a section name, '=' in a key or a key starting with '[' or ';'),
// -5 the existing file cannot be read, -6 the file cannot be created, -8 a write, flush, close or rename
// failed. On any failure the file is left as it was; errorText (may be null) receives a clear message.
// WritePrivateProfileString: value null deletes the key; key null deletes the whole section (the first
// of that name, with its comments). A changed value keeps its line's key spelling, the blanks around '='
// and the line end; a new key goes after the last non-blank line of its section, a new section at the
// end of the file. A value that reading would change (blanks at its ends, enclosing quotes) is written
// in double quotes, so that it reads back exactly. Deleting what is not there writes nothing.
int writeProfileString(const char* section, const char* key, const char* value, const char* file,
                       std::string* errorText = nullptr);

// Replaces a whole section with the given entries in one write (the section is created when missing):
// its entries, comments and other lines go, the header and the blank lines that end it stay.
int iniWriteSection(const std::string& file, const std::string& section,
                    const std::vector<std::pair<std::string, std::string>>& entries,
                    std::string* errorText = nullptr);

// The process-wide lock of this layer. Code that reads or rewrites an ini file by other means holds it,
// so that its read-modify-write never interleaves with a profile-string write to the same file.
std::mutex& iniFileMutex();

} // namespace plat
