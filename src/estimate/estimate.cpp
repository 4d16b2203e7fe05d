#include "estimate.h"

#include <cmath>
#include <iostream>

#include "../reader/reader.h"

namespace {

// Terms are formed CHUNK at a time into a small table and shared by every
// population that needs them.
constexpr int CHUNK = 512;

// The term of copy index i of an allele whose frequency has reciprocal r:
// 1/(theta + r*i), formed as r times i, plus theta, then the reciprocal,
// in extended precision; squared for the information. With r = 1 it is the
// term 1/(theta + i) of the sample part, to the bit.
template <bool Squared>
inline long double term(long double theta, long double r, int i)
{
    const long double t = 1.0L / (r * i + theta);
    return Squared ? t * t : t;
}

// sums[p] = term(0) + term(1) + ... + term(n[p] - 1), added in this order
// from 0, for populations 1..npops. Every population adds the same terms in
// the same order, so one running sum serves them all: its value after n terms
// is each population's sum of n terms.
template <bool Squared>
void firstsums(long double theta, long double r, const int* n, int npops, long double* sums)
{
    int most = 0;
    for (int p = 1; p <= npops; ++p) {
        sums[p] = 0.0L;
        most = n[p] > most ? n[p] : most;
    }
    long double partial[CHUNK];
    long double s = 0.0L;
    for (int i0 = 0; i0 < most; i0 += CHUNK) {
        const int len = most - i0 < CHUNK ? most - i0 : CHUNK;
        for (int j = 0; j < len; ++j) {
            s += term<Squared>(theta, r, i0 + j);
            partial[j] = s;
        }
        for (int p = 1; p <= npops; ++p)
            if (n[p] > i0 && n[p] <= i0 + len)
                sums[p] = partial[n[p] - i0 - 1];
    }
}

// sums[p] += term(0) + ... + term(n[p] - 1), one after the other, for
// populations 1..npops: each population continues its own sum.
template <bool Squared>
void addsums(long double theta, long double r, const int* n, int npops, long double* sums)
{
    int most = 0;
    for (int p = 1; p <= npops; ++p)
        most = n[p] > most ? n[p] : most;
    long double terms[CHUNK];
    for (int i0 = 0; i0 < most; i0 += CHUNK) {
        const int len = most - i0 < CHUNK ? most - i0 : CHUNK;
        for (int j = 0; j < len; ++j)
            terms[j] = term<Squared>(theta, r, i0 + j);
        for (int p = 1; p <= npops; ++p) {
            const int m = n[p] - i0 < len ? n[p] - i0 : len;
            long double s = sums[p];
            for (int j = 0; j < m; ++j)
                s += terms[j];
            sums[p] = s;
        }
    }
}

// The score (Squared false) or the information (Squared true), before the
// information is inverted. For each population p and locus l, the allele part
// A sums the terms of every counted gene, allele by allele, and the sample
// part B the terms 1/(theta + i) for i below ngenes[p][l]; A - B (B - A for
// the information) is added to the total in population-major order.
template <bool Squared>
long double total(float theta, const datastr* data, const std::int32_t (*ngenes)[MAXLOCI],
                  const float (*freq)[MAXALLELES])
{
    const long double t = theta;
    const int npops = data->npops;
    long double diff[MAXPOPS][MAXLOCI];
    int n[MAXPOPS];
    long double a[MAXPOPS];
    long double b[MAXPOPS];
    for (int l = 1; l <= data->nloci; ++l) {
        for (int p = 1; p <= npops; ++p)
            a[p] = 0.0L;
        for (int k = 1; k <= data->nalleles[l]; ++k) {
            for (int p = 1; p <= npops; ++p)
                n[p] = data->allelecount[p][l][k];
            const long double r = 1.0L / freq[l][k];
            // Every population's allele part starts from 0 with the first allele.
            if (k == 1)
                firstsums<Squared>(t, r, n, npops, a);
            else
                addsums<Squared>(t, r, n, npops, a);
        }
        for (int p = 1; p <= npops; ++p)
            n[p] = ngenes[p][l];
        firstsums<Squared>(t, 1.0L, n, npops, b);
        for (int p = 1; p <= npops; ++p)
            diff[p][l] = Squared ? b[p] - a[p] : a[p] - b[p];
    }
    long double sum = 0.0L;
    for (int p = 1; p <= npops; ++p)
        for (int l = 1; l <= data->nloci; ++l)
            sum += diff[p][l];
    return sum;
}

}  // namespace

float likelihood(float theta, const datastr* data, const std::int32_t (*ngenes)[MAXLOCI],
                 const float (*freq)[MAXALLELES])
{
    return static_cast<float>(total<false>(theta, data, ngenes, freq));
}

long double var(float theta, const datastr* data, const std::int32_t (*ngenes)[MAXLOCI],
                const float (*freq)[MAXALLELES])
{
    return -1.0L / total<true>(theta, data, ngenes, freq);
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
