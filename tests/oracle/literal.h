// The score and the variance written as the plain loops they are defined by:
// one division per gene, twice, per evaluation. Kept as the reference that the
// program's own functions must match to the bit, and as the benchmarks' baseline.
#pragma once

#include "driver/datastr.h"

float literallikelihood(float theta, const datastr* data, const std::int32_t (*ngenes)[MAXLOCI],
                        const float (*freq)[MAXALLELES]);

long double literalvar(float theta, const datastr* data, const std::int32_t (*ngenes)[MAXLOCI],
                       const float (*freq)[MAXALLELES]);
