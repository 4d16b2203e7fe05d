// One input of vornstat: a vorn data file or any format the readers know,
// turned into a count table.
#pragma once

#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/counts.h"
#include "formats/dataset.h"
#include "formats/vcf.h"
#include "stat/countsfile.h"

struct input {
    std::string file;
    std::string sha256;
    std::string format;  // "vorn" or the reader's format name
    std::string layout;  // how it was read, in words (other formats)
    counts table;
    std::vector<formats::warning> warnings;
    positions where;        // of the loci, for VCF, BCF and count files; empty otherwise
    bool passonly = false;  // counted from the records whose FILTER is PASS
};

// A file that could not be read: the line (0 for the file as a whole) and
// the message.
struct readerror : std::runtime_error {
    int line;
    std::string file;  // the file at fault, when it is not the input's own name
    readerror(int where, const std::string& what) : std::runtime_error(what), line(where) {}
};

// How VCF and BCF files are read, and whether the SHA-256 of files that are
// not held in memory (VCF, BCF, count files) is worked out.
struct genomeoptions {
    formats::popmap map;  // --popmap
    formats::vcfoptions vcf;
    bool hash = false;
};

// Whether this build reads VCF and BCF files (it does when htslib was found).
extern const bool VCFREADER;

// The map of --popmap from its text. Throws formats::inputerror.
formats::popmap loadpopmap(const std::string& text);

// Count files read together as one table (stat/countsfile.h); "-" is read
// from standard.
input readcountfiles(const std::vector<std::string>& files, bool hash, std::istream& standard = std::cin);

// Which loci and populations to keep, as --loci and --pops LISTs; empty: all.
struct choice {
    std::string loci, pops;
};

// Reads the file ("-": standard input). options.format "vorn" forces vorn's
// own format; empty guesses it from the content. The chosen loci and
// populations are taken before the alleles are numbered, so that the table
// is the one vorn reads from vornconvert's file of the same choice.
// A VCF or BCF file (by --format vcf or its first bytes) is read through
// htslib with the genome options.
input readinput(const std::string& file, const formats::readoptions& options, const choice& chosen,
                const genomeoptions& genome = {});

// The chosen loci and populations of a table, in the table's order; alleles
// that the chosen populations do not carry are dropped.
counts select(const counts& c, const std::vector<std::size_t>& loci, const std::vector<std::size_t>& pops);

// The table of a data set: alleles numbered per locus in the order first met
// over populations, individuals and gene copies, as vorn numbers the symbols
// of the converted file.
counts tally(const formats::dataset& d);
