// Maximum-likelihood estimate of theta under the Dirichlet-multinomial model:
// the score, the inverse observed information, and the bisection root finder.
#pragma once

#include "../driver/datastr.h"

// The driver's estimate: the root of the score between these ends, to this
// step length.
constexpr float LOWEST = 0.00001f;
constexpr float HIGHEST = 10000.0f;
constexpr float TOLERANCE = 0.0001f;

// The type of the score function handed to the root finder. The tables are
// the driver's ngenes and freq, passed as pointers to their first row.
using scorefunction = float (*)(float theta, const datastr* data, const std::int32_t (*ngenes)[MAXLOCI],
                                const float (*freq)[MAXALLELES]);

// First derivative of the log-likelihood at theta, summed in extended
// precision and rounded to single precision on return.
float likelihood(float theta, const datastr* data, const std::int32_t (*ngenes)[MAXLOCI],
                 const float (*freq)[MAXALLELES]);

// Inverse of the observed information at theta: the variance of the estimate.
// Not checked for sign: a non-positive value means the information is not positive.
long double var(float theta, const datastr* data, const std::int32_t (*ngenes)[MAXLOCI],
                const float (*freq)[MAXALLELES]);

// Root of func between x1 and x2 (either order) by halving a step until it is
// shorter than xacc. On failure it writes its message and enters the closing
// prompt, so it returns only a root.
float rtbis(scorefunction func, float x1, float x2, float xacc, const datastr* data,
            const std::int32_t (*ngenes)[MAXLOCI], const float (*freq)[MAXALLELES]);
