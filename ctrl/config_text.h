// Reading the sectioned "key:value" text of chip configuration (".tcf") and DAC (".dacs") files.
//
// A file is read whole and kept as it is (no copy per line: a reader holds little more than the file). A key is looked up in the first section of its name only ("[name]" at the start of a
// line, up to the next line that starts with '['); the first line there that starts with the key, a colon and
// a readable value gives the value. A blank in a key matches any run of blanks in the line, including none.
// Lines may end in LF or CR LF. Numbers are read independently of the locale.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class ConfigText {
public:
    // Reads the file: a regular file (or a link to one) of at most 64 MB. False when it cannot be opened
    // or read, is no regular file or is larger (errorText: the reason, e.g. "No such file or directory").
    bool load(const std::string& path, std::string* errorText = nullptr);
    void setText(std::string text);
    const std::string& path() const { return path_; } // of the file loaded last; empty after setText
    // Whether a line starts with "[section]", as the lookup finds a section.
    bool hasSection(std::string_view section) const;

    std::optional<int> findInt(std::string_view section, std::string_view key) const;
    std::optional<double> findDouble(std::string_view section, std::string_view key) const; // finite only
    // The rest of the line after the colon, at most maxLength characters; none when empty.
    std::optional<std::string> findRest(std::string_view section, std::string_view key, size_t maxLength) const;

private:
    struct Range {
        std::string section;
        bool found;   // a line starts with the header
        size_t begin; // the first line after the header
        size_t end;   // the start of the next line that starts with '[', or the end of the text
    };
    // The lines of the first section of that name; found once and kept (a few sections are asked for).
    const Range* sectionRange(std::string_view section) const;
    template <class Parse>
    auto find(std::string_view section, std::string_view key, Parse parse) const -> decltype(parse(""));

    std::string path_;
    std::string text_;
    mutable std::vector<Range> ranges_; // sections looked up so far, found or not (not thread-safe)
};

// Text after "key:" at the start of line, or none. A blank in key matches any run of blanks, including none.
std::optional<std::string_view> matchKey(std::string_view line, std::string_view key);

// Section name followed by a number, as "[Chip0]" takes it.
std::string sectionName(std::string_view base, int number);

// Number of decimal digits of n (1 for 0); the width of indexed file names.
int digitCount(uint32_t n);
