// A count table of any size: the genes of every population at every locus,
// allele by allele, with no capacities. vornstat fits subsets of it (one
// locus, one population, a pair, loci resampled); vorn's record converts to it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/datastr.h"

// Populations, loci and alleles are numbered from 0. The counts of locus l
// form one block: n[offset[l] + p * nalleles[l] + k] is the number of genes
// of population p at locus l that carry allele k. Alleles are numbered in
// the order first met in the data, as vorn numbers them.
struct counts {
    std::vector<std::string> popnames;
    std::vector<std::string> locusnames;
    std::vector<int> nalleles;
    std::vector<std::size_t> offset;
    std::vector<std::int64_t> n;

    int npops() const { return static_cast<int>(popnames.size()); }
    int nloci() const { return static_cast<int>(locusnames.size()); }
    // The counts of population p at locus l, nalleles[l] of them.
    // Pointer arithmetic, not n[...]: a table whose loci have no alleles has
    // no counts at all, and its rows are empty ranges at the start.
    const std::int64_t* at(int p, int l) const
    {
        return n.data() + offset[l] + static_cast<std::size_t>(p) * nalleles[l];
    }
    std::int64_t* at(int p, int l)
    {
        return n.data() + offset[l] + static_cast<std::size_t>(p) * nalleles[l];
    }
};

// An empty table of these dimensions; nalleles[l] alleles at locus l.
counts makecounts(std::vector<std::string> popnames, std::vector<std::string> locusnames,
                  const std::vector<int>& nalleles);

// The table of a record that vorn's reader filled.
counts fromrecord(const datastr& data);
