// A count table of any size: the genes of every population at every locus,
// allele by allele, with no capacities. vornstat fits subsets of it (one
// locus, one population, a pair, loci resampled); vorn's record converts to it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "core/datastr.h"
#include "core/hugealloc.h"

// Populations, loci and alleles are numbered from 0. at(p, l) points at the
// nalleles[l] counts of population p at locus l: the number of its genes at
// locus l that carry each allele. Alleles are numbered in the order first met
// in the data, as vorn numbers them. A table owns its counts in n, locus by
// locus (population p of locus l at offset[l] + p * step[l], step[l] =
// nalleles[l]); a table made by viewrecord looks at vorn's record instead, in
// place, and holds no counts of its own.
//
// A count is at most MAXCOUNT: readers refuse a cell with more genes.
constexpr std::int64_t MAXCOUNT = INT32_MAX;
struct counts {
    std::vector<std::string> popnames;
    std::vector<std::string> locusnames;
    std::vector<int> nalleles;
    std::vector<std::size_t> offset;
    std::vector<std::size_t> step;
    hugevector<std::int32_t> n;
    const std::int32_t* view = nullptr;  // the record's counts, for a view

    int npops() const { return static_cast<int>(popnames.size()); }
    int nloci() const { return static_cast<int>(locusnames.size()); }
    // Pointer arithmetic, not n[...]: a table whose loci have no alleles has
    // no counts at all, and its rows are empty ranges at the start.
    const std::int32_t* at(int p, int l) const
    {
        return (view != nullptr ? view : n.data()) + offset[l] + static_cast<std::size_t>(p) * step[l];
    }
    std::int32_t* at(int p, int l) { return n.data() + offset[l] + static_cast<std::size_t>(p) * step[l]; }
    // A locus added at the end, its counts population by population.
    void addlocus(std::string name, int alleles, const std::int32_t* cells)
    {
        locusnames.push_back(std::move(name));
        nalleles.push_back(alleles);
        offset.push_back(n.size());
        step.push_back(static_cast<std::size_t>(alleles));
        n.insert(n.end(), cells, cells + popnames.size() * static_cast<std::size_t>(alleles));
    }
};

// An empty table of these dimensions; nalleles[l] alleles at locus l.
counts makecounts(std::vector<std::string> popnames, std::vector<std::string> locusnames,
                  const std::vector<int>& nalleles);

// The table of a record that vorn's reader filled: a copy, or a view that
// reads the record in place (the record must outlive it and stay unchanged).
counts fromrecord(const datastr& data);
counts viewrecord(const datastr& data);
