#include "core/estimate.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "core/engine.h"
#include "core/failure.h"

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

// sums[e] = term(0) + term(1) + ... + term(n[e] - 1), added in this order
// from 0, for entries e = 1..count (populations, or population-locus pairs).
// Every entry adds the same terms in the same order, so one running sum
// serves them all: its value after n terms is each entry's sum of n terms.
template <bool Squared>
void firstsums(long double theta, long double r, const int* n, int count, long double* sums)
{
    int most = 0;
    for (int e = 1; e <= count; ++e) {
        sums[e] = 0.0L;
        most = n[e] > most ? n[e] : most;
    }
    long double partial[CHUNK];
    long double s = 0.0L;
    for (int i0 = 0; i0 < most; i0 += CHUNK) {
        const int len = most - i0 < CHUNK ? most - i0 : CHUNK;
        for (int j = 0; j < len; ++j) {
            s += term<Squared>(theta, r, i0 + j);
            partial[j] = s;
        }
        for (int e = 1; e <= count; ++e)
            if (n[e] > i0 && n[e] <= i0 + len)
                sums[e] = partial[n[e] - i0 - 1];
    }
}

// sums[p] += term(0) + ... + term(n[p] - 1), one after the other, for
// populations 1..npops: each population continues its own sum. The sums are
// independent, so they are carried six at a time, side by side; populations
// are grouped roughly by decreasing n so that the six of a group have about
// the same length. n[0] must be 0: slot 0 pads the last group.
template <bool Squared>
void addsums(long double theta, long double r, const int* n, int npops, long double* sums)
{
    constexpr int GROUP = 6;
    int most = 0;
    for (int p = 1; p <= npops; ++p)
        most = n[p] > most ? n[p] : most;

    // Populations with genes, bucketed by n on a scale of 64 steps, the
    // largest bucket first; the order only matters for speed.
    constexpr int BUCKETS = 64;
    int shift = 0;
    while ((most >> shift) >= BUCKETS)
        ++shift;
    const int used = (most >> shift) + 1;
    int start[BUCKETS];
    std::fill(start, start + used, 0);
    for (int p = 1; p <= npops; ++p)
        if (n[p] > 0)
            ++start[n[p] >> shift];
    int active = 0;
    for (int b = used - 1; b >= 0; --b) {
        const int size = start[b];
        start[b] = active;
        active += size;
    }
    int order[MAXPOPS + GROUP];
    for (int p = 1; p <= npops; ++p)
        if (n[p] > 0)
            order[start[n[p] >> shift]++] = p;
    std::fill(order + active, order + active + GROUP, 0);

    long double terms[CHUNK];
    for (int i0 = 0; i0 < most; i0 += CHUNK) {
        const int len = most - i0 < CHUNK ? most - i0 : CHUNK;
        for (int j = 0; j < len; ++j)
            terms[j] = term<Squared>(theta, r, i0 + j);
        for (int q = 0; q < active; q += GROUP) {
            // The group's populations in order of decreasing length.
            int g[GROUP], m[GROUP];
            for (int w = 0; w < GROUP; ++w) {
                const int length = std::clamp(n[order[q + w]] - i0, 0, len);
                int v = w;
                for (; v > 0 && m[v - 1] < length; --v) {
                    g[v] = g[v - 1];
                    m[v] = m[v - 1];
                }
                g[v] = order[q + w];
                m[v] = length;
            }
            long double x0 = sums[g[0]], x1 = sums[g[1]], x2 = sums[g[2]];
            long double x3 = sums[g[3]], x4 = sums[g[4]], x5 = sums[g[5]];
            int j = 0;
            for (; j < m[5]; ++j) {
                const long double t = terms[j];
                x0 += t;
                x1 += t;
                x2 += t;
                x3 += t;
                x4 += t;
                x5 += t;
            }
            for (; j < m[4]; ++j) {
                const long double t = terms[j];
                x0 += t;
                x1 += t;
                x2 += t;
                x3 += t;
                x4 += t;
            }
            for (; j < m[3]; ++j) {
                const long double t = terms[j];
                x0 += t;
                x1 += t;
                x2 += t;
                x3 += t;
            }
            for (; j < m[2]; ++j) {
                const long double t = terms[j];
                x0 += t;
                x1 += t;
                x2 += t;
            }
            for (; j < m[1]; ++j) {
                const long double t = terms[j];
                x0 += t;
                x1 += t;
            }
            for (; j < m[0]; ++j)
                x0 += terms[j];
            sums[g[0]] = x0;
            sums[g[1]] = x1;
            sums[g[2]] = x2;
            sums[g[3]] = x3;
            sums[g[4]] = x4;
            sums[g[5]] = x5;
        }
    }
}

