// Description files: the text that goes beside a frame's data file (its name, format, size and the
// frame's attributes), written and read back.
#include <algorithm>
#include <charconv>
#include <cstring>
#include <string_view>
#include <vector>

#include "frame_convert.h"
#include "frame_data_file.h"
#include "platform/file_read.h"
#include "pluginfw/tvk_utils.h"

using frameconv::elementSize;
using namespace framefile;

namespace {

bool isHeaderLine(std::string_view line)
{
    return line.size() >= 6 && line[0] == '"' && line.substr(line.size() - 3) == "\"):" &&
           line.find("\" (\"") != std::string_view::npos;
}

std::string_view lineAt(const std::string& s, size_t p)
{
    const size_t e = s.find('\n', p);
    return std::string_view(s).substr(p, (e == std::string::npos ? s.size() : e) - p);
}

// End of a text value that starts at start and has at most size bytes. The writer ends a value with an
// empty line; a text may itself hold line breaks, so the end is the first empty line that is followed
// by the next attribute block or the end of the file.
size_t textValueEnd(const std::string& s, size_t start, uint64_t size)
{
    const size_t n = s.size();
    const size_t limit = size_t(std::min<uint64_t>(n, start + size));
    for (size_t p = start; p <= limit && p + 1 < n; ++p) {
        if (s[p] != '\n' || s[p + 1] != '\n')
            continue;
        if (p + 2 == n || (s[p + 2] == '"' && isHeaderLine(lineAt(s, p + 2))))
            return p;
    }
    // Tolerate other whitespace between the value and what follows.
    for (size_t p = start; p <= limit; ++p) {
        if (p < n && s[p] != '\n')
            continue;
        size_t q = p;
        while (q < n && isSpace(s[q]))
            ++q;
        if (q == n || (s[q] == '"' && isHeaderLine(lineAt(s, q))))
            return p;
    }
    const size_t e = s.find('\n', start);
    return e == std::string::npos ? n : e;
}

// A decimal number of type T at *p (a leading '+' allowed); *p moves past it.
template <typename T>
bool parseIntField(const std::string& s, size_t* p, T* out)
{
    size_t i = *p;
    if (i < s.size() && s[i] == '+')
        ++i;
    T v = 0;
    auto [end, ec] = std::from_chars(s.data() + i, s.data() + s.size(), v);
    if (ec != std::errc() || end == s.data() + i)
        return false;
    *out = v;
    *p = size_t(end - s.data());
    return true;
}

struct DscHeader {
    std::string dataName;
    uint32_t format = 0;
    uint32_t width = 0;
    uint32_t height = 0;
};

// "Description file for \"<name>\"\nformat = %d width = %u height = %u\n"; blanks between the parts may
// be any whitespace. The name runs to the last quote of its line.
bool parseHeader(const std::string& s, size_t* pos, DscHeader* h)
{
    size_t p = 0;
    auto skip = [&] {
        while (p < s.size() && isSpace(s[p]))
            ++p;
    };
    auto word = [&](std::string_view w) {
        skip();
        if (s.compare(p, w.size(), w) != 0)
            return false;
        p += w.size();
        return true;
    };
    if (!word("Description") || !word("file") || !word("for"))
        return false;
    skip();
    if (p >= s.size() || s[p] != '"')
        return false;
    const std::string_view line = lineAt(s, p);
    const size_t close = line.rfind('"');
    if (close == 0)
        return false;
    h->dataName = std::string(line.substr(1, close - 1));
    p += close + 1;
    int32_t format = 0;
    if (!word("format") || !word("="))
        return false;
    skip();
    if (!parseIntField(s, &p, &format))
        return false;
    h->format = uint32_t(format);
    if (!word("width") || !word("="))
        return false;
    skip();
    if (!parseIntField(s, &p, &h->width))
        return false;
    if (!word("height") || !word("="))
        return false;
    skip();
    if (!parseIntField(s, &p, &h->height))
        return false;
    *pos = p;
    return true;
}

} // namespace

// ---- description file writing and reading ----

int TvkFrameInfo::buildDscText(const std::string& dataFileName, uint32_t flags, std::string* out)
{
    std::string& t = *out;
    t = "Description file for \"" + baseNameOf(dataFileName) + "\"\nformat = " + std::to_string(int32_t(flags)) +
        " width = " + std::to_string(width_) + " height = " + std::to_string(height_) + "\n";
    std::unique_lock<std::recursive_mutex> g(attrLock_);
    for (const auto& [name, a] : attribs_) {
        const int elem = typeElementSize(a->type);
        // A value whose size is no whole number of elements keeps its last bytes: the element they
        // start is written whole, zero-filled.
        const uint64_t count = elem ? (uint64_t(a->size) + uint32_t(elem) - 1) / uint32_t(elem) : 0;
        if (count > uint64_t(INT32_MAX)) {
            g.unlock(); // reported with the attribute lock released
            return failParam("attribute too large for a description file");
        }
        t += '"';
        t += a->name;
        t += "\" (\"";
        t += a->description;
        t += "\"):\n";
        t += typeName(a->type);
        t += '[';
        t += std::to_string(count);
        t += "]\n";
        if (elem && a->size % uint32_t(elem)) {
            std::vector<unsigned char> padded(size_t(count) * size_t(elem), 0);
            std::memcpy(padded.data(), a->data, a->size);
            t += valueToString(a->type, padded.data(), int(count));
        } else {
            t += valueToString(a->type, a->data, int(count));
        }
        t += "\n\n";
    }
    return 0;
}

