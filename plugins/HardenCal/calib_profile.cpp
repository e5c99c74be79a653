// Calibration profiles ("..._calib.txt") and the ASCII matrix files of single points.
//
// A profile is read as a stream, never whole: with many points of a large detector it holds hundreds of
// megabytes. Every size it names is checked against the device before anything is allocated, every
// number must be finite, and the new list is built aside and taken over only when the whole file was
// read. Numbers are written in the shortest form that reads back exactly (plain "%lg" readers read it
// too) and without the user's locale.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <string_view>

#include "calib_impl.h"
#include "platform/file_read.h"
#include "platform/file_write.h"

namespace hcal {

namespace {

constexpr size_t kMaxLine = 4096;  // header lines
constexpr size_t kMaxToken = 64;   // one number of a matrix
constexpr int kValuesPerLine = 256;

bool isBlank(int c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

std::string_view trimmed(std::string_view s)
{
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

// A whole text as one finite double (blanks around it allowed).
bool parseDouble(std::string_view text, double& value)
{
    text = trimmed(text);
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    const char* end = text.data() + text.size();
    const auto r = std::from_chars(text.data(), end, value, std::chars_format::general);
    return r.ec == std::errc() && r.ptr == end && !text.empty() && std::isfinite(value);
}

bool parseInt(std::string_view text, int64_t& value)
{
    text = trimmed(text);
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    const char* end = text.data() + text.size();
    const auto r = std::from_chars(text.data(), end, value, 10);
    return r.ec == std::errc() && r.ptr == end && !text.empty();
}

// Reads a file line by line and number by number, with LF or CR LF line ends.
class StreamReader {
public:
    explicit StreamReader(FILE* file) : file_(file) {}

    // The next line without its line end; false at the end of the file or for a line beyond kMaxLine.
    bool line(std::string& out)
    {
        out.clear();
        int c = getc_unlocked(file_);
        if (c == EOF)
            return false;
        while (c != EOF && c != '\n') {
            if (out.size() >= kMaxLine)
                return false;
            out.push_back(static_cast<char>(c));
            c = getc_unlocked(file_);
        }
        if (!out.empty() && out.back() == '\r')
            out.pop_back();
        return true;
    }

    // The next line that is not blank.
    bool contentLine(std::string& out)
    {
        while (line(out))
            if (!trimmed(out).empty())
                return true;
        return false;
    }

    // count finite numbers separated by blanks and line ends; the rest of the last number's line must be
    // blank.
    bool numbers(double* out, size_t count)
    {
        char token[kMaxToken + 1];
        for (size_t k = 0; k < count; ++k) {
            int c;
            do
                c = getc_unlocked(file_);
            while (c != EOF && isBlank(c));
            size_t n = 0;
            while (c != EOF && !isBlank(c)) {
                if (n == kMaxToken)
                    return false;
                token[n++] = static_cast<char>(c);
                c = getc_unlocked(file_);
            }
            if (n == 0 || !parseDouble(std::string_view(token, n), out[k]))
                return false;
            if (c == '\n' && k + 1 == count)
                return true;
        }
        for (int c = getc_unlocked(file_); c != EOF && c != '\n'; c = getc_unlocked(file_))
            if (!isBlank(c))
                return false;
        return true;
    }

    bool failed() const { return std::ferror(file_) != 0; }

private:
    FILE* file_;
};

// "label rest" -> rest (one blank after the label skipped), or false when the line has another label.
bool labelled(std::string_view line, std::string_view label, std::string& rest)
{
    if (line.substr(0, label.size()) != label)
        return false;
    line.remove_prefix(label.size());
    if (!line.empty() && line.front() == ' ')
        line.remove_prefix(1);
    rest.assign(line);
    return true;
}

// "key = value": the key, blanks, '=', the value.
bool keyValue(std::string_view line, std::string_view key, std::string_view& value)
{
    line = trimmed(line);
    if (line.substr(0, key.size()) != key)
        return false;
    line.remove_prefix(key.size());
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
        line.remove_prefix(1);
    if (line.empty() || line.front() != '=')
        return false;
    line.remove_prefix(1);
    value = line;
    return true;
}

bool keyInt(StreamReader& in, std::string_view key, int64_t& value)
{
    std::string line;
    std::string_view text;
    return in.contentLine(line) && keyValue(line, key, text) && parseInt(text, value);
}

bool keyDouble(StreamReader& in, std::string_view key, double& value)
{
    std::string line;
    std::string_view text;
    return in.contentLine(line) && keyValue(line, key, text) && parseDouble(text, value);
}

bool expectLine(StreamReader& in, std::string_view text)
{
    std::string line;
    return in.contentLine(line) && trimmed(line) == text;
}

void appendNumber(std::string& out, double v)
{
    char text[32];
    const auto r = std::to_chars(text, text + sizeof text, v);
    out.append(text, r.ptr);
}

// A header text from the device on one line: a line end inside would break the header, and the profile
// would not load again.
std::string oneLine(std::string text)
{
    std::replace_if(text.begin(), text.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
    return text;
}

bool writeMatrix(plat::AtomicFileWriter& w, std::string& chunk, const std::vector<double>& values)
{
    for (size_t i = 0; i < values.size(); ++i) {
        appendNumber(chunk, values[i]);
        chunk += (i + 1) % kValuesPerLine == 0 || i + 1 == values.size() ? "\n" : " \t";
        if (chunk.size() >= (64u << 10)) {
            if (!w.write(chunk))
                return false;
            chunk.clear();
        }
    }
    return true;
}

} // namespace

bool CalibContext::saveProfile(const std::string& path)
{
    std::lock_guard lock(d_->mutex);
    Impl& c = *d_;
    plat::AtomicFileWriter w(path);
    std::string why;
    if (w.open(&why) != 0) {
        c.message("Error saving calibration configuration file. Cannot open file: " + path);
        return false;
    }
    std::string chunk;
    chunk += "Calibration config\n\n";
    chunk += "Interface: " + oneLine(c.shape.interfaceName) + "\n";
    chunk += "Chipboard: " + oneLine(c.shape.chipboardId) + "\n";
    chunk += "Chips = " + std::to_string(c.shape.chips) + "\n";
    chunk += "Rows = " + std::to_string(c.shape.rows) + "\n";
    chunk += "Pixels = " + std::to_string(c.pixels) + "\n";
    chunk += "Method = " + std::to_string(c.method) + "\n\n";
    chunk += "Points = " + std::to_string(c.points.size()) + "\n\n";
    bool ok = true;
    for (const auto& p : c.points) {
        chunk += "Single calibration point: " + (p->name.empty() ? std::string("Noname") : p->name) + "\n\n";
        chunk += "Pixels = " + std::to_string(p->data.size()) + "\n";
        chunk += "Time = ";
        appendNumber(chunk, p->time);
        chunk += "\nThickness = ";
        appendNumber(chunk, p->thickness);
        chunk += "\n\nData:\n";
        ok = ok && writeMatrix(w, chunk, p->data);
        chunk += "\nSigma:\n";
        ok = ok && writeMatrix(w, chunk, p->sigma);
        chunk += "\n";
    }
    ok = ok && w.write(chunk);
    if (!ok || w.commit(&why) != 0) {
        c.message("Error saving calibration configuration file. Write failed: " + path);
        return false;
    }
    c.modified = false;
    c.profilePath = path;
    return true;
}

bool CalibContext::loadProfile(const std::string& path)
{
    std::lock_guard lock(d_->mutex);
    Impl& c = *d_;
    const std::string prefix = "Error loading calibration configuration file. ";
    std::string why;
    FILE* file = plat::fopenRegularFile(path, nullptr, &why);
    if (!file) {
        c.message(prefix + "Cannot open file: " + path);
        return false;
    }
    struct Closer {
        FILE* f;
        ~Closer() { std::fclose(f); }
    } closer{file};
    StreamReader in(file);
    auto readFailed = [&] {
        c.message(prefix + "Read failed: " + path);
        return false;
    };

    std::string line;
    std::string interfaceName, chipboard;
    int64_t chips = 0, rows = 0, pixels = 0, method = 0, count = 0;
    if (!expectLine(in, "Calibration config") || !in.contentLine(line) || !labelled(line, "Interface:", interfaceName) ||
        !in.contentLine(line) || !labelled(line, "Chipboard:", chipboard) || !keyInt(in, "Chips", chips) ||
        !keyInt(in, "Rows", rows) || !keyInt(in, "Pixels", pixels) || !keyInt(in, "Method", method) ||
        !keyInt(in, "Points", count))
        return readFailed();
    if (c.pixels == 0 || chips != c.shape.chips || rows != c.shape.rows || pixels != chips * kChipPixels ||
        pixels != c.pixels || method < 0 || method >= kMethodCount || count < 0 || count > kMaxPoints)
        return readFailed();

    std::vector<std::unique_ptr<Point>> list;
    for (int64_t item = 0; item < count; ++item) {
        const int index = static_cast<int>(item);
        std::string name;
        int64_t itemPixels = 0;
        double time = 0.0, thickness = 0.0;
        if (!in.contentLine(line) || !labelled(line, "Single calibration point:", name) ||
            !keyInt(in, "Pixels", itemPixels))
            return readFailed();
        if (itemPixels != c.pixels) {
            c.message(prefix + "Item size is inconsistent!");
            return false;
        }
        if (!keyDouble(in, "Time", time) || !keyDouble(in, "Thickness", thickness) || !(time > 0.0))
            return readFailed();
        std::unique_ptr<Point> p;
        try {
            p = std::make_unique<Point>();
            list.reserve(static_cast<size_t>(count));
        } catch (const std::bad_alloc&) {
            p.reset();
        }
        if (!p || !allocateArray(p->data, static_cast<size_t>(c.pixels)) ||
            !allocateArray(p->sigma, static_cast<size_t>(c.pixels))) {
            c.message(prefix + "Cannot allocate memory for new item (item=" + std::to_string(index) + "): " + path);
            return false;
        }
        p->name = name;
        p->time = time;
        p->thickness = thickness;
        if (!expectLine(in, "Data:") || !in.numbers(p->data.data(), p->data.size()) || !expectLine(in, "Sigma:") ||
            !in.numbers(p->sigma.data(), p->sigma.size()))
            return readFailed();
        if (!Impl::completePoint(*p)) {
            c.message(prefix + "Cannot allocate memory for new item (item=" + std::to_string(index) + "): " + path);
            return false;
        }
        for (const auto& q : list)
            if (q->thickness == thickness) {
                c.message(prefix + "SortedInsertItem failed (item=" + std::to_string(index) + "): " + path);
                return false;
            }
        list.push_back(std::move(p));
    }
    if (in.contentLine(line) || in.failed())
        return readFailed(); // something after the last point, or the read broke off
    std::stable_sort(list.begin(), list.end(), [](const auto& a, const auto& b) { return a->thickness < b->thickness; });

    c.points.swap(list);
    c.method = static_cast<int>(method);
    c.selected = -1;
    c.invalidateFit();
    c.modified = false;
    c.profilePath = path;
    return true;
}

bool readMatrixFile(const std::string& path, int count, std::vector<double>& out, std::string* error)
{
    std::string why;
    FILE* file = plat::fopenRegularFile(path, nullptr, &why);
    if (!file) {
        if (error)
            *error = why;
        return false;
    }
    std::vector<double> values;
    bool ok = count >= 0 && allocateArray(values, static_cast<size_t>(count));
    if (ok) {
        StreamReader in(file);
        std::string rest;
        ok = in.numbers(values.data(), values.size()) && !in.contentLine(rest) && !in.failed();
    }
    std::fclose(file);
    if (!ok) {
        if (error)
            *error = "Incompatible file format";
        return false;
    }
    out.swap(values);
    return true;
}

} // namespace hcal
