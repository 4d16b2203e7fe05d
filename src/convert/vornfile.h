// A data set written as a vorn data file, with the table that traces every
// allele symbol back to the allele of the input. Here, and only here, the
// capacities of vorn's record are checked.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/datastr.h"
#include "formats/dataset.h"

namespace convert {

// Usable entries of vorn's record.
constexpr int MAXUSEDPOPS = MAXPOPS - 1;
constexpr int MAXUSEDLOCI = MAXLOCI - 1;
constexpr int MAXUSEDALLELES = MAXALLELES - 1;

// The allele symbols, in the order given to the alleles of a locus from the
// smallest up: no white space and none of the characters that mean something
// in a data file (, ; : / = ?).
constexpr std::string_view ALPHABET = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvw";
static_assert(ALPHABET.size() == MAXUSEDALLELES);

// Longest locus label (its word also carries the closing ',' or ';') and
// longest population or individual name.
constexpr std::size_t LABELMAX = LABELLEN - 2;
constexpr std::size_t NAMEMAX = LABELLEN - 1;

// What goes into the file: indices of the loci and populations chosen, in
// the order of the input.
struct selection {
    std::vector<std::size_t> loci, pops;
};

// Everything the file needs beyond the data set, within vorn's capacities.
struct vornplan {
    int ploidy = 0;                                 // 1 or 2
    std::vector<std::string> loci;                  // labels, unique
    std::vector<std::string> pops;                  // names, unique
    std::vector<std::vector<std::string>> members;  // [population][individual]
    // order[i]: the alleles of chosen locus i that the chosen populations
    // carry, smallest first, written as ALPHABET[0], ALPHABET[1], ...;
    // symbol[i][a]: the index into ALPHABET of allele a.
    std::vector<std::vector<int>> order, symbol;
};

// text as one word of at most max bytes: white space, control characters (C1
// controls in UTF-8 too) and , ; : = become '_'; a UTF-8 character is never
// cut in two. Empty if text is.
std::string safename(std::string_view text, std::size_t max);

// Throws formats::inputerror (file not set) when the chosen data do not fit a
// vorn data file, saying how to choose what does.
vornplan plan(const formats::dataset& data, const selection& chosen);

std::string vorntext(const formats::dataset& data, const selection& chosen, const vornplan& p);

// Tab-separated: a header, then locus, allele and symbol, one allele a line.
std::string maptext(const formats::dataset& data, const selection& chosen, const vornplan& p);

}  // namespace convert
