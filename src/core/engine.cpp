#include "core/engine.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <utility>

namespace {

// Four doubles side by side, and four weights. Every operation acts on each
// lane alone, with IEEE rounding, so the lanes give the same bits whether the
// compiler uses one AVX register or two SSE2 registers for them.
using v4 = double __attribute__((vector_size(32)));
using u4 = std::uint16_t __attribute__((vector_size(8)));
using i4 = std::int32_t __attribute__((vector_size(16)));

// Segments hold at most this many values of i, and weights are at most this.
constexpr int MAXLEN = 65535;
constexpr int MAXWEIGHT = 65535;

// A run whose segments are this short on average keeps one weight per i.
constexpr int DENSE = 4;

// A size at which members of a run end, and their total weight.
struct end {
    int size;
    int drop;
};

// The distinct positive sizes among n members, in ascending order, each with
// the total weight of the members of that size; returns how many. Small
// sizes are sorted by tallying them.
int distinct(const int* size, const int* weight, int n, end* out)
{
    int most = 0;
    for (int m = 0; m < n; ++m)
        most = std::max(most, size[m]);
    constexpr int TALLY = 4096;
    int k = 0;
    if (most < TALLY) {
        int tally[TALLY];
        std::fill(tally, tally + most + 1, 0);
        for (int m = 0; m < n; ++m)
            tally[size[m]] += weight[m];
        for (int c = 1; c <= most; ++c) {
            out[k] = {c, tally[c]};
            k += tally[c] != 0;
        }
        return k;
    }
    std::vector<std::pair<int, int>> members;
    for (int m = 0; m < n; ++m)
        if (size[m] > 0)
            members.emplace_back(size[m], weight[m]);
    std::sort(members.begin(), members.end());
    for (const auto& [c, w] : members) {
        if (k > 0 && out[k - 1].size == c)
            out[k - 1].drop += w;
        else
            out[k++] = {c, w};
    }
    return k;
}

// The run of terms 1/(theta + i/f) whose weight w(i) is the total weight of
// the members with more than i: for i below the first end every member
// counts, and each end lowers the weight by its drop.
run makerun(engine& e, double f, const end* ends, int n)
{
    run ru;
    ru.f = f;
    ru.r = 1.0 / f;
    int w = 0;
    for (int k = 0; k < n; ++k)
        w += ends[k].drop;
    const std::int64_t most = n > 0 ? ends[n - 1].size : 0;
    ru.dense = most <= static_cast<std::int64_t>(DENSE) * n;
    ru.first = static_cast<std::int32_t>(ru.dense ? e.dense.size() : e.len.size());
    int done = 0;
    for (int k = 0; k < n; ++k) {
        for (int length = ends[k].size - done; length > 0; length -= MAXLEN) {
            const auto piece = static_cast<std::uint16_t>(std::min(length, MAXLEN));
            if (ru.dense) {
                e.dense.insert(e.dense.end(), piece, static_cast<std::uint16_t>(w));
            } else {
                e.len.push_back(piece);
                e.wt.push_back(static_cast<std::uint16_t>(w));
            }
        }
        w -= ends[k].drop;
        done = ends[k].size;
    }
    if (ru.dense) {
        // Zeros up to a whole number of lanes.
        e.dense.resize((e.dense.size() + 3) & ~std::size_t{3}, 0);
        ru.count = static_cast<std::int32_t>(e.dense.size()) - ru.first;
    } else {
        ru.count = static_cast<std::int32_t>(e.len.size()) - ru.first;
    }
    return ru;
}

// Additions that a term of a run of n values goes through in its lane.
std::int64_t lanesteps(std::int64_t n)
{
    return (n + 3) / 4;
}

// Whether double and long double round as IEEE arithmetic with the precision
// they declare. The x87 unit can be set to round long double results to
// double precision, and then the exact sum is not what the bound assumes.
bool arithmeticok()
{
    if constexpr (!std::numeric_limits<double>::is_iec559 || !std::numeric_limits<long double>::is_iec559) {
        return false;
    } else {
        volatile long double one = 1.0L;
        volatile long double tiny = std::numeric_limits<long double>::epsilon();
        return (one + tiny) - one == tiny;
    }
}

// acc += w[q] / (r i + theta) for q below n, a multiple of 4, with i moving on.
[[gnu::always_inline]] inline void addterms(v4& acc, v4& i, const std::uint16_t* w, int n, double r,
                                            double theta)
{
    for (int q = 0; q < n; q += 4) {
        u4 wq;
        std::memcpy(&wq, w + q, sizeof wq);
        acc += __builtin_convertvector(__builtin_convertvector(wq, i4), v4) / (r * i + theta);
        i += 4.0;
    }
}

// The run's terms w(i) / (theta + r i) added into acc, lane i mod 4. A run of
// long segments has its weights spread out here, a chunk at a time: each
// segment writes 16 copies of its weight and moves on by its length, so that
// short segments cost no branch.
[[gnu::always_inline]] inline void addrun(v4& acc, double theta, const run& ru, const engine& e)
{
    v4 i = {0.0, 1.0, 2.0, 3.0};
    if (ru.dense) {
        addterms(acc, i, e.dense.data() + ru.first, ru.count, ru.r, theta);
        return;
    }
    constexpr int CHUNK = 1024;
    std::uint16_t w[CHUNK + 16];
    int fill = 0;
    for (int s = ru.first; s < ru.first + ru.count; ++s) {
        const std::uint16_t weight = e.wt[static_cast<std::size_t>(s)];
        int left = e.len[static_cast<std::size_t>(s)];
        for (;;) {
            for (int j = 0; j < 16; ++j)
                w[fill + j] = weight;
            const int n = std::min(left, 16);
            fill += n;
            left -= n;
            if (fill >= CHUNK) {
                addterms(acc, i, w, CHUNK, ru.r, theta);
                fill -= CHUNK;
                std::memmove(w, w + CHUNK, sizeof w[0] * static_cast<unsigned>(fill));
            }
            if (left == 0)
                break;
        }
    }
    // The lanes past the end of the run add 0 / x, exactly 0.
    for (int j = 0; j < 4; ++j)
        w[fill + j] = 0;
    addterms(acc, i, w, (fill + 3) & ~3, ru.r, theta);
}

double lanesum(const v4& acc)
{
    return (acc[0] + acc[1]) + (acc[2] + acc[3]);
}

// The allele part, locus by locus, and the sample part.
[[gnu::always_inline]] inline std::pair<double, double> parts(const engine& e, double theta)
{
    double a = 0.0;
    for (std::size_t j = 0; j + 1 < e.lstart.size(); ++j) {
        v4 acc = {};
        for (std::int32_t k = e.lstart[j]; k < e.lstart[j + 1]; ++k)
            addrun(acc, theta, e.runs[static_cast<std::size_t>(k)], e);
        a += lanesum(acc);
    }
    v4 acc = {};
    addrun(acc, theta, e.sample, e);
    return {a, lanesum(acc)};
}

std::pair<double, double> partsbase(const engine& e, double theta)
{
    return parts(e, theta);
}

#if defined(__x86_64__)
[[gnu::target("avx2")]] std::pair<double, double> partsavx2(const engine& e, double theta)
{
    return parts(e, theta);
}
#endif

// The log-terms of a run: the sum over i of w(i) log(theta f + i).
long double logrun(const engine& e, const run& ru, double theta)
{
    long double sum = 0.0L;
    std::int64_t i = 0;
    const auto segment = [&](int length, int weight) {
        long double part = 0.0L;
        for (int n = 0; n < length; ++n, ++i)
            part += std::log(theta * ru.f + static_cast<double>(i));
        sum += weight * part;
    };
    for (int s = ru.first; s < ru.first + ru.count; ++s) {
        const auto k = static_cast<std::size_t>(s);
        if (ru.dense)
            segment(1, e.dense[k]);
        else
            segment(e.len[k], e.wt[k]);
    }
    return sum;
}

}  // namespace