// The score (Squared false) or the information (Squared true), before the
// information is inverted, over the populations and loci of s. For each
// population p and locus l, the allele part A sums the terms of every counted
// gene, allele by allele, and the sample part B the terms 1/(theta + i) for i
// below ngenes[p][l]; A - B (B - A for the information), times the locus
// weight, is added to the total in population-major order.
template <bool Squared>
long double total(float theta, const datastr* data, const tables* tab, const subset& s)
{
    const auto& freq = tab->freq;
    const auto& ngenes = tab->ngenes;
    const long double t = theta;
    const int npops = s.npops;
    const int nloci = s.nloci;

    // The sample part of a pair depends on ngenes[p][l] alone, so one running
    // sum serves every population and locus: b[e] is the sample part of the
    // pairs with sizes[e] genes, for the distinct sizes, ascending, in
    // sizes[1..count].
    int sizes[MAXPOPS * MAXLOCI + 1];
    int count = 0;
    for (int q = 0; q < npops; ++q)
        for (int j = 0; j < nloci; ++j)
            sizes[++count] = ngenes[s.pops[q]][s.loci[j]];
    std::sort(sizes + 1, sizes + count + 1);
    count = static_cast<int>(std::unique(sizes + 1, sizes + count + 1) - (sizes + 1));
    std::vector<long double> b(static_cast<std::size_t>(count) + 1);
    firstsums<Squared>(t, 1.0L, sizes, count, b.data());
    const auto sample = [&](int n) {
        return b[static_cast<std::size_t>(std::lower_bound(sizes + 1, sizes + count + 1, n) - sizes)];
    };

    long double a[MAXLOCI][MAXPOPS];  // a[j][q + 1]: the allele part of each pair
    int counts[MAXALLELES][MAXPOPS];  // counts[k][q + 1] of the locus at hand
    for (int j = 0; j < nloci; ++j) {
        const int l = s.loci[j];
        const int nalleles = data->nalleles[l];
        // One pass over the record per locus: each population's counts of
        // the locus lie together.
        for (int q = 0; q < npops; ++q)
            for (int k = 1; k <= nalleles; ++k)
                counts[k][q + 1] = data->allelecount[s.pops[q]][l][k];
        for (int k = 1; k <= nalleles; ++k)
            counts[k][0] = 0;
        for (int q = 1; q <= npops; ++q)
            a[j][q] = 0.0L;
        for (int k = 1; k <= nalleles; ++k) {
            const long double r = 1.0L / freq[l][k];
            // Every population's allele part starts from 0 with the first allele.
            if (k == 1)
                firstsums<Squared>(t, r, counts[k], npops, a[j]);
            else
                addsums<Squared>(t, r, counts[k], npops, a[j]);
        }
    }

    long double sum = 0.0L;
    for (int q = 0; q < npops; ++q)
        for (int j = 0; j < nloci; ++j) {
            const long double bp = sample(ngenes[s.pops[q]][s.loci[j]]);
            const long double d = Squared ? bp - a[j][q + 1] : a[j][q + 1] - bp;
            sum += s.weight[j] == 1 ? d : s.weight[j] * d;
        }
    return sum;
}

// rtbis's halvings on value(x), a function of single-precision x whose
// sign alone counts: the score's value, or -1, 0 or 1 for its sign.
template <typename Value>
float bisect(Value value, float x1, float x2, float xacc)
{
    const float f = value(x1);
    float fmid = value(x2);
    // The product in double precision is exact, so no underflow hides a sign change.
    if (static_cast<double>(f) * static_cast<double>(fmid) >= 0.0)
        throw failure("\nEstimate of theta is not within interval 0.00001 to 10000");

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
        fmid = value(static_cast<float>(xmid));
        if (fmid <= 0.0f)
            rtb = xmid;
        if (std::fabs(dx) < xacc || fmid == 0.0f)
            return static_cast<float>(rtb);
    }
    throw failure("\nToo many bisections");
}

}  // namespace

float likelihood(float theta, const datastr* data, const tables* t)
{
    return static_cast<float>(total<false>(theta, data, t, wholedata(data)));
}

long double var(float theta, const datastr* data, const tables* t)
{
    return -1.0L / total<true>(theta, data, t, wholedata(data));
}

float rtbis(scorefunction func, float x1, float x2, float xacc, const datastr* data, const tables* t)
{
    return bisect([&](float x) { return func(x, data, t); }, x1, x2, xacc);
}

float score(const engine& e, float theta)
{
    return static_cast<float>(total<false>(theta, e.data, e.tab, e.sel));
}

long double var(const engine& e, float theta)
{
    return -1.0L / total<true>(theta, e.data, e.tab, e.sel);
}

int scoresign(engine& e, float theta)
{
    if (e.fast) {
        const fastsum f = fastscore(e, theta);
        if (f.value > f.bound || f.value < -f.bound) {
            ++e.fastsigns;
            return f.value > 0.0 ? 1 : -1;
        }
    }
    ++e.exactsigns;
    const float s = score(e, theta);
    return (s > 0.0f) - (s < 0.0f);
}

float rtbis(engine& e, float x1, float x2, float xacc)
{
    return bisect([&](float x) { return static_cast<float>(scoresign(e, x)); }, x1, x2, xacc);
}

float estimate(const datastr* data, const tables* t)
{
    engine e;
    prepare(e, data, t, wholedata(data));
    return rtbis(e, LOWEST, HIGHEST, TOLERANCE);
}
