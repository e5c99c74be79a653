// Profile strings: reading and rewriting ini files line by line, keeping every line we do not change.
#include "platform/ini.h"

#include "platform/file_read.h"
#include "platform/file_write.h"
#include "platform/numbers.h"
#include "platform/syserror.h"
#include "platform/text_copy.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace plat {

namespace {

// Guards every read and write of an ini file through this layer; nothing else is called while held
// except the file system.
std::mutex iniMutex;

// An ini file larger than this is not an ini file: it reads as empty and is never replaced.
constexpr size_t kMaxIniBytes = kMaxInputFileBytes;

// Line end of lines that this layer adds.
constexpr const char* kNewLineEnd = "\n";

enum class LineKind { Other, Section, Key };

struct Line {
    std::string text;    // without its line end
    std::string eol;     // "\n", "\r\n" or "" (last line of a file without final line end)
    LineKind kind = LineKind::Other;
    std::string name;    // section name or key name, blanks trimmed
    size_t valueStart = 0; // Key: offset of the value in text (after '=' and the blanks that follow)
};

using Lines = std::vector<Line>;

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view trim(std::string_view s)
{
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

char lowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool sameName(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (lowerAscii(a[i]) != lowerAscii(b[i]))
            return false;
    return true;
}

// One pair of enclosing quotes ("..." or '...') is removed.
std::string_view unquote(std::string_view v)
{
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        return v.substr(1, v.size() - 2);
    return v;
}

// The text to write for a value so that reading gives it back unchanged: a value that reading would
// trim or unquote is enclosed in double quotes.
std::string encodeValue(std::string_view value)
{
    const bool altered =
        !value.empty() && (trim(value).size() != value.size() || unquote(value).size() != value.size());
    return altered ? "\"" + std::string(value) + "\"" : std::string(value);
}

void classify(Line& line, size_t skip)
{
    const std::string_view text = std::string_view(line.text).substr(skip);
    const std::string_view body = trim(text);
    if (body.empty() || body.front() == ';')
        return;
    if (body.front() == '[') {
        std::string_view name = body.substr(1);
        const size_t close = name.find(']');
        if (close != std::string_view::npos)
            name = name.substr(0, close);
        line.kind = LineKind::Section;
        line.name = std::string(trim(name));
        return;
    }
    const size_t eq = text.find('=');
    if (eq == std::string_view::npos)
        return;
    const std::string_view key = trim(text.substr(0, eq));
    if (key.empty())
        return;
    size_t start = eq + 1;
    while (start < text.size() && isBlank(text[start]))
        ++start;
    line.kind = LineKind::Key;
    line.name = std::string(key);
    line.valueStart = skip + start;
}

Lines parse(const std::string& content)
{
    Lines lines;
    size_t pos = 0;
    while (pos < content.size()) {
        const size_t nl = content.find('\n', pos);
        Line line;
        if (nl == std::string::npos) {
            line.text = content.substr(pos);
            pos = content.size();
        } else {
            const bool crlf = nl > pos && content[nl - 1] == '\r';
            line.text = content.substr(pos, nl - pos - (crlf ? 1 : 0));
            line.eol = crlf ? "\r\n" : "\n";
            pos = nl + 1;
        }
        // A UTF-8 byte order mark stays in the file but is no part of the first line's meaning.
        const size_t skip = (lines.empty() && line.text.compare(0, 3, "\xEF\xBB\xBF") == 0) ? 3 : 0;
        classify(line, skip);
        lines.push_back(std::move(line));
    }
    return lines;
}

std::string serialize(const Lines& lines)
{
    std::string out;
    for (const Line& line : lines) {
        out += line.text;
        out += line.eol;
    }
    return out;
}

std::string valueOf(const Line& line)
{
    return std::string(unquote(trim(std::string_view(line.text).substr(line.valueStart))));
}

// The lines of a file for reading: a missing or unreadable file reads as empty.
Lines loadForRead(const std::string& file)
{
    std::string content;
    if (readRegularFile(file, content, nullptr, kMaxIniBytes) != ReadOutcome::Ok)
        return {};
    return parse(content);
}

// Index of the first section header of that name, or lines.size().
size_t findSection(const Lines& lines, std::string_view section)
{
    for (size_t i = 0; i < lines.size(); ++i)
        if (lines[i].kind == LineKind::Section && sameName(lines[i].name, section))
            return i;
    return lines.size();
}

// One past the last line of the section whose header is at index header.
size_t sectionEnd(const Lines& lines, size_t header)
{
    size_t i = header + 1;
    while (i < lines.size() && lines[i].kind != LineKind::Section)
        ++i;
    return i;
}

// Index of the first key of that name in the section, or lines.size().
size_t findKey(const Lines& lines, size_t header, std::string_view key)
{
    const size_t end = sectionEnd(lines, header);
    for (size_t i = header + 1; i < end; ++i)
        if (lines[i].kind == LineKind::Key && sameName(lines[i].name, key))
            return i;
    return lines.size();
}

// Where new lines of the section go: after its last non-blank line, so that blank lines separating it
// from the next section stay after it.
size_t insertionPoint(const Lines& lines, size_t header)
{
    const size_t end = sectionEnd(lines, header);
    size_t at = header + 1;
    for (size_t i = header + 1; i < end; ++i)
        if (!trim(lines[i].text).empty())
            at = i + 1;
    return at;
}

Line makeLine(std::string text)
{
    Line line;
    line.text = std::move(text);
    line.eol = kNewLineEnd;
    classify(line, 0);
    return line;
}

// Inserts new lines at index at; a line before them that ended the file without line end gets one.
void insertLines(Lines& lines, size_t at, std::vector<Line> added)
{
    if (added.empty())
        return;
    if (at > 0 && lines[at - 1].eol.empty())
        lines[at - 1].eol = kNewLineEnd;
    lines.insert(lines.begin() + static_cast<ptrdiff_t>(at), std::make_move_iterator(added.begin()),
                 std::make_move_iterator(added.end()));
}

std::vector<std::string> uniqueNames(const Lines& lines, size_t first, size_t end, LineKind kind)
{
    std::vector<std::string> names;
    for (size_t i = first; i < end; ++i) {
        if (lines[i].kind != kind)
            continue;
        bool seen = false;
        for (const std::string& n : names)
            seen = seen || sameName(n, lines[i].name);
        if (!seen)
            names.push_back(lines[i].name);
    }
    return names;
}

std::vector<std::string> sectionNames(const Lines& lines)
{
    return uniqueNames(lines, 0, lines.size(), LineKind::Section);
}

std::vector<std::string> keyNames(const Lines& lines, std::string_view section)
{
    const size_t header = findSection(lines, section);
    if (header == lines.size())
        return {};
    return uniqueNames(lines, header + 1, sectionEnd(lines, header), LineKind::Key);
}

// Copies names as a double-zero-terminated list. When it does not fit, the list is cut, ends with two
// zeros and size - 2 is returned, as the profile-string call does.
uint32_t copyList(const std::vector<std::string>& names, char* out, uint32_t size)
{
    if (size < 2) {
        out[0] = '\0';
        return 0;
    }
    std::string packed;
    for (const std::string& n : names) {
        packed += n;
        packed += '\0';
    }
    if (packed.size() + 1 <= size) {
        std::memcpy(out, packed.data(), packed.size());
        out[packed.size()] = '\0';
        if (packed.empty() && size > 1)
            out[1] = '\0';
        return static_cast<uint32_t>(packed.size());
    }
    std::memcpy(out, packed.data(), size - 2);
    out[size - 2] = '\0';
    out[size - 1] = '\0';
    return size - 2;
}

void setError(std::string* errorText, std::string text)
{
    if (errorText)
        *errorText = std::move(text);
}

bool hasLineBreak(std::string_view s)
{
    return s.find_first_of("\r\n") != std::string_view::npos;
}

// Section and key names that a line can hold and that reading finds again; empty when acceptable.
std::string checkSection(std::string_view section)
{
    if (trim(section).empty())
        return "An ini section name must not be empty";
    if (hasLineBreak(section) || section.find(']') != std::string_view::npos)
        return "The ini section name \"" + std::string(section) + "\" holds a line break or ']'";
    return {};
}

std::string checkKey(std::string_view key, std::string_view section)
{
    const std::string_view k = trim(key);
    if (k.empty())
        return "An ini key name in section [" + std::string(section) + "] must not be empty";
    if (hasLineBreak(key) || key.find('=') != std::string_view::npos || k.front() == '[' || k.front() == ';')
        return "The ini key name \"" + std::string(key) + "\" in section [" + std::string(section) +
               "] holds a line break or '=', or begins with '[' or ';'";
    return {};
}

std::string checkValue(std::string_view value, std::string_view key, std::string_view section)
{
    if (hasLineBreak(value))
        return "The value of key \"" + std::string(key) + "\" in section [" + std::string(section) +
               "] holds a line break, which an ini line cannot store";
    return {};
}

// Reads the file, lets change edit its lines, and writes it back when change reports a change.
int modifyFile(const std::string& file, std::string* errorText, const std::function<bool(Lines&)>& change)
{
    std::lock_guard<std::mutex> guard(iniMutex);
    std::string content;
    std::string readError;
    const ReadOutcome read = readRegularFile(file, content, &readError, kMaxIniBytes);
    if (read != ReadOutcome::Ok && read != ReadOutcome::Missing) {
        readError.pop_back(); // the full stop
        setError(errorText, readError + "; the file is left unchanged.");
        return -5;
    }
    Lines lines = parse(content);
    if (!change(lines))
        return 0;
    const std::string text = serialize(lines);
    return replaceFile(file, text.data(), text.size(), errorText);
}

} // namespace

std::optional<std::string> iniRead(const std::string& file, const std::string& section, const std::string& key)
{
    std::lock_guard<std::mutex> guard(iniMutex);
    const Lines lines = loadForRead(file);
    const size_t header = findSection(lines, trim(section));
    if (header == lines.size())
        return std::nullopt;
    const size_t at = findKey(lines, header, trim(key));
    if (at == lines.size())
        return std::nullopt;
    return valueOf(lines[at]);
}

uint32_t getProfileString(const char* section, const char* key, const char* def, char* out, uint32_t size,
                          const char* file)
{
    if (!out || size == 0)
        return 0;
    if (!section || !key) {
        std::vector<std::string> names;
        if (file) {
            std::lock_guard<std::mutex> guard(iniMutex);
            const Lines lines = loadForRead(file);
            names = section ? keyNames(lines, trim(section)) : sectionNames(lines);
        }
        return copyList(names, out, size);
    }
    std::optional<std::string> value;
    if (file)
        value = iniRead(file, section, key);
    if (value)
        return static_cast<uint32_t>(copyText(out, size, *value));
    // The default loses its trailing blanks, as with the profile-string call.
    std::string_view fallback = def ? def : "";
    while (!fallback.empty() && isBlank(fallback.back()))
        fallback.remove_suffix(1);
    return static_cast<uint32_t>(copyText(out, size, fallback));
}

int getProfileInt(const char* section, const char* key, int def, const char* file)
{
    if (!section || !key || !file)
        return def;
    const std::optional<std::string> value = iniRead(file, section, key);
    if (!value)
        return def;
    std::string_view text = *value;
    const std::optional<int64_t> number = takeInt64(text);
    if (!number || *number < INT_MIN || *number > INT_MAX)
        return def;
    return static_cast<int>(*number);
}

std::vector<std::string> iniSections(const std::string& file)
{
    std::lock_guard<std::mutex> guard(iniMutex);
    return sectionNames(loadForRead(file));
}

std::vector<std::string> iniKeys(const std::string& file, const std::string& section)
{
    std::lock_guard<std::mutex> guard(iniMutex);
    return keyNames(loadForRead(file), trim(section));
}

std::vector<std::pair<std::string, std::string>> iniSectionEntries(const std::string& file,
                                                                  const std::string& section)
{
    std::lock_guard<std::mutex> guard(iniMutex);
    const Lines lines = loadForRead(file);
    std::vector<std::pair<std::string, std::string>> entries;
    const size_t header = findSection(lines, trim(section));
    if (header == lines.size())
        return entries;
    const size_t end = sectionEnd(lines, header);
    for (size_t i = header + 1; i < end; ++i)
        if (lines[i].kind == LineKind::Key)
            entries.emplace_back(lines[i].name, valueOf(lines[i]));
    return entries;
}

int writeProfileString(const char* section, const char* key, const char* value, const char* file,
                       std::string* errorText)
{
    if (!file || !*file) {
        setError(errorText, "No ini file name given");
        return -2;
    }
    if (!section) {
        setError(errorText, "No ini section name given for file \"" + std::string(file) + "\"");
        return -2;
    }
    std::string problem = checkSection(section);
    if (problem.empty() && key)
        problem = checkKey(key, section);
    if (problem.empty() && key && value)
        problem = checkValue(value, key, section);
    if (!problem.empty()) {
        setError(errorText, problem + "; file \"" + file + "\" is left unchanged.");
        return -2;
    }
    const std::string sectionName(trim(section));
    const std::string keyName = key ? std::string(trim(key)) : std::string();

    return modifyFile(file, errorText, [&](Lines& lines) {
        const size_t header = findSection(lines, sectionName);
        if (!key) { // delete the section
            if (header == lines.size())
                return false;
            lines.erase(lines.begin() + static_cast<ptrdiff_t>(header),
                        lines.begin() + static_cast<ptrdiff_t>(sectionEnd(lines, header)));
            return true;
        }
        const size_t at = header == lines.size() ? lines.size() : findKey(lines, header, keyName);
        if (!value) { // delete the key
            if (at == lines.size())
                return false;
            lines.erase(lines.begin() + static_cast<ptrdiff_t>(at));
            return true;
        }
        const std::string encoded = encodeValue(value);
        if (at != lines.size()) { // replace the value, keeping the key as written and the line end
            Line& line = lines[at];
            std::string text = line.text.substr(0, line.valueStart) + encoded;
            if (text == line.text)
                return false;
            line.text = std::move(text);
            return true;
        }
        std::vector<Line> added;
        size_t where = lines.size();
        if (header == lines.size())
            added.push_back(makeLine("[" + sectionName + "]"));
        else
            where = insertionPoint(lines, header);
        added.push_back(makeLine(keyName + "=" + encoded));
        insertLines(lines, where, std::move(added));
        return true;
    });
}

int iniWriteSection(const std::string& file, const std::string& section,
                    const std::vector<std::pair<std::string, std::string>>& entries, std::string* errorText)
{
    std::string problem = checkSection(section);
    for (size_t i = 0; problem.empty() && i < entries.size(); ++i) {
        problem = checkKey(entries[i].first, section);
        if (problem.empty())
            problem = checkValue(entries[i].second, entries[i].first, section);
    }
    if (!problem.empty()) {
        setError(errorText, problem + "; file \"" + file + "\" is left unchanged.");
        return -2;
    }
    const std::string sectionName(trim(section));

    return modifyFile(file, errorText, [&](Lines& lines) {
        std::vector<Line> added;
        size_t header = findSection(lines, sectionName);
        if (header == lines.size()) {
            added.push_back(makeLine("[" + sectionName + "]"));
        } else {
            // The old entries and comments go; blank lines that separate it from the next section stay.
            const size_t from = header + 1;
            const size_t to = insertionPoint(lines, header);
            lines.erase(lines.begin() + static_cast<ptrdiff_t>(from), lines.begin() + static_cast<ptrdiff_t>(to));
        }
        for (const auto& [k, v] : entries)
            added.push_back(makeLine(std::string(trim(k)) + "=" + encodeValue(v)));
        insertLines(lines, header == lines.size() ? lines.size() : header + 1, std::move(added));
        return true;
    });
}

std::mutex& iniFileMutex()
{
    return iniMutex;
}

} // namespace plat