subset wholedata(const datastr* data)
{
    subset s;
    s.npops = data->npops;
    for (int p = 1; p <= data->npops; ++p)
        s.pops[p - 1] = p;
    s.nloci = data->nloci;
    for (int l = 1; l <= data->nloci; ++l) {
        s.loci[l - 1] = l;
        s.weight[l - 1] = 1;
    }
    return s;
}

void prepare(engine& e, const datastr* data, const tables* t, const subset& s)
{
    e.data = data;
    e.tab = t;
    e.sel = s;
    e.runs.clear();
    e.lstart.clear();
    e.len.clear();
    e.wt.clear();
    e.dense.clear();
    e.fastsigns = 0;
    e.exactsigns = 0;

    int totalweight = 0;
    for (int j = 0; j < s.nloci; ++j)
        totalweight += std::max(s.weight[j], 0);
    if (static_cast<std::int64_t>(totalweight) * std::max(s.npops, 1) > MAXWEIGHT)
        throw std::invalid_argument("prepare: locus weights too large for the number of populations");

    // Each allele's counts in the subset's populations, and each pair's
    // sample size, with the locus weight.
    std::vector<int> sizes;
    std::vector<int> weights;
    sizes.reserve(static_cast<std::size_t>(s.npops) * static_cast<std::size_t>(s.nloci));
    weights.reserve(sizes.capacity());
    int counts[MAXALLELES][MAXPOPS];
    int w[MAXPOPS];
    end ends[MAXPOPS];
    std::int64_t mostlanes = 0;  // lane additions of the busiest locus
    for (int j = 0; j < s.nloci; ++j) {
        e.lstart.push_back(static_cast<std::int32_t>(e.runs.size()));
        const int l = s.loci[j];
        const int nalleles = data->nalleles[l];
        if (s.weight[j] <= 0)
            continue;
        std::fill(w, w + s.npops, s.weight[j]);
        for (int q = 0; q < s.npops; ++q) {
            const int p = s.pops[q];
            sizes.push_back(t->ngenes[p][l]);
            weights.push_back(s.weight[j]);
            for (int k = 1; k <= nalleles; ++k)
                counts[k][q] = data->allelecount[p][l][k];
        }
        std::int64_t lanes = 0;
        for (int k = 1; k <= nalleles; ++k) {
            const int n = distinct(counts[k], w, s.npops, ends);
            if (n == 0)
                continue;
            e.runs.push_back(makerun(e, t->freq[l][k], ends, n));
            lanes += lanesteps(ends[n - 1].size);
        }
        mostlanes = std::max(mostlanes, lanes);
    }
    e.lstart.push_back(static_cast<std::int32_t>(e.runs.size()));
    std::vector<end> pairends(sizes.size());
    const int n = distinct(sizes.data(), weights.data(), static_cast<int>(sizes.size()), pairends.data());
    e.sample = makerun(e, 1.0, pairends.data(), n);
    const std::int64_t most = n > 0 ? pairends[static_cast<std::size_t>(n) - 1].size : 0;

    // The bound (docs/bound.md): each term of the fast sum is rounded 4
    // times before it is added (1/f, times i, plus theta, the weight divided
    // by that) and then goes through at most the additions of its lane, the
    // 2 that join the lanes, the sum over loci and the final subtraction.
    // Each term of the exact sum is rounded 4 times, goes through the
    // additions of its pair's allele or sample part, their difference, the
    // product with the locus weight and the sum over all pairs.
    const std::int64_t faststeps = 4 + std::max(mostlanes + 2 + s.nloci, lanesteps(most) + 2) + 1;
    const std::int64_t exactsteps = 4 + most + 1 + 1 + static_cast<std::int64_t>(s.npops) * s.nloci;
    const double u = std::numeric_limits<double>::epsilon();
    const double ul = static_cast<double>(std::numeric_limits<long double>::epsilon());
    const double fastpart = static_cast<double>(faststeps) * u;
    const double exactpart = static_cast<double>(exactsteps) * ul;
    e.fast = arithmeticok() && fastpart < 1e-3 && exactpart < 1e-3;
    e.coef = 1.01 * (fastpart + exactpart);
}

fastsum fastscore(const engine& e, float theta)
{
    if (!e.fast)
        return {0.0, std::numeric_limits<double>::infinity()};
#if defined(__x86_64__)
    static const bool avx2 = __builtin_cpu_supports("avx2");
    const auto [a, b] = avx2 ? partsavx2(e, theta) : partsbase(e, theta);
#else
    const auto [a, b] = partsbase(e, theta);
#endif
    return {a - b, e.coef * (a + b) * e.slack + 0x1p-140};
}

long double loglik(const engine& e, double theta)
{
    long double a = 0.0L;
    for (const run& ru : e.runs)
        a += logrun(e, ru, theta);
    return a - logrun(e, e.sample, theta);
}
