// SHA-256 of a file's bytes, for the record of what was analysed.
#pragma once

#include <string>
#include <string_view>

// Lower-case hex digest of the bytes.
std::string sha256(std::string_view bytes);
