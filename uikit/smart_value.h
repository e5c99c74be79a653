// The typed value behind a validated edit: an integer, a double, or a range of two doubles, with optional
// limits. It checks a text the user typed and turns values into the text to show. No windows; the edit
// control (smart_edit.h) owns one. Numbers are read and written the same way under every locale.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

class SmartEditValue {
public:
    enum Mode : int {
        MODE_NONE = 0,   // no checking
        MODE_INT = 1,    // a decimal integer
        MODE_DOUBLE = 2, // one number
        MODE_RANGE = 3,  // from and to, separated by blanks; one number n is the range n to n
    };

    // Integers that an integer edit can hold: everything setInt and setUInt can show.
    static constexpr int64_t kIntLowest = INT32_MIN;
    static constexpr int64_t kIntHighest = UINT32_MAX;

    int mode() const { return mode_; }
    void setMode(int mode) { mode_ = mode; }

    // Checks text in the current mode. A valid text is stored and gives an empty message; an invalid one
    // gives the message to show and leaves the stored value as it was. valid() tells the result.
    std::string check(std::string_view text);

    // Setters: the text to show, or nullopt (nothing changed) when the edit is of another mode.
    std::optional<std::string> setInt(int value);
    std::optional<std::string> setUInt(unsigned value);
    std::optional<std::string> setDouble(double value);
    std::optional<std::string> setRangeValue(double from, double to);

    // Switches limit checking on. The double edit takes [min, max] for its value, the other modes for
    // both ends of a range; the integer limits are [min, max] rounded inwards, kept as integers within
    // the span an integer edit holds. 0, or -1 (nothing changed) when a limit is not a number.
    int setDoubleLimits(double min, double max);

    bool valid() const { return valid_; }
    bool limitsOn() const { return limitsOn_; }
    int64_t intValue() const { return intValue_; }
    double doubleValue() const { return value_; } // the from value of a range
    double rangeTo() const { return rangeTo_; }

private:
    std::string checkInt(std::string_view text);
    std::string checkDouble(std::string_view text);
    std::string checkRange(std::string_view text);

    int mode_ = MODE_NONE;
    bool valid_ = true;
    bool limitsOn_ = false;
    int64_t intValue_ = 0;
    double value_ = 0;
    double rangeTo_ = 0;
    double minLimits_[2] = {0, 0}; // for the value or from, for to
    double maxLimits_[2] = {0, 0};
    int64_t intMin_ = kIntLowest;
    int64_t intMax_ = kIntHighest;
};

// "%.5g" in the "C" locale.
std::string formatG5(double value);
