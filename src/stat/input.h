// One input of vornstat: a vorn data file or any format the readers know,
// turned into a count table.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "core/counts.h"
#include "formats/dataset.h"

struct input {
    std::string file;
    std::string sha256;
    std::string format;  // "vorn" or the reader's format name
    std::string layout;  // how it was read, in words (other formats)
    counts table;
    std::vector<formats::warning> warnings;
};

// A file that could not be read: the line (0 for the file as a whole) and
// the message.
struct readerror : std::runtime_error {
    int line;
    readerror(int where, const std::string& what) : std::runtime_error(what), line(where) {}
};

// Which loci and populations to keep, as --loci and --pops LISTs; empty: all.
struct choice {
    std::string loci, pops;
};

// Reads the file ("-": standard input). options.format "vorn" forces vorn's
// own format; empty guesses it from the content. The chosen loci and
// populations are taken before the alleles are numbered, so that the table
// is the one vorn reads from vornconvert's file of the same choice.
input readinput(const std::string& file, const formats::readoptions& options, const choice& chosen);

// The chosen loci and populations of a table, in the table's order; alleles
// that the chosen populations do not carry are dropped.
counts select(const counts& c, const std::vector<std::size_t>& loci, const std::vector<std::size_t>& pops);

// The table of a data set: alleles numbered per locus in the order first met
// over populations, individuals and gene copies, as vorn numbers the symbols
// of the converted file.
counts tally(const formats::dataset& d);
