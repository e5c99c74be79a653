// Profile strings: reading and rewriting ini files line by line, keeping every line we do not change.
#include "platform/ini.h"

#include "platform/file_read.h"
#include "platform/file_write.h"
#include "platform/numbers.h"
#include "platform/syserror.h"
#include "platform/text_copy.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <unordered_map>
#include <unordered_set>
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

// What a line is: offsets are into the line's text (without its line end); skip bytes at its start are
// no part of its meaning (a byte order mark).
struct LineClass {
    LineKind kind = LineKind::Other;
    size_t nameBegin = 0;
    size_t nameLength = 0;
    size_t valueStart = 0; // Key: offset of the value (after '=' and the blanks that follow)
};

LineClass classifyText(std::string_view line, size_t skip)
{
    LineClass c;
    const std::string_view text = line.substr(skip);
    const std::string_view body = trim(text);
    if (body.empty() || body.front() == ';')
        return c;
    std::string_view name;
    if (body.front() == '[') {
        name = body.substr(1);
        const size_t close = name.find(']');
        if (close != std::string_view::npos)
            name = name.substr(0, close);
        name = trim(name);
        c.kind = LineKind::Section;
    } else {
        const size_t eq = text.find('=');
        if (eq == std::string_view::npos)
            return c;
        name = trim(text.substr(0, eq));
        if (name.empty())
            return c;
        size_t start = eq + 1;
        while (start < text.size() && isBlank(text[start]))
            ++start;
        c.kind = LineKind::Key;
        c.valueStart = skip + start;
    }
    c.nameBegin = static_cast<size_t>(name.data() - line.data());
    c.nameLength = name.size();
    return c;
}

// Length of the byte order mark that starts content, or 0.
size_t byteOrderMark(std::string_view content)
{
    return content.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0;
}

// ---- The parsed form kept for reading ----
//
// A file is parsed once into its section headers and keys (offsets into its text, so a key costs a few
// bytes beyond its own) and kept until it changes. Whether it changed is told by the file's identity
// (device, inode, size, modification and change time in nanoseconds) and, while that identity is too
// recent to be trusted, by its bytes: a file rewritten in place within the time-stamp granularity keeps
// its identity, so a cached file whose change time lies less than kRacyMargin before the moment its bytes
// were last seen is read again and compared on every access. Writes of this process drop their file.

// Offsets fit 32 bits: no file above the 64 MiB cap is parsed.
static_assert(kMaxIniBytes <= UINT32_MAX);

struct Item {
    uint32_t lineBegin;  // offset of the line in the content
    uint32_t nameBegin;  // offset of the name (blanks trimmed) in the content
    uint32_t nameLength;
    uint32_t value;      // Key: offset of the value; Section: index of the next section's item (its end)
    uint32_t lineEnd;    // end of the line's text (before its line end)
    LineKind kind;
};

// A name's hash (lower-cased, as names match) with the index of its item; sorted by hash, then index.
struct Ref {
    uint64_t hash;
    uint32_t item;
    bool operator<(const Ref& o) const { return hash != o.hash ? hash < o.hash : item < o.item; }
};

uint64_t nameHash(std::string_view name)
{
    uint64_t h = 14695981039346656037ull; // FNV-1a
    for (char c : name)
        h = (h ^ static_cast<unsigned char>(lowerAscii(c))) * 1099511628211ull;
    return h;
}

uint64_t keyHash(uint64_t section, std::string_view key)
{
    return (section * 0x9E3779B97F4A7C15ull) ^ nameHash(key);
}

struct Parsed {
    std::string content;
    std::vector<Item> items;  // section headers, and the keys that follow the first header, in file order
    std::vector<Ref> sections; // every header
    std::vector<Ref> keys;     // every key by (its section's name, its name); built on the first key lookup
    bool keysIndexed = false;

