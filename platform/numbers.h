// Number conversion that never depends on the user's locale (std::to_chars / std::from_chars).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace plat {

// Whole-text parsers: blanks around the number are allowed, anything else is refused, and so is a value
// out of the type's range (no silent wrap). Integers are decimal with an optional sign ('-' refused for
// the unsigned ones). Doubles accept decimal and exponent forms; "nan" and "inf"
// are refused unless allowNonFinite.
std::optional<int64_t> parseInt64(std::string_view text);
std::optional<uint64_t> parseUint64(std::string_view text);
std::optional<int32_t> parseInt32(std::string_view text);
std::optional<uint32_t> parseUint32(std::string_view text);
std::optional<double> parseDouble(std::string_view text, bool allowNonFinite = false);

// Prefix parsers for lists of numbers: read one number at the start of text (leading blanks skipped),
// advance text past it; nullopt (text unchanged) when no number starts there or it is out of range.
// A leading '+' is accepted; integers are decimal. takeDouble refuses "nan"/"inf" unless allowNonFinite.
std::optional<int64_t> takeInt64(std::string_view& text);
std::optional<uint64_t> takeUint64(std::string_view& text);
std::optional<double> takeDouble(std::string_view& text, bool allowNonFinite = false);

// Shortest text that reads back to exactly the same double ("%.17g" precision at most); "nan", "inf"
// and "-inf" for the non-finite values.
std::string formatDouble(double value);
// The same for float.
std::string formatFloat(float value);
// printf's "%.<precision>g" and "%.<decimals>f" as the C locale writes them, whatever the user's locale.
std::string formatGeneral(double value, int precision);
std::string formatFixed(double value, int decimals);

} // namespace plat
