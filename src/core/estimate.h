// Maximum-likelihood estimate of theta under the Dirichlet-multinomial model:
// the score, the inverse observed information, and the bisection root finder,
// each as the exact extended-precision sums over the whole data set. The
// record is converted to a count table and fitted by the engine
// (core/engine.h), which decides most signs faster.
#pragma once

#include <cstddef>

#include "core/datastr.h"
#include "core/hugealloc.h"
#include "core/tables.h"

struct counts;
struct problem;  // core/engine.h

// The estimate: the root of the score between these ends, to this step length.
constexpr float LOWEST = 0.00001f;
constexpr float HIGHEST = 10000.0f;
constexpr float TOLERANCE = 0.0001f;

// The type of the score function handed to the root finder.
using scorefunction = float (*)(float theta, const datastr* data, const tables* t);

// The score: first derivative of the log-likelihood at theta, summed in
// extended precision and rounded to single precision on return.
float likelihood(float theta, const datastr* data, const tables* t);

// Inverse of the observed information at theta: the variance of the estimate.
// Not checked for sign: a non-positive value means the information is not positive.
long double var(float theta, const datastr* data, const tables* t);

// Root of func between x1 and x2 (either order) by halving a step until it is
// shorter than xacc. Throws failure when the function does not change sign
// between the ends, or when 40 halvings do not reach the tolerance.
float rtbis(scorefunction func, float x1, float x2, float xacc, const datastr* data, const tables* t);

// The problem of the whole table c, converted from a record, held to the
// record's pooled frequencies t->freq (c must outlive it).
problem recordproblem(const counts& c, const tables* t);

// vorn's estimate: rtbis(likelihood, LOWEST, HIGHEST, TOLERANCE, data, t) to
// the bit, with the same failures, taking each sign from the engine's fast
// sum where its bound settles it.
float estimate(const datastr* data, const tables* t);

// One extended-precision value per population-locus pair, for the exact sums
// and loglikinf in turn (never both at once): at least n entries, holding
// whatever the last user left. It is kept from call to call, so that the
// sums of one large problem (its variance, then its log-likelihood at
// infinity, which gives a large array back) share it; a call that needs far
// less gives it back first.
hugevector<long double>& pairparts(std::size_t n);