    std::string_view name(uint32_t i) const
    {
        return std::string_view(content).substr(items[i].nameBegin, items[i].nameLength);
    }
    std::string value(uint32_t i) const
    {
        const Item& it = items[i];
        return std::string(unquote(trim(std::string_view(content).substr(it.value, it.lineEnd - it.value))));
    }
    size_t bytes() const
    {
        return content.capacity() + items.capacity() * sizeof(Item) +
               (sections.capacity() + keys.capacity()) * sizeof(Ref);
    }
};

Parsed parseForRead(std::string content)
{
    Parsed p;
    p.content = std::move(content);
    const std::string_view all = p.content;
    // Room for every line at once: no copy of a large table while it grows.
    size_t lines = 1;
    for (const char* c = all.data(); (c = static_cast<const char*>(std::memchr(c, '\n', all.data() + all.size() - c)));
         ++c)
        ++lines;
    p.items.reserve(lines);
    uint32_t openSection = UINT32_MAX;
    size_t pos = 0;
    while (pos < all.size()) {
        size_t nl = all.find('\n', pos);
        size_t next = nl + 1;
        if (nl == std::string_view::npos)
            nl = next = all.size();
        else if (nl > pos && all[nl - 1] == '\r')
            --nl;
        const std::string_view line = all.substr(pos, nl - pos);
        const LineClass c = classifyText(line, pos == 0 ? byteOrderMark(line) : 0);
        if (c.kind == LineKind::Section || (c.kind == LineKind::Key && openSection != UINT32_MAX)) {
            const auto index = static_cast<uint32_t>(p.items.size());
            if (c.kind == LineKind::Section) {
                if (openSection != UINT32_MAX)
                    p.items[openSection].value = index;
                openSection = index;
                p.sections.push_back({nameHash(line.substr(c.nameBegin, c.nameLength)), index});
            }
            p.items.push_back({static_cast<uint32_t>(pos), static_cast<uint32_t>(pos + c.nameBegin),
                               static_cast<uint32_t>(c.nameLength),
                               static_cast<uint32_t>(pos + c.valueStart), static_cast<uint32_t>(nl), c.kind});
        }
        pos = next;
    }
    if (openSection != UINT32_MAX)
        p.items[openSection].value = static_cast<uint32_t>(p.items.size());
    std::sort(p.sections.begin(), p.sections.end());
    return p;
}

// Index of the first header of that name, or UINT32_MAX.
uint32_t findSection(const Parsed& p, std::string_view section)
{
    const uint64_t h = nameHash(section);
    for (auto it = std::lower_bound(p.sections.begin(), p.sections.end(), Ref{h, 0});
         it != p.sections.end() && it->hash == h; ++it)
        if (sameName(p.name(it->item), section))
            return it->item;
    return UINT32_MAX;
}

void indexKeys(Parsed& p)
{
    uint64_t section = 0;
    size_t count = 0;
    for (const Item& it : p.items)
        count += it.kind == LineKind::Key;
    p.keys.reserve(count);
    for (uint32_t i = 0; i < p.items.size(); ++i) {
        if (p.items[i].kind == LineKind::Section)
            section = nameHash(p.name(i));
        else
            p.keys.push_back({keyHash(section, p.name(i)), i});
    }
    std::sort(p.keys.begin(), p.keys.end());
    p.keysIndexed = true;
}

// Index of the first key of that name in the first section of that name, or UINT32_MAX.
uint32_t findKey(Parsed& p, std::string_view section, std::string_view key)
{
    const uint32_t header = findSection(p, section);
    if (header == UINT32_MAX)
        return UINT32_MAX;
    if (!p.keysIndexed)
        indexKeys(p);
    const uint32_t end = p.items[header].value;
    const uint64_t h = keyHash(nameHash(section), key);
    for (auto it = std::lower_bound(p.keys.begin(), p.keys.end(), Ref{h, header});
         it != p.keys.end() && it->hash == h && it->item < end; ++it)
        if (sameName(p.name(it->item), key))
            return it->item;
    return UINT32_MAX;
}

