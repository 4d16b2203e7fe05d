// Fits of theta to any part of a count table: some populations, some loci,
// each locus counted a number of times, held to pooled frequencies built as
// vorn builds them. The score, the information and the search are vorn's, so
// the whole table of a vorn data file gives vorn's estimate to the bit.
#pragma once

#include <vector>

#include "core/counts.h"
#include "core/engine.h"

// The pooled frequencies of the given populations, built as vorn builds
// them: a single-precision running sum over the populations in order, then
// each divided by the locus total taken in extended precision.
std::vector<std::vector<float>> pooled(const counts& c, const std::vector<int>& pops);

// A problem over the given populations and all loci, with frequencies pooled
// over those populations.
problem wholeproblem(const counts& c, std::vector<int> pops);
// All populations of the table.
std::vector<int> allpops(const counts& c);

// The score (first derivative of the log-likelihood), the observed
// information, and the log-likelihood itself, at theta: the engine's exact
// sums and its log-likelihood (core/engine.h), each arranging the problem
// anew. The log-likelihood is the Dirichlet-multinomial one less the terms
// that do not depend on theta; it tends to loglikinf as theta grows.
long double score(float theta, const problem& pr);
long double information(float theta, const problem& pr);
long double loglik(long double theta, const problem& pr);
// Multinomial sampling from the pooled frequencies: sum of n_k log f_k.
long double loglikinf(const problem& pr);

// Where a fit ended.
enum class fitend {
    root,   // theta is the estimate
    above,  // the score is positive at 10000: theta beyond it, no differentiation detectable
    below,  // the score is negative at 0.00001
    flat,   // the score is 0 at both ends: nothing to estimate from
    stuck,  // the search did not settle (does not happen with the fixed bracket)
};

struct fitresult {
    fitend end = fitend::flat;
    float theta = 0.0f;      // the estimate, when end is root
    long double var = 0.0L;  // inverse information at theta, when end is root
};

// vorn's estimate on the problem: bisection on the single-precision score
// between 0.00001 and 10000 to a step of 0.0001, each sign from the engine,
// so the same trial points and the same result as on the plain loops.
// Without variance, var is left 0 (the bootstrap needs only theta).
fitresult fit(engine& e, bool variance = true);
fitresult fit(const problem& pr, bool variance = true);
