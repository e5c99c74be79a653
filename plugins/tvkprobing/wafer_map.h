// The wafer map of a probing run: a grid of dies, each untested ('.'), of a class 'A' .. 'E', or tested
// without a class ('X'), with the analog current measured at its contact. Dies are tested row by row
// from the top, in each row from the left (from the right with the direction reversed).
//
// Files, rewritten whole after every die: "<wafer>.txt", a line per row and a character per die, and
// "<wafer>.svg", a square per die coloured by its state, with its class letter and its current when asked.
#pragma once

#include <string>
#include <vector>

namespace probing {

class WaferMap {
public:
    // At least one die each way; at most 1000.
    WaferMap(int columns, int rows);

    int columns() const { return columns_; }
    int rows() const { return rows_; }

    // The next untested die; false when none is left.
    bool nextDie(bool reversed, int* column, int* row) const;
    // Records a die's class (0 .. 4, anything else: no class) and current (mA; negative: not measured).
    void record(int column, int row, int chipClass, double currentMa);

    char state(int column, int row) const { return states_[index(column, row)]; }
    int tested() const;
    int remaining() const { return columns_ * rows_ - tested(); }

    std::string text() const;
    std::string svg(bool showClass, bool showCurrent) const;
    // Writes both files into folder; 0, or -1 with the reason.
    int writeFiles(const std::string& folder, const std::string& wafer, bool showClass, bool showCurrent,
                   std::string* error) const;

private:
    size_t index(int column, int row) const { return static_cast<size_t>(row) * columns_ + column; }

    int columns_;
    int rows_;
    std::vector<char> states_;
    std::vector<double> currents_;
};

// A wafer name that names files inside the output folder: not empty, no '/', no "..", no control byte.
bool validWaferName(const std::string& name);

// "<wafer>_<column + 1, two digits>(<'A' + column>)_<row + 1, two digits>".
std::string dieTestName(const std::string& wafer, int column, int row);

} // namespace probing
