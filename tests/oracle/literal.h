// The score and the variance written as the plain loops they are defined by:
// one division per gene, twice, per evaluation. Kept as the reference that the
// program's own functions must match to the bit, and as the benchmarks' baseline.
#pragma once

#include "core/fit.h"
#include "core/tables.h"

float literallikelihood(float theta, const datastr* data, const tables* t);

// The score's sum in extended precision, before its rounding to single precision.
long double literalsum(float theta, const datastr* data, const tables* t);

long double literalvar(float theta, const datastr* data, const tables* t);

// The same plain loops on a problem of a count table: populations outer,
// loci inner, each pair's allele part less its sample part, times the locus
// weight; and the bisection of fit on their score, rounded to single
// precision at each trial point.
long double plainscore(long double theta, const problem& pr);
long double plaininformation(long double theta, const problem& pr);
fitresult plainfit(const problem& pr);
