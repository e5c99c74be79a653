// Typed values as text and back, without the user's locale: the shortest exact form for floats, and
// reading that refuses a cut, wrapped or half-matched value.
#include "value_text.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <string_view>

#include "number_scan.h"

namespace {

using textscan::endsField;
using textscan::isBlank;
using textscan::isDigit;
using textscan::Read;
using textscan::skipBlanks;
using textscan::skipPlus;
using textscan::takeInteger;
using textscan::takeNumber;

constexpr int kTypeCount = 11; // codes 0..10
constexpr const char* kTypeNames[kTypeCount + 1] = {"bool", "char",  "uchar",  "byte",   "i16",
                                                     "u16",  "i32",   "u32",    "float",  "double",
                                                     "string", "uknown"};
constexpr int kTypeSizes[kTypeCount] = {4, 1, 1, 1, 2, 2, 4, 4, 4, 8, 4};

bool isTextType(int type)
{
    return type == TYPE_CHAR || type == TYPE_UCHAR || type == TYPE_STRING;
}

char asciiLower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// ---- values to text ----

// Collects text either into a bounded caller buffer (refusing what does not fit) or into a string.
class TextSink {
public:
    TextSink(char* buf, size_t capacity) : buf_(buf), capacity_(capacity) {}
    explicit TextSink(std::string* out) : out_(out) {}

    bool append(const char* text, size_t n)
    {
        if (out_) {
            out_->append(text, n);
            return true;
        }
        if (n > capacity_ - length_)
            return false;
        std::memcpy(buf_ + length_, text, n);
        length_ += n;
        return true;
    }
    size_t length() const { return length_; }

private:
    char* buf_ = nullptr;
    size_t capacity_ = 0; // characters, the terminating zero not counted
    size_t length_ = 0;
    std::string* out_ = nullptr;
};

template <typename T>
bool appendNumber(TextSink& sink, T value)
{
    char text[64];
    auto [end, ec] = std::to_chars(text, text + sizeof text - 1, value); // shortest exact form for floats
    if (ec != std::errc())
        return false;
    *end++ = ' ';
    return sink.append(text, static_cast<size_t>(end - text));
}

template <typename T>
bool appendNumbers(TextSink& sink, const void* data, int count)
{
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (int i = 0; i < count; ++i) {
        T value;
        std::memcpy(&value, bytes + static_cast<size_t>(i) * sizeof(T), sizeof(T));
        if (!appendNumber(sink, value))
            return false;
    }
    return true;
}

// Writes count elements of type. False when the sink is full; the caller decides what stays.
bool writeValues(TextSink& sink, int type, const void* data, int count)
{
    switch (type) {
    case TYPE_BOOL: {
        const auto* bytes = static_cast<const unsigned char*>(data);
        for (int i = 0; i < count; ++i) {
            int32_t value;
            std::memcpy(&value, bytes + static_cast<size_t>(i) * sizeof value, sizeof value);
            const bool ok = value ? sink.append("TRUE ", 5) : sink.append("FALSE ", 6);
            if (!ok)
                return false;
        }
        return true;
    }
    case TYPE_CHAR:
    case TYPE_UCHAR:
    case TYPE_STRING: {
        // The characters up to the first zero, never beyond the value's bytes.
        const size_t size = static_cast<size_t>(count) * static_cast<size_t>(kTypeSizes[type]);
        if (size == 0)
            return true;
        const auto* text = static_cast<const char*>(data);
        const void* zero = std::memchr(text, 0, size);
        const size_t n = zero ? static_cast<size_t>(static_cast<const char*>(zero) - text) : size;
        return sink.append(text, n);
    }
    case TYPE_BYTE: return appendNumbers<uint8_t>(sink, data, count);
    case TYPE_I16: return appendNumbers<int16_t>(sink, data, count);
    case TYPE_U16: return appendNumbers<uint16_t>(sink, data, count);
    case TYPE_I32: return appendNumbers<int32_t>(sink, data, count);
    case TYPE_U32: return appendNumbers<uint32_t>(sink, data, count);
    case TYPE_FLOAT: return appendNumbers<float>(sink, data, count);
    case TYPE_DOUBLE: return appendNumbers<double>(sink, data, count);
    default: return true;
    }
}

// ---- text to values ----

int readCode(Read r)
{
    return r == Read::none ? -1 : TVK_ERR_PARAM;
}

// Reads count elements of T into out (null: check only).
template <typename T>
int readNumbers(std::string_view text, int count, unsigned char* out)
{
    for (int i = 0; i < count; ++i) {
        T value{};
        Read r;
        if constexpr (std::is_floating_point_v<T>)
            r = takeNumber(text, value);
        else
            r = takeInteger(text, value);
        if (r != Read::ok)
            return readCode(r);
        if (out)
            std::memcpy(out + static_cast<size_t>(i) * sizeof(T), &value, sizeof(T));
    }
    return 0;
}

bool equalsNoCase(std::string_view word, std::string_view expected)
{
    return word.size() == expected.size() &&
           std::equal(word.begin(), word.end(), expected.begin(), [](char a, char b) {
               return asciiLower(a) == b;
           });
}

// Bools: decimal numbers when the text starts with one, else the words true and false (any case).
int readBools(std::string_view text, int count, unsigned char* out)
{
    text = skipBlanks(text);
    const char* first = skipPlus(text.data(), text.data() + text.size());
    const bool numeric = first != text.data() + text.size() &&
                         (isDigit(*first) ||
                          (*first == '-' && first + 1 != text.data() + text.size() && isDigit(first[1])));
    if (numeric)
        return readNumbers<int32_t>(text, count, out);

    for (int i = 0; i < count; ++i) {
        text = skipBlanks(text);
        if (text.empty())
            return TVK_ERR_PARAM; // fewer words than values
        size_t n = 0;
        while (n < text.size() && !isBlank(text[n]))
            ++n;
        const std::string_view word = text.substr(0, n);
        int32_t value;
        if (equalsNoCase(word, "true"))
            value = 1;
        else if (equalsNoCase(word, "false"))
            value = 0;
        else
            return -1;
        if (out)
            std::memcpy(out + static_cast<size_t>(i) * sizeof value, &value, sizeof value);
        text.remove_prefix(n);
    }
    return 0;
}

int readValues(std::string_view text, int type, int count, unsigned char* out)
{
    switch (type) {
    case TYPE_BOOL: return readBools(text, count, out);
    case TYPE_BYTE: return readNumbers<uint8_t>(text, count, out);
    case TYPE_I16: return readNumbers<int16_t>(text, count, out);
    case TYPE_U16: return readNumbers<uint16_t>(text, count, out);
    case TYPE_I32: return readNumbers<int32_t>(text, count, out);
    case TYPE_U32: return readNumbers<uint32_t>(text, count, out);
    case TYPE_FLOAT: return readNumbers<float>(text, count, out);
    case TYPE_DOUBLE: return readNumbers<double>(text, count, out);
    default: return -1;
    }
}

} // namespace

