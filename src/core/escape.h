// Text from a data file, made safe to echo on a terminal.
#pragma once

#include <string>
#include <string_view>

// Each control byte (below 0x20, or 0x7f) becomes \xHH with two lower-case
// hex digits; every other byte, UTF-8 included, is kept as it is.
std::string escaped(std::string_view text);
