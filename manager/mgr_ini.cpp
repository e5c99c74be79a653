#include "mgr_ini.h"

#include <string_view>

#include "platform/file_read.h"
#include "platform/file_write.h"
#include "platform/ini.h"
#include "tvk_types.h"

namespace {

// Walks the lines of a text: each line without its line end (LF or CR LF), with the offsets of its start
// and of the next line's start.
struct Line {
    std::string_view text;
    size_t begin;
    size_t next;
};

class LineWalker {
public:
    explicit LineWalker(std::string_view content, size_t pos = 0) : content_(content), pos_(pos) {}

    bool next(Line& line)
    {
        if (pos_ >= content_.size())
            return false;
        const size_t end = content_.find('\n', pos_);
        const size_t stop = end == std::string_view::npos ? content_.size() : end;
        std::string_view text = content_.substr(pos_, stop - pos_);
        if (!text.empty() && text.back() == '\r')
            text.remove_suffix(1);
        line = {text, pos_, end == std::string_view::npos ? content_.size() : end + 1};
        pos_ = line.next;
        return true;
    }

private:
    std::string_view content_;
    size_t pos_;
};

bool endsSection(std::string_view line)
{
    return !line.empty() && line.front() == '[';
}

// The header line of the first section of that name; found tells whether there is one.
Line findHeader(std::string_view content, const std::string& header, bool& found)
{
    LineWalker walker(content);
    Line line{};
    while (walker.next(line)) {
        if (line.text == header) {
            found = true;
            return line;
        }
    }
    found = false;
    return {};
}

} // namespace

int readIniSection(const std::string& section, const std::string& iniPath, std::vector<std::string>& lines,
                   std::string* errorText, size_t maxLines, std::string* rest)
{
    if (!rest)
        maxLines = SIZE_MAX;
    else
        rest->clear();
    std::lock_guard<std::mutex> fileLock(plat::iniFileMutex());
    std::string content;
    // Only a file that does not exist counts as missing; one that is no regular file (a FIFO, a device)
    // or is larger than 64 MB is refused like one that cannot be read.
    switch (plat::readRegularFile(iniPath, content, errorText)) {
    case plat::ReadOutcome::Ok: break;
    case plat::ReadOutcome::Missing: return 0;
    default: return TVK_ERR_OPEN_READ;
    }
    bool found = false;
    const Line header = findHeader(content, "[" + section + "]", found);
    if (!found)
        return 0;
    int count = 0;
    LineWalker walker(content, header.next);
    Line line{};
    while (walker.next(line) && !endsSection(line.text)) {
        if (line.text.empty())
            continue;
        if (static_cast<size_t>(count) >= maxLines) {
            rest->append(line.text);
            rest->push_back('\n');
            continue;
        }
        lines.emplace_back(line.text);
        ++count;
    }
    return count;
}

int writeIniSection(const std::string& iniPath, const std::string& section, const std::vector<std::string>& lines,
                    std::string* errorText, std::string_view rest)
{
    for (const std::string& line : lines) {
        if (line.find_first_of("\r\n") != std::string::npos) {
            if (errorText)
                *errorText = "A line of section [" + section + "] holds a line break: \"" + line + "\".";
            return TVK_ERR_PARAM;
        }
    }
    std::lock_guard<std::mutex> fileLock(plat::iniFileMutex());
    std::string content;
    const plat::ReadOutcome read = plat::readRegularFile(iniPath, content, errorText);
    if (read != plat::ReadOutcome::Ok && read != plat::ReadOutcome::Missing)
        return TVK_ERR_OPEN_READ; // an unreadable file is never taken for an empty one

    std::string sectionText = "[" + section + "]\n";
    for (const std::string& line : lines)
        sectionText += line + "\n";
    sectionText += rest;
    if (!sectionText.empty() && sectionText.back() != '\n')
        sectionText += '\n';

    std::string out;
    out.reserve(content.size() + sectionText.size() + 1);
    bool found = false;
    const Line header = findHeader(content, "[" + section + "]", found);
    if (found) {
        // Everything before the header and from the next section on is kept byte for byte.
        size_t rest = content.size();
        LineWalker walker(content, header.next);
        Line line{};
        while (walker.next(line)) {
            if (endsSection(line.text)) {
                rest = line.begin;
                break;
            }
        }
        out.append(content, 0, header.begin);
        out += sectionText;
        out.append(content, rest, std::string::npos);
    } else {
        out = content;
        if (!out.empty() && out.back() != '\n')
            out += '\n';
        out += sectionText;
    }
    return plat::replaceFile(iniPath, out.data(), out.size(), errorText);
}