// ---- types ----

const char* typeName(int type)
{
    return type >= 0 && type < kTypeCount ? kTypeNames[type] : kTypeNames[kTypeCount];
}

int typeElementSize(int type)
{
    return type >= 0 && type < kTypeCount ? kTypeSizes[type] : 0;
}

int typeFromName(const char* name)
{
    if (!name)
        return TYPE_UNKNOWN;
    for (int type = 0; type < kTypeCount; ++type)
        if (std::strcmp(name, kTypeNames[type]) == 0)
            return type;
    return TYPE_UNKNOWN;
}

// ---- values as text ----

int valueToText(int type, char* buf, int bufSize, const void* data, int count)
{
    if (!buf)
        return TVK_ERR_PARAM;
    if (bufSize <= 0)
        return TVK_ERR_BUFFER_SMALL;
    buf[0] = '\0';
    if (type < 0 || type >= kTypeCount || count < 0 || (!data && count > 0))
        return TVK_ERR_PARAM;
    TextSink sink(buf, static_cast<size_t>(bufSize) - 1);
    if (!writeValues(sink, type, data, count)) {
        buf[0] = '\0'; // no partial value: a cut number would read back as another value
        return TVK_ERR_BUFFER_SMALL;
    }
    buf[sink.length()] = '\0';
    return 0;
}

std::string valueToString(int type, const void* data, int count)
{
    std::string text;
    if (type < 0 || type >= kTypeCount || count < 0 || (!data && count > 0))
        return text;
    TextSink sink(&text);
    writeValues(sink, type, data, count);
    return text;
}

int textToValue(void* data, const char* text, int type, int count)
{
    if (type < 0 || type >= kTypeCount)
        return -1;
    if (!text || count < 0 || (!data && count > 0))
        return TVK_ERR_PARAM;
    auto* out = static_cast<unsigned char*>(data);

    if (isTextType(type)) {
        // The value's bytes (count x element size, as valueToText reads them) take the text and its
        // terminating zero; the rest is zero-filled. A longer text is refused, never cut.
        const size_t size = static_cast<size_t>(count) * static_cast<size_t>(kTypeSizes[type]);
        const size_t length = std::strlen(text);
        if (length >= size)
            return size == 0 && length == 0 ? 0 : TVK_ERR_PARAM;
        std::memcpy(out, text, length);
        std::memset(out + length, 0, size - length);
        return 0;
    }

    // Check the whole text first, so that a failure leaves data unchanged.
    const std::string_view view(text);
    const int checked = readValues(view, type, count, nullptr);
    if (checked != 0)
        return checked;
    return readValues(view, type, count, out);
}
