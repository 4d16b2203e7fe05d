#include "core/estimate.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
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
inline long double term(long double theta, long double r, std::int64_t i)
{
    const long double t = 1.0L / (r * i + theta);
    return Squared ? t * t : t;
}

// sums[e] = term(0) + term(1) + ... + term(n[e] - 1), added in this order
// from 0, for entries e = 1..count (populations, or population-locus pairs).
// Every entry adds the same terms in the same order, so one running sum
// serves them all: its value after n terms is each entry's sum of n terms.
template <bool Squared>
void firstsums(long double theta, long double r, const std::int64_t* n, std::size_t count, long double* sums)
{
    std::int64_t most = 0;
    for (std::size_t e = 1; e <= count; ++e) {
        sums[e] = 0.0L;
        most = n[e] > most ? n[e] : most;
    }
    if (count == 1) {
        // One entry (a population alone): the sum itself, term by term.
        long double s = 0.0L;
        for (std::int64_t i = 0; i < most; ++i)
            s += term<Squared>(theta, r, i);
        sums[1] = s;
        return;
    }
    long double partial[CHUNK];
    long double s = 0.0L;
    for (std::int64_t i0 = 0; i0 < most; i0 += CHUNK) {
        const int len = most - i0 < CHUNK ? static_cast<int>(most - i0) : CHUNK;
        for (int j = 0; j < len; ++j) {
            s += term<Squared>(theta, r, i0 + j);
            partial[j] = s;
        }
        for (std::size_t e = 1; e <= count; ++e)
            if (n[e] > i0 && n[e] <= i0 + len)
                sums[e] = partial[n[e] - i0 - 1];
    }
}

