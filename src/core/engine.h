// The engine every program fits with. The counts of the chosen populations and
// loci are arranged once; after that each evaluation of the score sums every
// distinct term once, in double precision, and carries a proven bound on its
// distance from the exact extended-precision sum. The root finder takes each
// sign from the fast sum where the bound settles it and from the exact sum
// everywhere else, so it returns what the plain loops give, to the bit.
// docs/bound.md derives the bound.
#pragma once

#include <cstdint>
#include <vector>

#include "core/datastr.h"
#include "core/tables.h"

// What to fit: populations and loci by number (from 1), and how often each
// locus counts: 1 for a plain fit, the number of draws of the locus in a
// bootstrap replicate over loci, 0 to leave it out. The exact sums run over
// the populations, then the loci, in the order given here. The weights'
// total times the number of populations may not exceed 65535 (a replicate
// of up to 99 loci of up to 99 populations is well inside); prepare throws
// std::invalid_argument otherwise.
struct subset {
    int npops = 0;
    int pops[MAXPOPS] = {};
    int nloci = 0;
    int loci[MAXLOCI] = {};
    int weight[MAXLOCI] = {};  // weight[j] belongs to loci[j]
};

// Every population and every locus of the data set, each once: vorn's fit.
subset wholedata(const datastr* data);

// The terms w(i) / (theta + r i) for i = 0, 1, ..., where r = 1/f and w is a
// step function. An allele's run has w(i) the number of populations (times
// the locus weight) with more than i copies of it; the sample part's run has
// f = 1 and w(i) the number of population-locus pairs (times the locus
// weight) with more than i genes. The weights are kept as segments, from
// weight on: a segment covers len consecutive values of i, after which the
// weight drops by drop; or, when the run's segments are short (dense), as
// one weight per i in dense[], with zeros up to a multiple of 4.
struct segment {
    std::uint8_t len;
    std::uint8_t drop;
};
struct run {
    float f = 1.0f;
    std::uint16_t weight = 0;
    bool dense = false;
    std::int32_t first = 0;  // into segments, or into dense
    std::int32_t count = 0;  // segments, or weights
};

struct engine {
    const datastr* data = nullptr;
    const tables* tab = nullptr;
    subset sel;

    // The allele runs locus by locus: those of sel.loci[j] are
    // runs[lstart[j]] up to runs[lstart[j + 1]]. sample is the sample part.
    std::vector<run> runs;
    std::vector<std::int32_t> lstart;
    run sample;
    std::vector<segment> segments;
    std::vector<std::uint8_t> dense;

    // The fast sum's bound is coef times the sum of the magnitudes of its
    // two parts (see fastscore). fast is false where the arithmetic does not
    // give what the bound assumes; every sign then comes from the exact sum.
    double coef = 0.0;
    bool fast = false;

    // For tests: the bound is multiplied by slack (at least 1), so that the
    // exact sum is called more often; wide false keeps the fast sum to SSE2
    // code where the processor has AVX2 (the values are the same).
    double slack = 1.0;
    bool wide = true;

    // Signs decided by scoresign: by the fast sum, and by the exact sum.
    long fastsigns = 0;
    long exactsigns = 0;
};

// Arranges the counts of the subset for evaluation. The engine keeps the
// pointers to data and tables, which must outlive it.
void prepare(engine& e, const datastr* data, const tables* t, const subset& s);

// The fast score: |value - score(e, theta)| <= bound holds for the exact
// extended-precision sum before its rounding to single precision, and bound
// is never below 2^-140, so a value beyond the bound also fixes the sign of
// the rounded score. bound is infinite when e.fast is false.
struct fastsum {
    double value = 0.0;
    double bound = 0.0;
};
fastsum fastscore(const engine& e, float theta);

// The exact score of the subset, summed as likelihood sums the whole data
// set (for wholedata it is likelihood's value, to the bit), and the variance
// likewise, equal to var's for wholedata.
float score(const engine& e, float theta);
long double var(const engine& e, float theta);

// The sign of score(e, theta): -1, 0 or 1. From the fast sum where its bound
// settles it, otherwise from the exact sum.
int scoresign(engine& e, float theta);

// rtbis on the score of the subset: the same trial points and the same result
// as rtbis(likelihood, ...) on the same sums, and the same failures.
float rtbis(engine& e, float x1, float x2, float xacc);

// The log-likelihood at theta, up to terms that do not depend on theta: over
// population-locus pairs, the sum of log(theta f_k + i) over the alleles'
// copies minus the sum of log(theta + i) over the pair's genes, each
// distinct term computed once, summed in extended precision.
long double loglik(const engine& e, double theta);