// Names of the items of one kind in [first, end), each once (first spelling), in file order.
std::vector<std::string> uniqueNames(const Parsed& p, uint32_t first, uint32_t end, LineKind kind)
{
    std::vector<std::string> names;
    std::unordered_set<std::string> seen;
    for (uint32_t i = first; i < end; ++i) {
        if (p.items[i].kind != kind)
            continue;
        std::string lower(p.name(i));
        for (char& c : lower)
            c = lowerAscii(c);
        if (seen.insert(std::move(lower)).second)
            names.emplace_back(p.name(i));
    }
    return names;
}

std::vector<std::string> sectionNames(const Parsed& p)
{
    return uniqueNames(p, 0, static_cast<uint32_t>(p.items.size()), LineKind::Section);
}

std::vector<std::string> keyNames(const Parsed& p, std::string_view section)
{
    const uint32_t header = findSection(p, section);
    if (header == UINT32_MAX)
        return {};
    return uniqueNames(p, header + 1, p.items[header].value, LineKind::Key);
}

// A file's identity: what changes when its bytes may have changed.
struct FileId {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
    timespec changed{};
};

bool operator==(const timespec& a, const timespec& b)
{
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

bool operator==(const FileId& a, const FileId& b)
{
    return a.device == b.device && a.inode == b.inode && a.size == b.size && a.modified == b.modified &&
           a.changed == b.changed;
}

FileId fileId(const struct stat& st)
{
    return {st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};
}

// A change time at least this far before the moment the bytes were seen is trusted to reveal any later
// write: it is above the time-stamp granularity of the file systems in use (2 s on the coarsest).
constexpr int64_t kRacyMarginNs = 3'000'000'000;

int64_t nanoseconds(const timespec& t)
{
    return static_cast<int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

timespec wallClock()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return now;
}

struct CachedFile {
    FileId id;
    timespec seen{}; // wall-clock time before id was taken and the bytes read
    uint64_t lastUse = 0;
    Parsed parsed;
};

// Cached files by the name they were read under (each entry proves itself by its identity on use).
// Guarded by iniMutex.
std::unordered_map<std::string, CachedFile> cache;
uint64_t useCounter = 0;

// The cache keeps at most this many files and, beyond the file in use, this many bytes.
constexpr size_t kCacheFiles = 32;
constexpr size_t kCacheBytes = size_t(256) << 20;

void trimCache(const std::string& keep)
{
    size_t bytes = 0;
    for (const auto& [name, entry] : cache)
        bytes += entry.parsed.bytes();
    while (cache.size() > 1 && (cache.size() > kCacheFiles || bytes > kCacheBytes)) {
        auto oldest = cache.end();
        for (auto it = cache.begin(); it != cache.end(); ++it)
            if (it->first != keep && (oldest == cache.end() || it->second.lastUse < oldest->second.lastUse))
                oldest = it;
        bytes -= oldest->second.parsed.bytes();
        cache.erase(oldest);
    }
}

// Whether the rest of fd's bytes (from its current offset) are exactly expected; reads in pieces, so
// that a large file is compared without a second copy of it.
bool sameBytes(int fd, std::string_view expected)
{
    char piece[1 << 16];
    size_t at = 0;
    for (;;) {
        const ssize_t n = ::read(fd, piece, sizeof piece);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            return at == expected.size();
        if (static_cast<size_t>(n) > expected.size() - at || std::memcmp(piece, expected.data() + at, n) != 0)
            return false;
        at += static_cast<size_t>(n);
    }
}

// The whole of fd (size bytes expected) into content; false when it cannot be read or is larger than
// the cap. Reads one byte beyond the expected size to see a file that grew meanwhile.
bool readWhole(int fd, size_t size, std::string& content)
{
    content.resize(std::min(size, kMaxIniBytes) + 1);
    size_t have = 0;
    for (;;) {
        if (have == content.size()) {
            if (have > kMaxIniBytes)
                return false;
            content.resize(std::min(kMaxIniBytes + 1, have + std::max<size_t>(have / 2, 65536)));
        }
        const ssize_t n = ::read(fd, content.data() + have, content.size() - have);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            break;
        have += static_cast<size_t>(n);
    }
    content.resize(have);
    return have <= kMaxIniBytes;
}

// The parsed file for reading (iniMutex held): a missing or unreadable file reads as empty (null).
Parsed* parsedFile(const std::string& file)
{
    const timespec now = wallClock();
    auto cached = cache.find(file);
    const auto forget = [&]() -> Parsed* {
        if (cached != cache.end())
            cache.erase(cached);
        return nullptr;
    };
    struct stat st{};
    if (::stat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || static_cast<uint64_t>(st.st_size) > kMaxIniBytes)
        return forget();
    if (cached != cache.end() && cached->second.id == fileId(st) &&
        nanoseconds(st.st_ctim) + kRacyMarginNs < nanoseconds(cached->second.seen)) {
        cached->second.lastUse = ++useCounter;
        return &cached->second.parsed;
    }
    // The identity is taken from the opened file before its bytes are read, so that a later change
    // always shows as a different identity.
    const int fd = openRegularFile(file);
    if (fd < 0)
        return forget();
    bool same = false;
    std::string content;
    bool read = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (read && cached != cache.end() && static_cast<size_t>(st.st_size) == cached->second.parsed.content.size()) {
        same = sameBytes(fd, cached->second.parsed.content);
        read = same || ::lseek(fd, 0, SEEK_SET) == 0;
    }
    if (read && !same)
        read = readWhole(fd, static_cast<size_t>(st.st_size), content);
    ::close(fd);
    if (!read)
        return forget();
    if (!same) {
        forget(); // its memory goes before the new parse takes its own
        cached = cache.emplace(file, CachedFile{{}, {}, 0, parseForRead(std::move(content))}).first;
    }
    cached->second.id = fileId(st);
    cached->second.seen = now;
    cached->second.lastUse = ++useCounter;
    trimCache(file);
    return &cached->second.parsed;
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

// ---- Editing the text of a file ----
//
// A write changes one range of the file's text (a value, a line, a section's lines); everything else
// stays byte for byte, with its line ends.

// Offset of the line after the one that ends at lineEnd (past its line end), or the end of the text.
size_t nextLine(std::string_view text, size_t lineEnd)
{
    const size_t nl = text.find('\n', lineEnd);
    return nl == std::string_view::npos ? text.size() : nl + 1;
}

// Offset where the section whose header is item header ends: the next header's line, or the end.
size_t sectionEndOffset(const Parsed& p, uint32_t header)
{
    const uint32_t next = p.items[header].value;
    return next < p.items.size() ? p.items[next].lineBegin : p.content.size();
}

// Where new lines of the section go: after its last non-blank line, so that blank lines separating it
// from the next section stay after it.
size_t insertionOffset(const Parsed& p, uint32_t header)
{
    const std::string_view text = p.content;
    const size_t end = sectionEndOffset(p, header);
    size_t at = nextLine(text, p.items[header].lineEnd);
    for (size_t pos = at; pos < end;) {
        const size_t next = nextLine(text, pos);
        std::string_view line = text.substr(pos, next - pos);
        if (!line.empty() && line.back() == '\n')
            line.remove_suffix(1);
        if (!trim(line).empty())
            at = next;
        pos = next;
    }
    return at;
}

// The first key of that name in the section whose header is item header, or UINT32_MAX (a scan: a
// write needs no index).
uint32_t findKeyIn(const Parsed& p, uint32_t header, std::string_view key)
{
    for (uint32_t i = header + 1; i < p.items[header].value; ++i)
        if (sameName(p.name(i), key))
            return i;
    return UINT32_MAX;
}

// Replaces [from, to) of the text by lines (each ended by a line end), or inserts them at from when to is
// not given; a line before them that ended the text without line end gets one.
void spliceLines(std::string& text, size_t from, std::optional<size_t> to, std::string lines)
{
    if (!lines.empty() && from > 0 && from == text.size() && text.back() != '\n')
        lines.insert(0, kNewLineEnd);
    text.replace(from, to.value_or(from) - from, lines);
}

// Reads the file, lets change edit its text, and writes it back when change reports a change.
int modifyFile(const std::string& file, std::string* errorText, const std::function<bool(Parsed&)>& change)
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
    Parsed parsed = parseForRead(std::move(content));
    if (!change(parsed))
        return 0;
    cache.erase(file); // written or not, the next read looks at the file again
    return replaceFile(file, parsed.content.data(), parsed.content.size(), errorText);
}

} // namespace

