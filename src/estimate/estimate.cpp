#include "estimate.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
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
// populations 1..npops: each population continues its own sum. The sums are
// independent, so they are carried four at a time, in order of decreasing n,
// so that the four run side by side for almost their whole length.
template <bool Squared>
void addsums(long double theta, long double r, const int* n, int npops, long double* sums)
{
    // (n << 8 | p), largest n first; populations without a gene are left out.
    std::uint64_t order[MAXPOPS];
    int active = 0;
    for (int p = 1; p <= npops; ++p)
        if (n[p] > 0)
            order[active++] = static_cast<std::uint64_t>(n[p]) << 8 | static_cast<std::uint64_t>(p);
    std::sort(order, order + active, std::greater<>());
    auto pop = [&](int q) { return static_cast<int>(order[q] & 0xff); };

    const int most = active > 0 ? n[pop(0)] : 0;
    long double terms[CHUNK];
    for (int i0 = 0; i0 < most; i0 += CHUNK) {
        const int len = most - i0 < CHUNK ? most - i0 : CHUNK;
        for (int j = 0; j < len; ++j)
            terms[j] = term<Squared>(theta, r, i0 + j);
        auto length = [&](int q) { return std::clamp(n[pop(q)] - i0, 0, len); };
        constexpr int W = 6;
        int q = 0;
        for (; q + W - 1 < active && length(q + W - 1) > 0; q += W) {
            long double x[W];
            for (int w = 0; w < W; ++w)
                x[w] = sums[pop(q + w)];
            const int common = length(q + W - 1);
            for (int j = 0; j < common; ++j) {
                const long double t = terms[j];
                x[0] += t;
                x[1] += t;
                x[2] += t;
                x[3] += t;
                x[4] += t;
                x[5] += t;
            }
            for (int w = 0; w < W - 1; ++w)
                for (int j = common, m = length(q + w); j < m; ++j)
                    x[w] += terms[j];
            for (int w = 0; w < W; ++w)
                sums[pop(q + w)] = x[w];
        }
        for (; q < active; ++q) {
            long double x = sums[pop(q)];
            for (int j = 0, m = length(q); j < m; ++j)
                x += terms[j];
            sums[pop(q)] = x;
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
