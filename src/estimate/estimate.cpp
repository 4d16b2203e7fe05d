#include "estimate.h"

#include <cmath>
#include <iostream>

#include "../reader/reader.h"

namespace {

// One term of the allele part: 1/(theta + i/f), formed as the reciprocal of
// f, times i, plus theta, then the reciprocal, all in extended precision.
inline long double alleleterm(long double theta, float f, int i)
{
    const long double r = 1.0L / f;
    return 1.0L / (r * i + theta);
}

// One term of the sample part: 1/(theta + i).
inline long double sampleterm(long double theta, int i)
{
    return 1.0L / (theta + i);
}

}  // namespace

float likelihood(float theta, const datastr* data, const std::int32_t (*ngenes)[MAXLOCI],
                 const float (*freq)[MAXALLELES])
{
    const long double t = theta;
    long double sum = 0.0L;
    for (int p = 1; p <= data->npops; ++p) {
        for (int l = 1; l <= data->nloci; ++l) {
            long double a = 0.0L;
            for (int k = 1; k <= data->nalleles[l]; ++k)
                for (int i = 0; i < data->allelecount[p][l][k]; ++i)
                    a += alleleterm(t, freq[l][k], i);
            long double b = 0.0L;
            for (int i = 0; i < ngenes[p][l]; ++i)
                b += sampleterm(t, i);
            sum += a - b;
        }
    }
    return static_cast<float>(sum);
}

long double var(float theta, const datastr* data, const std::int32_t (*ngenes)[MAXLOCI],
                const float (*freq)[MAXALLELES])
{
    const long double t = theta;
    long double sum = 0.0L;
    for (int p = 1; p <= data->npops; ++p) {
        for (int l = 1; l <= data->nloci; ++l) {
            long double a = 0.0L;
            for (int k = 1; k <= data->nalleles[l]; ++k)
                for (int i = 0; i < data->allelecount[p][l][k]; ++i) {
                    const long double term = alleleterm(t, freq[l][k], i);
                    a += term * term;
                }
            long double b = 0.0L;
            for (int i = 0; i < ngenes[p][l]; ++i) {
                const long double term = sampleterm(t, i);
                b += term * term;
            }
            sum += b - a;
        }
    }
    return -1.0L / sum;
}

float rtbis(scorefunction func, float x1, float x2, float xacc, const datastr* data,
            const std::int32_t (*ngenes)[MAXLOCI], const float (*freq)[MAXALLELES])
{
    const float f = func(x1, data, ngenes, freq);
    float fmid = func(x2, data, ngenes, freq);
    // The product in double precision is exact, so no underflow hides a sign change.
    if (static_cast<double>(f) * static_cast<double>(fmid) >= 0.0) {
        std::cerr << "\nEstimate of theta is not within interval 0.00001 to 10000";
        errorloop();
    }

    // Start at the end where the function is negative, stepping towards the other.
    long double rtb;
    float dx;
    if (f < 0.0f) {
        rtb = x1;
        dx = x2 - x1;
    } else {
        rtb = x2;
        dx = x1 - x2;
    }
    for (int j = 0; j < 40; ++j) {
        dx = dx * 0.5f;
        const long double xmid = rtb + dx;
        fmid = func(static_cast<float>(xmid), data, ngenes, freq);
        if (fmid <= 0.0f)
            rtb = xmid;
        if (std::fabs(dx) < xacc || fmid == 0.0f)
            return static_cast<float>(rtb);
    }
    std::cerr << "\nToo many bisections";
    errorloop();
}
