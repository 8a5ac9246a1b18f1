#pragma once

#include <string>

namespace board::sim {

// A console number of a device model: decimal, 0x hexadecimal or negative, within
// [min, max]; false for anything else.
bool parseNumber(std::string const& text, long& value, long min, long max);

}  // namespace board::sim