int TvkFrameInfo::readDscFile(const std::string& path, DscContent* out)
{
    // Read whole, up to the cap of every outside file: a link to a device or a FIFO is refused at open.
    std::string s;
    std::string readText;
    switch (plat::readRegularFile(path, s, &readText)) {
    case plat::ReadOutcome::Ok: break;
    case plat::ReadOutcome::NotRegular:
        return fail(TVK_ERR_OPEN_READ, "Cannot open file \"%s\" for reading: it is not a regular file.", path.c_str());
    case plat::ReadOutcome::TooLarge: return fail(TVK_ERR_READ, "%s", readText.c_str());
    default: {
        // Opened once more for the code and message of the frame files: the open's error, or else
        // (it opens now) the read's.
        FilePtr f;
        Outcome o = openForReading(path, &f);
        if (!o)
            o = readError(path, EIO);
        return fail(o.code, "%s", o.text.c_str());
    }
    }
    {
        size_t w = 0;
        for (size_t r = 0; r < s.size(); ++r)
            if (!(s[r] == '\r' && r + 1 < s.size() && s[r + 1] == '\n'))
                s[w++] = s[r];
        s.resize(w);
    }
    auto formatError = [&](const char* reason) {
        Outcome o = dscFormatError(path, reason);
        return fail(o.code, "%s", o.text.c_str());
    };

    DscHeader header;
    size_t p = 0;
    if (!parseHeader(s, &p, &header))
        return formatError("header reading failed");
    const int type = typeFromBits(header.format);
    const uint64_t pixels = uint64_t(header.width) * header.height;
    if (pixels > kMaxBytes || (type >= 0 && pixels * elementSize(type) > kMaxBytes))
        return formatError("invalid frame size");

    // Attribute values are bounded by what the file can describe, so that a hostile count cannot make
    // us allocate more than a small multiple of the file.
    uint64_t budget = (uint64_t(16) << 20) + uint64_t(16) * s.size();
    std::map<std::string, AttribPtr> attribs;
    const size_t n = s.size();
    for (;;) {
        while (p < n && isSpace(s[p]))
            ++p;
        if (p >= n)
            break;
        const std::string_view head = lineAt(s, p);
        if (!isHeaderLine(head))
            return formatError("invalid format of attribute");
        const size_t nameEnd = head.find('"', 1);
        const size_t descStart = nameEnd + 4;
        if (head.compare(nameEnd, 4, "\" (\"") != 0 || descStart > head.size() - 3)
            return formatError("invalid format of attribute");
        AttribPtr a(new Attrib);
        a->name = std::string(head.substr(1, nameEnd - 1));
        a->description = std::string(head.substr(descStart, head.size() - 3 - descStart));
        p += head.size();
        if (p >= n)
            return formatError("invalid format of attribute");
        ++p; // line end

        const std::string_view typeLine = lineAt(s, p);
        const size_t open = typeLine.find('[');
        if (open == std::string_view::npos || typeLine.size() < open + 3 || typeLine.back() != ']')
            return formatError("invalid format of attribute");
        const std::string typeText(typeLine.substr(0, open));
        int32_t count = 0;
        {
            const std::string_view c = typeLine.substr(open + 1, typeLine.size() - open - 2);
            auto [end, ec] = std::from_chars(c.data(), c.data() + c.size(), count);
            if (ec != std::errc() || end != c.data() + c.size())
                return formatError("invalid format of attribute");
        }
        a->type = typeFromName(typeText.c_str());
        if (a->type < TYPE_BOOL || a->type > TYPE_STRING || count < 0)
            return formatError("Invalid data in desc. file");
        const uint64_t size = uint64_t(typeElementSize(a->type)) * uint64_t(count);
        if (size > kMaxBytes || size > budget)
            return formatError("Invalid data in desc. file");
        budget -= size;
        p += typeLine.size();
        if (p < n)
            ++p;

        const size_t valueEnd = isTextType(a->type) ? textValueEnd(s, p, size) : p + lineAt(s, p).size();
        const std::string value = s.substr(p, valueEnd - p);
        p = valueEnd;

        if (size) {
            a->data = std::calloc(size_t(size), 1);
            if (!a->data) {
                Outcome o = allocError(size + 68);
                return fail(o.code, "%s", o.text.c_str());
            }
        }
        a->size = uint32_t(size);
        if (count >= 1) {
            if (isTextType(a->type))
                std::memcpy(a->data, value.data(), std::min<size_t>(value.size(), size_t(size)));
            else if (textToValue(a->data, value.c_str(), a->type, count) != 0)
                return formatError("Data conversion error in desc. file");
        }
        attribs[a->name] = std::move(a); // a later block of the same name replaces the earlier one
    }

    if (type < 0 && !(header.format & 0xF))
        return fail(TVK_ERR_GENERIC, "Unexpected error during frame operation.");
    out->dataFileName = folderOf(path) + header.dataName;
    out->format = header.format;
    out->width = header.width;
    out->height = header.height;
    out->type = type;
    out->attribs = std::move(attribs);
    return 0;
}
