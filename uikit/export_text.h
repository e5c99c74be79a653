// Numbers of the text exports: the classic printf forms where they read back to the same value, the
// shortest exact text otherwise, so that an export never changes a value. Locale-independent.
#pragma once

#include <string>

// "%g" of value when that reads back exactly, else the shortest exact text; "nan", "inf", "-inf".
std::string exactTextG(double value);
// "%f" likewise (1 gives "1.000000", 1e-7 gives "1e-07").
std::string exactTextF(double value);
