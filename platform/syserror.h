// Text of system error numbers.
#pragma once

#include <string>

namespace plat {

// strerror's text for err, thread-safe; errno when err is omitted.
std::string systemErrorText(int err);
std::string lastSystemErrorText();

} // namespace plat
