#include "wafer_map.h"

#include <algorithm>
#include <cstdio>

#include "platform/file_write.h"
#include "platform/numbers.h"

namespace probing {

namespace {

constexpr int kDieSize = 40; // pixels of a die's square in the image

const char* fillOf(char state)
{
    switch (state) {
    case 'A': return "#4caf50";
    case 'B': return "#a5d6a7";
    case 'C': return "#ffeb3b";
    case 'D': return "#ff9800";
    case 'E': return "#f44336";
    case 'X': return "#9e9e9e";
    default: return "#ffffff";
    }
}

} // namespace

WaferMap::WaferMap(int columns, int rows)
    : columns_(std::clamp(columns, 1, 1000)), rows_(std::clamp(rows, 1, 1000)),
      states_(static_cast<size_t>(columns_) * rows_, '.'), currents_(states_.size(), -1.0)
{
}

bool WaferMap::nextDie(bool reversed, int* column, int* row) const
{
    for (int r = 0; r < rows_; ++r)
        for (int k = 0; k < columns_; ++k) {
            const int c = reversed ? columns_ - 1 - k : k;
            if (states_[index(c, r)] == '.') {
                *column = c;
                *row = r;
                return true;
            }
        }
    return false;
}

void WaferMap::record(int column, int row, int chipClass, double currentMa)
{
    if (column < 0 || column >= columns_ || row < 0 || row >= rows_)
        return;
    states_[index(column, row)] = chipClass >= 0 && chipClass < 5 ? static_cast<char>('A' + chipClass) : 'X';
    currents_[index(column, row)] = currentMa;
}

int WaferMap::tested() const
{
    return static_cast<int>(std::count_if(states_.begin(), states_.end(), [](char s) { return s != '.'; }));
}

std::string WaferMap::text() const
{
    std::string out;
    for (int r = 0; r < rows_; ++r) {
        out.append(states_.begin() + static_cast<long>(index(0, r)), states_.begin() + static_cast<long>(index(0, r)) + columns_);
        out += '\n';
    }
    return out;
}

std::string WaferMap::svg(bool showClass, bool showCurrent) const
{
    const int width = columns_ * kDieSize;
    const int height = rows_ * kDieSize;
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
                      std::to_string(width) + "\" height=\"" + std::to_string(height) + "\" viewBox=\"0 0 " +
                      std::to_string(width) + " " + std::to_string(height) + "\">\n";
    for (int r = 0; r < rows_; ++r)
        for (int c = 0; c < columns_; ++c) {
            const char s = states_[index(c, r)];
            const int x = c * kDieSize;
            const int y = r * kDieSize;
            out += "<rect x=\"" + std::to_string(x) + "\" y=\"" + std::to_string(y) + "\" width=\"" +
                   std::to_string(kDieSize) + "\" height=\"" + std::to_string(kDieSize) + "\" fill=\"" + fillOf(s) +
                   "\" stroke=\"#000000\"/>\n";
            if (showClass && s != '.')
                out += "<text x=\"" + std::to_string(x + kDieSize / 2) + "\" y=\"" + std::to_string(y + 16) +
                       "\" font-size=\"14\" text-anchor=\"middle\">" + s + "</text>\n";
            const double current = currents_[index(c, r)];
            if (showCurrent && s != '.' && current >= 0)
                out += "<text x=\"" + std::to_string(x + kDieSize / 2) + "\" y=\"" + std::to_string(y + 34) +
                       "\" font-size=\"10\" text-anchor=\"middle\">" + plat::formatFixed(current, 0) + "</text>\n";
        }
    out += "</svg>\n";
    return out;
}

int WaferMap::writeFiles(const std::string& folder, const std::string& wafer, bool showClass, bool showCurrent,
                         std::string* error) const
{
    const std::string base = folder + "/" + wafer;
    const std::string txt = text();
    const std::string image = svg(showClass, showCurrent);
    if (plat::replaceFile(base + ".txt", txt.data(), txt.size(), error) != 0 ||
        plat::replaceFile(base + ".svg", image.data(), image.size(), error) != 0)
        return -1;
    return 0;
}

bool validWaferName(const std::string& name)
{
    if (name.empty() || name.find('/') != std::string::npos || name.find("..") != std::string::npos)
        return false;
    return std::none_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; });
}

std::string dieTestName(const std::string& wafer, int column, int row)
{
    char tail[48];
    std::snprintf(tail, sizeof tail, "_%02d(%c)_%02d", column + 1, static_cast<char>('A' + column % 26), row + 1);
    return wafer + tail;
}

} // namespace probing
