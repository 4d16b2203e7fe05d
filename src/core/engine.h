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

#include "core/counts.h"
#include "core/hugealloc.h"

// What to fit: some populations and loci of a count table, each locus
// counted a number of times, held to the given pooled frequencies. The exact
// sums run over the populations (outer), then the loci, in the order given.
struct problem {
    const counts* c = nullptr;
    std::vector<int> pops;    // populations in the fit, in the order the sums run
    std::vector<int> loci;    // loci in the fit, in the order the sums run
    std::vector<int> weight;  // times each entry of loci counts (0: left out); empty: once each
    // freq[l][k]: pooled share of allele k at locus l (every locus of the table).
    std::vector<std::vector<float>> freq;

    int weightof(std::size_t j) const { return weight.empty() ? 1 : weight[j]; }
};

// The terms w(i) / (theta + r i) for i = 0, 1, ..., where r = 1/f and w is a
// step function. An allele's run has w(i) the number of populations (times
// the locus weight) with more than i copies of it; the sample part's run has
// f = 1 and w(i) the number of population-locus pairs (times the locus
// weight) with more than i genes. The weights are kept as segments, from
// weight on: a segment covers len consecutive values of i, after which the
// weight drops by drop (longer segments and larger drops are split); or, when
// the run's segments are short and its weights fit a byte (dense), as one
// weight per i in dense[], with zeros up to a multiple of 8.
struct segment {
    std::uint8_t len;
    std::uint8_t drop;
};
struct series {
    float f = 1.0f;
    float rf = 1.0f;  // 1/f in single precision, for the narrow sum
    std::int64_t weight = 0;
    bool dense = false;
    std::int64_t first = 0;  // into segments, or into dense
    std::int64_t count = 0;  // segments, or weights
};

struct engine {
    const problem* pr = nullptr;

    // The allele runs locus by locus: those of pr->loci[j] are
    // runs[lstart[j]] up to runs[lstart[j + 1]]. sample is the sample part.
    hugevector<series> runs;
    hugevector<std::int64_t> lstart;
    series sample;
    hugevector<segment> segments;
    hugevector<std::uint8_t> dense;

    // The fast sum's bound is coef times the sum of the magnitudes of its
    // two parts (see fastscore). fast is false where the arithmetic does not
    // give what the bound assumes, or a weight does not fit the fast sum's
    // 32-bit lanes; every sign then comes from the exact sum.
    double coef = 0.0;
    bool fast = false;

    // The narrow sum is the fast sum in single precision, with a bound of
    // narrowcoef times its magnitude (see narrowscore); narrow is false
    // where its terms could leave single precision's range or lose their i.
    double narrowcoef = 0.0;
    bool narrow = false;

    // A small problem (a locus alone, say) also keeps the narrow sum's terms
    // one after another: for each nonzero term, fl_s(r_s i) and its weight,
    // negative in the sample part, so that one loop with no work per run
    // sums them all. Its bound is flatcoef times the sum of the terms'
    // magnitudes. Tests clear flat to reach the sum run by run.
    bool flat = false;
    double flatcoef = 0.0;
    std::vector<float> flatc, flatw;

    // For tests: the bound is multiplied by slack (at least 1), so that the
    // exact sum is called more often; wide false keeps the fast sum and the
    // log-likelihood to SSE2 code where the processor has AVX2 (the values
    // are the same).
    double slack = 1.0;
    bool wide = true;

    // The two shares of the fast sum's bound (docs/bound.md): h_f u, the
    // fast sum's own, and h_e u_L, the exact sum's.
    double fastpart = 0.0;
    double exactpart = 0.0;

    // Signs proven once for a stretch around a root (see certify): the
    // exact score is positive at every theta in [certlo, certpos] and
    // negative at every theta in [certneg, certhi]; an empty stretch has its
    // ends reversed. certtried: the current search has tried to prove them.
    // left: the trial points the current search has still to take, this one
    // included (rtbis keeps it; large outside a search): the proof costs
    // about four fast sums and is tried only where more than that are left.
    float certlo = 1.0f, certpos = 0.0f, certneg = 1.0f, certhi = 0.0f;
    bool certtried = false;
    int left = 1 << 30;

    // Signs decided by scoresign: without the exact sum (narrowsigns of them
    // by the narrow sum, certsigns by the signs proven around a root), and
    // by the exact sum.
    long fastsigns = 0;
    long narrowsigns = 0;
    long certsigns = 0;
    long exactsigns = 0;
    // Set when the narrow sum left a sign of the current search undecided:
    // the search's later trial points lie closer to the root, so it goes
    // straight to the fast sum there.
    bool narrowmissed = false;
};

// Arranges the counts of the problem for evaluation. The engine keeps a
// pointer to the problem, which must outlive it and stay unchanged.
void prepare(engine& e, const problem& pr);

// The fast score: |value - exactsum(e, theta)| <= bound, and bound is never
// below 2^-140, so a value beyond the bound also fixes the sign of the
// score rounded to single precision. bound is infinite when e.fast is false.
struct fastsum {
    double value = 0.0;
    double bound = 0.0;
};
fastsum fastscore(const engine& e, float theta);
// The same sum with its terms formed in single precision, eight to a vector
// (1.5 to 2 times as fast), with a bound some 10^6 times wider, which still
// settles the signs that are not close to a root. The bound is infinite when
// e.narrow is false or theta lies outside [2^-60, 2^60].
fastsum narrowscore(const engine& e, float theta);

// Near a root, where the narrow sum no longer settles signs, one pass of the
// fast sum's slopes at theta proves the score decreasing on a stretch around
// theta; a Newton step gives the root, and two fast sums just below and
// above it prove the exact score positive from the stretch's start to the
// first and negative from the second to its end (docs/bound.md). On success
// sets e's certificate; otherwise leaves it as it was.
void certify(engine& e, float theta);

// The exact score of the problem, the plain loops' extended-precision sum to
// the bit: over populations (outer) and loci, each pair's allele part (its
// alleles in order, each allele's copies i = 0, 1, ... as 1/((1/f) i + theta))
// less its sample part (1/(theta + i) for each gene), times the locus weight.
// score is that sum rounded to single precision; var is -1 over the same sum
// of the squared terms, with the difference reversed.
long double exactsum(const engine& e, float theta);
float score(const engine& e, float theta);
long double var(const engine& e, float theta);
long double information(const engine& e, float theta);  // minus the sum of squared terms

// The sign of score(e, theta): -1, 0 or 1. From the narrow sum, else the fast
// sum, where its bound settles it, otherwise from the exact sum.
int scoresign(engine& e, float theta);

// rtbis on the score of the problem: the same trial points and the same
// result as rtbis on the plain loops' score, and the same failures.
float rtbis(engine& e, float x1, float x2, float xacc);
// The same, where the signs of the score at x1 and x2 are known already.
float rtbis(engine& e, float x1, float x2, float xacc, int sign1, int sign2);

// The log-likelihood at theta, up to terms that do not depend on theta: over
// population-locus pairs, times the locus weight, the sum of log(theta f_k + i)
// over the alleles' copies minus the sum of log(theta + i) over the pair's
// genes, each distinct term computed once, summed in extended precision.
long double loglik(const engine& e, double theta);
