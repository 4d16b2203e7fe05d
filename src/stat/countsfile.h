// Count tables in files of their own. A genome counted part by part (one
// job per chromosome or region) is fitted as one table by reading the
// parts' count files together: sites are independent loci, so the table of
// the parts, read in the order of the genome, is the table of one run over
// the whole file, and gives the same estimates to the bit.
//
// The format, one line each, fields separated by tabs:
//   #vorncounts 1 filter=all          (or filter=PASS: counted with --pass-only)
//   chrom pos POP1 POP2 ...           (the populations, in the table's order)
//   CHROM POS N,N,... N,N,... ...     (one line per site)
// A site's cell for a population holds the number of its genes that carry
// each allele, alleles in the table's order (the order first met over the
// populations, as vorn numbers them); every cell of a line holds as many
// numbers. POS counts from 1; a locus without a position (from a file of
// another format) has POS '.' and its name in the CHROM column.
#pragma once

#include <cstdint>
#include <istream>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "core/counts.h"

// Where the loci of a table lie; empty when they have no positions.
struct positions {
    std::vector<std::string> chroms;  // in the order first met
    std::vector<int> chrom;           // per locus: into chroms
    std::vector<std::int64_t> pos;    // per locus: from 1
};

// A table as a count file holds it.
struct countstable {
    counts table;
    positions where;
    bool passonly = false;  // counted from the records whose FILTER is PASS
};

// Whether the bytes begin a count file.
bool iscountfile(std::string_view head);
// Whether the named file begins as a count file.
bool iscountfilenamed(const std::string& file);

// Writes the table. Throws std::invalid_argument when a name cannot stand in
// a cell (a tab or a line break in it).
void writecounts(std::ostream& out, const countstable& t);

// Reads count files one after the other into one table. Parts must hold the
// same populations in the same order and be counted the same way, and no
// two may hold sites of one chromosome in overlapping stretches (a site
// would count twice). Throws readerror (stat/input.h) with the file at fault.
// "-" is read from standard.
countstable readcounts(const std::vector<std::string>& files, std::istream& standard);
