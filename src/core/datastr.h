// The genotype count record: everything the reader learns from a data file
// and everything the estimator needs from it.
#pragma once

#include <cstdint>

// Capacities. Every table reserves slot 0 and is indexed from 1, so each
// capacity is one more than the number of usable entries.
constexpr int MAXPOPS = 100;    // populations 1..99
constexpr int MAXLOCI = 100;    // loci 1..99
constexpr int MAXALLELES = 50;  // alleles 1..49 at each locus
constexpr int LABELLEN = 40;    // label or population name, terminator included

struct datastr {
    std::int32_t nloci;
    std::int32_t npops;
    char locuslabel[MAXLOCI][LABELLEN];
    char popname[MAXPOPS][LABELLEN];
    // Distinct allele symbols met at each locus, over all populations.
    std::int32_t nalleles[MAXLOCI];
    // allelecount[p][l][k]: genes of population p at locus l carrying allele k.
    std::int32_t allelecount[MAXPOPS][MAXLOCI][MAXALLELES];
};
