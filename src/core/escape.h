// Text from a data file or a command line, made safe to echo on a terminal.
#pragma once

#include <string>
#include <string_view>

// Each control byte (below 0x20, or 0x7f) becomes \xHH with two lower-case
// hex digits, and so do both bytes of a C1 control in UTF-8 (C2 80 to C2 9F,
// which a terminal takes as ESC [ and the like); every other byte, printable
// UTF-8 included, is kept as it is.
std::string escaped(std::string_view text);