std::optional<std::string> iniRead(const std::string& file, const std::string& section, const std::string& key)
{
    std::lock_guard<std::mutex> guard(iniMutex);
    Parsed* parsed = parsedFile(file);
    if (!parsed)
        return std::nullopt;
    const uint32_t at = findKey(*parsed, trim(section), trim(key));
    if (at == UINT32_MAX)
        return std::nullopt;
    return parsed->value(at);
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
            if (const Parsed* parsed = parsedFile(file))
                names = section ? keyNames(*parsed, trim(section)) : sectionNames(*parsed);
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
    const Parsed* parsed = parsedFile(file);
    return parsed ? sectionNames(*parsed) : std::vector<std::string>{};
}

std::vector<std::string> iniKeys(const std::string& file, const std::string& section)
{
    std::lock_guard<std::mutex> guard(iniMutex);
    const Parsed* parsed = parsedFile(file);
    return parsed ? keyNames(*parsed, trim(section)) : std::vector<std::string>{};
}

std::vector<std::pair<std::string, std::string>> iniSectionEntries(const std::string& file,
                                                                  const std::string& section)
{
    std::lock_guard<std::mutex> guard(iniMutex);
    std::vector<std::pair<std::string, std::string>> entries;
    const Parsed* parsed = parsedFile(file);
    const uint32_t header = parsed ? findSection(*parsed, trim(section)) : UINT32_MAX;
    if (header == UINT32_MAX)
        return entries;
    for (uint32_t i = header + 1; i < parsed->items[header].value; ++i)
        entries.emplace_back(parsed->name(i), parsed->value(i));
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

    return modifyFile(file, errorText, [&](Parsed& p) {
        std::string& text = p.content;
        const uint32_t header = findSection(p, sectionName);
        if (!key) { // delete the section
            if (header == UINT32_MAX)
                return false;
            text.erase(p.items[header].lineBegin, sectionEndOffset(p, header) - p.items[header].lineBegin);
            return true;
        }
        const uint32_t at = header == UINT32_MAX ? UINT32_MAX : findKeyIn(p, header, keyName);
        if (!value) { // delete the key
            if (at == UINT32_MAX)
                return false;
            const Item& line = p.items[at];
            text.erase(line.lineBegin, nextLine(text, line.lineEnd) - line.lineBegin);
            return true;
        }
        const std::string encoded = encodeValue(value);
        if (at != UINT32_MAX) { // replace the value, keeping the key as written and the line end
            const Item& line = p.items[at];
            if (std::string_view(text).substr(line.value, line.lineEnd - line.value) == encoded)
                return false;
            text.replace(line.value, line.lineEnd - line.value, encoded);
            return true;
        }
        const std::string entry = keyName + "=" + encoded + kNewLineEnd;
        if (header == UINT32_MAX)
            spliceLines(text, text.size(), std::nullopt, "[" + sectionName + "]" + kNewLineEnd + entry);
        else
            spliceLines(text, insertionOffset(p, header), std::nullopt, entry);
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

    return modifyFile(file, errorText, [&](Parsed& p) {
        std::string& text = p.content;
        std::string lines;
        for (const auto& [k, v] : entries)
            lines += std::string(trim(k)) + "=" + encodeValue(v) + kNewLineEnd;
        const uint32_t header = findSection(p, sectionName);
        if (header == UINT32_MAX) {
            spliceLines(text, text.size(), std::nullopt, "[" + sectionName + "]" + kNewLineEnd + lines);
            return true;
        }
        // The old entries and comments go; blank lines that separate it from the next section stay.
        const size_t from = nextLine(text, p.items[header].lineEnd);
        spliceLines(text, from, insertionOffset(p, header), std::move(lines));
        return true;
    });
}

std::mutex& iniFileMutex()
{
    return iniMutex;
}

} // namespace plat
