// Turning a dataset into the text of a vorn data file and the table that
// traces every allele symbol back to its code.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "convert/dataset.h"

namespace convert {

// The allele symbols, in the order given to the codes of a locus from the
// smallest up: no white space and none of the characters that mean something
// in a data file (, ; : / = ?).
constexpr std::string_view ALPHABET = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvw";
static_assert(ALPHABET.size() == MAXUSEDALLELES);

// Longest locus label (its word also carries the closing ',' or ';') and
// longest population or individual name.
constexpr std::size_t LABELMAX = LABELLEN - 2;
constexpr std::size_t NAMEMAX = LABELLEN - 1;

// text as one word of at most max bytes: white space, control characters and
// , ; : = become '_'; a UTF-8 character is never cut in two. Empty if text is.
std::string safename(std::string_view text, std::size_t max);

// The names written to the file, all checked against the reader's limits.
struct naming {
    std::vector<std::string> loci;  // unique
    std::vector<std::string> pops;
    std::vector<std::vector<std::string>> members;  // [population][individual]
};

// Throws inputerror when two loci have the same name in the input.
naming makenames(const dataset& data);

// codes[l]: the distinct allele codes of locus l in increasing order; the
// code codes[l][k] is written as ALPHABET[k].
std::vector<std::vector<int>> allelecodes(const dataset& data);

std::string vorntext(const dataset& data, const naming& names, const std::vector<std::vector<int>>& codes);

// Tab-separated: a header, then locus, allele code and symbol, one allele a line.
std::string maptext(const naming& names, const std::vector<std::vector<int>>& codes);

}  // namespace convert
