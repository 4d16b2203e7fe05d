// SHA-256 of a file's bytes, for the record of what was analysed.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Lower-case hex digest of the bytes.
std::string sha256(std::string_view bytes);
// The same of the bytes of files one after the other, read a piece at a
// time; empty when one cannot be read.
std::string sha256file(const std::vector<std::string>& paths);