// sums[p] += term(0) + ... + term(n[p] - 1), one after the other, for
// populations 1..npops: each population continues its own sum. The sums are
// independent, so they are carried six at a time, side by side; populations
// are grouped roughly by decreasing n so that the six of a group have about
// the same length. n[0] must be 0: slot 0 pads the last group. order is
// room for the grouping, kept from call to call.
template <bool Squared>
void addsums(long double theta, long double r, const std::int64_t* n, int npops, long double* sums,
             std::vector<int>& order)
{
    constexpr int GROUP = 6;
    std::int64_t most = 0;
    int withgenes = 0, first = 0, second = 0;  // first and second: the first two with genes
    for (int p = 1; p <= npops; ++p) {
        most = n[p] > most ? n[p] : most;
        if (n[p] > 0) {
            ++withgenes;
            (first == 0 ? first : second) = p;
        }
    }
    if (withgenes == 0)
        return;
    if (withgenes <= 2) {
        // One or two populations with genes (a population alone, a pair):
        // each term is added as it is formed, the longer sum going on alone
        // (second is 0 for one, and n[0] is 0).
        const int a = n[first] >= n[second] ? first : second, b = a == first ? second : first;
        long double xa = sums[a], xb = sums[b];
        std::int64_t i = 0;
        for (; i < n[b]; ++i) {
            const long double t = term<Squared>(theta, r, i);
            xa += t;
            xb += t;
        }
        for (; i < n[a]; ++i)
            xa += term<Squared>(theta, r, i);
        sums[a] = xa;
        if (b != 0)
            sums[b] = xb;
        return;
    }

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
    order.resize(static_cast<std::size_t>(active) + GROUP);
    for (int p = 1; p <= npops; ++p)
        if (n[p] > 0)
            order[start[n[p] >> shift]++] = p;
    std::fill(order.begin() + active, order.end(), 0);

    long double terms[CHUNK];
    for (std::int64_t i0 = 0; i0 < most; i0 += CHUNK) {
        const int len = most - i0 < CHUNK ? static_cast<int>(most - i0) : CHUNK;
        for (int j = 0; j < len; ++j)
            terms[j] = term<Squared>(theta, r, i0 + j);
        for (int q = 0; q < active; q += GROUP) {
            // The group's populations in order of decreasing length.
            int g[GROUP], m[GROUP];
            for (int w = 0; w < GROUP; ++w) {
                const int length = static_cast<int>(std::clamp<std::int64_t>(n[order[q + w]] - i0, 0, len));
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

// Room the exact sums keep from one call to the next, so that the many small
// problems of a run (a locus, a population, a pair) allocate nothing; what a
// large problem needed is given back when it is done.
struct room {
    std::vector<std::int64_t> sizes, counts, genes;
    std::vector<long double> b, row;
    std::vector<int> order;
};

room& exactroom()
{
    thread_local room r;
    return r;
}

template <typename V>
void giveback(V& v)
{
    if (v.capacity() > 65536)
        V().swap(v);
}

}  // namespace

hugevector<long double>& pairparts(std::size_t n)
{
    thread_local hugevector<long double> v;
    if (v.capacity() > 65536 && v.capacity() / 4 > n)
        hugevector<long double>().swap(v);
    if (v.size() < n)
        v.resize(n);
    return v;
}

namespace {

// The score (Squared false) or the information (Squared true), before the
// information is inverted, over the populations and loci of the problem. For
// each population p and locus l, the allele part A sums the terms of every
// counted gene, allele by allele, and the sample part B the terms
// 1/(theta + i) for i below the pair's genes; A - B (B - A for the
// information), times the locus weight, is added to the total in
// population-major order. A locus of weight 0 would add 0 and is left out.
template <bool Squared>
long double total(float theta, const problem& pr)
{
    const counts& c = *pr.c;
    const long double t = theta;
    const auto npops = static_cast<int>(pr.pops.size());
    const std::size_t nloci = pr.loci.size();
    const auto stride = static_cast<std::size_t>(npops) + 1;

    // The genes of population q at the locus of entry j.
    const auto genesof = [&](int q, std::size_t j) {
        const int l = pr.loci[j];
        const std::int32_t* x = c.at(pr.pops[static_cast<std::size_t>(q)], l);
        std::int64_t n = 0;
        for (int k = 0; k < c.nalleles[static_cast<std::size_t>(l)]; ++k)
            n += x[k];
        return n;
    };

    // The sample part of a pair depends on its genes alone, so one running
    // sum serves every pair. Where the largest pair has no more genes than
    // there are pairs, or than 1024, b[n] keeps the running sum after every
    // n; otherwise b[e] is the sample part of the pairs with sizes[e] genes,
    // for the distinct sizes, ascending, in sizes[1..count]. Both hold the
    // same sums.
    std::size_t pairs = 0;
    std::int64_t most = 0;
    for (std::size_t j = 0; j < nloci; ++j)
        if (pr.weightof(j) != 0)
            for (int q = 0; q < npops; ++q) {
                most = std::max(most, genesof(q, j));
                ++pairs;
            }
    const bool everyn = most <= std::max<std::int64_t>(static_cast<std::int64_t>(pairs), 1024);
    room& m = exactroom();
    std::vector<std::int64_t>& sizes = m.sizes;
    sizes.assign(1, 0);
    std::vector<long double>& b = m.b;
    b.clear();
    if (everyn) {
        // The running sum itself, term by term in the same order.
        b.resize(static_cast<std::size_t>(most) + 1);
        b[0] = 0.0L;
        long double run = 0.0L;
        for (std::int64_t i = 0; i < most; ++i) {
            run += term<Squared>(t, 1.0L, i);
            b[static_cast<std::size_t>(i) + 1] = run;
        }
    } else {
        for (std::size_t j = 0; j < nloci; ++j)
            if (pr.weightof(j) != 0)
                for (int q = 0; q < npops; ++q)
                    sizes.push_back(genesof(q, j));
        std::sort(sizes.begin() + 1, sizes.end());
        sizes.erase(std::unique(sizes.begin() + 1, sizes.end()), sizes.end());
        const std::size_t count = sizes.size() - 1;
        b.resize(count + 1);
        firstsums<Squared>(t, 1.0L, sizes.data(), count, b.data());
    }
    const auto sample = [&](std::int64_t n) {
        if (everyn)
            return b[static_cast<std::size_t>(n)];
        return b[static_cast<std::size_t>(std::lower_bound(sizes.begin() + 1, sizes.end(), n) -
                                          sizes.begin())];
    };

    // d[q * nloci + j]: each pair's allele part less its sample part (the
    // reverse for the information), population by population, so that the
    // sum over them reads it in order (a locus left out, of weight 0, is
    // neither written nor read); row holds one locus's parts while they are
    // summed.
    hugevector<long double>& d = pairparts(nloci * static_cast<std::size_t>(npops));
    std::vector<long double>& row = m.row;
    row.resize(stride);
    std::vector<std::int64_t>& counts = m.counts;  // counts[k * stride + q + 1] of the locus at hand
    std::vector<std::int64_t>& genes = m.genes;    // genes[q] of the locus at hand
    genes.resize(stride);
    for (std::size_t j = 0; j < nloci; ++j) {
        if (pr.weightof(j) == 0)
            continue;
        const int l = pr.loci[j];
        const auto nalleles = static_cast<std::size_t>(c.nalleles[static_cast<std::size_t>(l)]);
        counts.resize(nalleles * stride);
        for (std::size_t k = 0; k < nalleles; ++k)
            counts[k * stride] = 0;
        for (int q = 0; q < npops; ++q) {
            const std::int32_t* x = c.at(pr.pops[static_cast<std::size_t>(q)], l);
            std::int64_t n = 0;
            for (std::size_t k = 0; k < nalleles; ++k) {
                counts[k * stride + static_cast<std::size_t>(q) + 1] = x[k];
                n += x[k];
            }
            genes[static_cast<std::size_t>(q)] = n;
        }
        long double* sums = row.data();
        std::fill(row.begin(), row.end(), 0.0L);  // a locus without alleles has parts 0
        for (std::size_t k = 0; k < nalleles; ++k) {
            const long double r = 1.0L / pr.freq[static_cast<std::size_t>(l)][k];
            // Every population's allele part starts from 0 with the first allele.
            if (k == 0)
                firstsums<Squared>(t, r, counts.data() + k * stride, static_cast<std::size_t>(npops), sums);
            else
                addsums<Squared>(t, r, counts.data() + k * stride, npops, sums, m.order);
        }
        for (int q = 0; q < npops; ++q) {
            const long double a = sums[q + 1];
            const long double bp = sample(genes[static_cast<std::size_t>(q)]);
            d[static_cast<std::size_t>(q) * nloci + j] = Squared ? bp - a : a - bp;
        }
    }

    long double sum = 0.0L;
    for (int q = 0; q < npops; ++q) {
        const long double* x = d.data() + static_cast<std::size_t>(q) * nloci;
        for (std::size_t j = 0; j < nloci; ++j) {
            const int w = pr.weightof(j);
            if (w == 0)
                continue;
            sum += w == 1 ? x[j] : w * x[j];
        }
    }
    giveback(m.sizes);
    giveback(m.counts);
    giveback(m.genes);
    giveback(m.b);
    giveback(m.row);
    giveback(m.order);
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

// vorn's record as a count table and the problem of all of it, with the
// record's own pooled frequencies.
struct whole {
    counts c;
    problem pr;
    whole(const datastr* data, const tables* t) : c(viewrecord(*data)), pr(recordproblem(c, t)) {}
};

}  // namespace

problem recordproblem(const counts& c, const tables* t)
{
    problem pr;
    pr.c = &c;
    for (int p = 0; p < c.npops(); ++p)
        pr.pops.push_back(p);
    for (int l = 0; l < c.nloci(); ++l) {
        pr.loci.push_back(l);
        pr.freq.emplace_back(t->freq[l + 1] + 1,
                             t->freq[l + 1] + 1 + c.nalleles[static_cast<std::size_t>(l)]);
    }
    return pr;
}

float likelihood(float theta, const datastr* data, const tables* t)
{
    const whole w(data, t);
    return static_cast<float>(total<false>(theta, w.pr));
}

long double var(float theta, const datastr* data, const tables* t)
{
    const whole w(data, t);
    return -1.0L / total<true>(theta, w.pr);
}

float rtbis(scorefunction func, float x1, float x2, float xacc, const datastr* data, const tables* t)
{
    return bisect([&](float x) { return func(x, data, t); }, x1, x2, xacc);
}

long double exactsum(const engine& e, float theta)
{
    return total<false>(theta, *e.pr);
}

float score(const engine& e, float theta)
{
    return static_cast<float>(exactsum(e, theta));
}

long double var(const engine& e, float theta)
{
    return -1.0L / total<true>(theta, *e.pr);
}

long double information(const engine& e, float theta)
{
    return -total<true>(theta, *e.pr);
}

int scoresign(engine& e, float theta)
{
    const auto proven = [&e](float x) {
        return x >= e.certlo && x <= e.certpos ? 1 : x >= e.certneg && x <= e.certhi ? -1 : 0;
    };
    if (const int s = proven(theta)) {
        ++e.fastsigns;
        ++e.certsigns;
        return s;
    }
    if (e.narrow && !e.narrowmissed) {
        const fastsum f = narrowscore(e, theta);
        if (f.value > f.bound || f.value < -f.bound) {
            ++e.fastsigns;
            ++e.narrowsigns;
            return f.value > 0.0 ? 1 : -1;
        }
        e.narrowmissed = true;
    }
    if (e.narrowmissed && !e.certtried && e.left > 5) {
        // Close to a root: prove the signs around it once, for the rest
        // of the search.
        e.certtried = true;
        certify(e, theta);
        if (const int s = proven(theta)) {
            ++e.fastsigns;
            ++e.certsigns;
            return s;
        }
    }
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

// The trial points bisect takes between x1 and x2 after the ends: it halves
// the step until it is shorter than xacc (or the score is 0 at one).
int trialpoints(float x1, float x2, float xacc)
{
    float dx = x2 - x1;
    int n = 0;
    do {
        dx = dx * 0.5f;
        ++n;
    } while (!(std::fabs(dx) < xacc) && n < 40);
    return n;
}

float rtbis(engine& e, float x1, float x2, float xacc)
{
    const int sign1 = scoresign(e, x1);
    const int sign2 = scoresign(e, x2);
    return rtbis(e, x1, x2, xacc, sign1, sign2);
}

float rtbis(engine& e, float x1, float x2, float xacc, int sign1, int sign2)
{
    e.narrowmissed = false;
    e.certtried = false;
    // bisect asks for the ends first, x1 then x2.
    struct search {
        engine& e;
        ~search() { e.left = 1 << 30; }
    } during{e};
    int calls = 0;
    const int points = trialpoints(x1, x2, xacc);
    return bisect(
        [&](float x) {
            ++calls;
            if (calls <= 2)
                return static_cast<float>(calls == 1 ? sign1 : sign2);
            e.left = points - (calls - 3);
            return static_cast<float>(scoresign(e, x));
        },
        x1, x2, xacc);
}

float estimate(const datastr* data, const tables* t)
{
    const whole w(data, t);
    engine e;
    prepare(e, w.pr);
    return rtbis(e, LOWEST, HIGHEST, TOLERANCE);
}
