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
using i4 = std::int32_t __attribute__((vector_size(16)));
using b4 = std::uint8_t __attribute__((vector_size(4)));
using h4 = std::uint16_t __attribute__((vector_size(8)));

// Weights of a run are at most this.
constexpr int MAXWEIGHT = 65535;

// A run whose segments are this short on average, and whose weights fit a
// byte, keeps one weight per i.
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

// The distinct positive sample sizes of the subset's population-locus pairs,
// ascending, each with the total weight of the pairs of that size.
std::vector<end> sampleends(const tables* t, const subset& s)
{
    int most = 0;
    for (int j = 0; j < s.nloci; ++j)
        for (int q = 0; q < s.npops; ++q)
            if (s.weight[j] > 0)
                most = std::max(most, t->ngenes[s.pops[q]][s.loci[j]]);
    std::vector<end> ends;
    constexpr int TALLY = 1 << 16;
    if (most < TALLY) {
        std::vector<int> tally(static_cast<std::size_t>(most) + 1);
        for (int j = 0; j < s.nloci; ++j)
            for (int q = 0; q < s.npops; ++q)
                if (s.weight[j] > 0)
                    tally[static_cast<std::size_t>(t->ngenes[s.pops[q]][s.loci[j]])] += s.weight[j];
        for (int c = 1; c <= most; ++c)
            if (tally[static_cast<std::size_t>(c)] != 0)
                ends.push_back({c, tally[static_cast<std::size_t>(c)]});
        return ends;
    }
    std::vector<std::pair<int, int>> pairs;
    for (int j = 0; j < s.nloci; ++j)
        for (int q = 0; q < s.npops; ++q)
            if (const int n = t->ngenes[s.pops[q]][s.loci[j]]; n > 0 && s.weight[j] > 0)
                pairs.emplace_back(n, s.weight[j]);
    std::sort(pairs.begin(), pairs.end());
    for (const auto& [n, w] : pairs) {
        if (!ends.empty() && ends.back().size == n)
            ends.back().drop += w;
        else
            ends.push_back({n, w});
    }
    return ends;
}

// A segment of a run: length values of i at the run's current weight, which
// then drops. Both fit a byte; longer segments and larger drops are split.
void addsegment(engine& e, int length, int drop)
{
    for (; length > 255; length -= 255) {
        e.segments.push_back({255, 0});
    }
    do {
        const int d = std::min(drop, 255);
        e.segments.push_back({static_cast<std::uint8_t>(length), static_cast<std::uint8_t>(d)});
        drop -= d;
        length = 0;
    } while (drop > 0);
}

// The run of terms 1/(theta + i/f) whose weight w(i) is the total weight of
// the members with more than i: for i below the first end every member
// counts, and each end lowers the weight by its drop.
run makerun(engine& e, float f, const end* ends, int n)
{
    run ru;
    ru.f = f;
    int w = 0;
    for (int k = 0; k < n; ++k)
        w += ends[k].drop;
    ru.weight = static_cast<std::uint16_t>(w);
    const std::int64_t most = n > 0 ? ends[n - 1].size : 0;
    ru.dense = w <= 255 && most <= static_cast<std::int64_t>(DENSE) * n;
    ru.first = static_cast<std::int32_t>(ru.dense ? e.dense.size() : e.segments.size());
    int done = 0;
    for (int k = 0; k < n; ++k) {
        if (ru.dense)
            e.dense.insert(e.dense.end(), static_cast<std::size_t>(ends[k].size - done),
                           static_cast<std::uint8_t>(w));
        else
            addsegment(e, ends[k].size - done, ends[k].drop);
        w -= ends[k].drop;
        done = ends[k].size;
    }
    if (ru.dense) {
        // Zeros up to a whole number of lanes.
        e.dense.resize((e.dense.size() + 3) & ~std::size_t{3}, 0);
        ru.count = static_cast<std::int32_t>(e.dense.size()) - ru.first;
    } else {
        ru.count = static_cast<std::int32_t>(e.segments.size()) - ru.first;
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

// Four weights from w, as integers.
[[gnu::always_inline]] inline i4 widen(const std::uint8_t* w)
{
    b4 x;
    std::memcpy(&x, w, sizeof x);
    return __builtin_convertvector(x, i4);
}
[[gnu::always_inline]] inline i4 widen(const std::uint16_t* w)
{
    h4 x;
    std::memcpy(&x, w, sizeof x);
    return __builtin_convertvector(x, i4);
}

// acc += w[q] / (r i + theta) for q below n, a multiple of 4, with i moving on.
template <typename Weight>
[[gnu::always_inline]] inline void addterms(v4& acc, v4& i, const Weight* w, int n, double r, double theta)
{
    for (int q = 0; q < n; q += 4) {
        acc += __builtin_convertvector(widen(w + q), v4) / (r * i + theta);
        i += 4.0;
    }
}

// The run's terms w(i) / (theta + r i) added into acc, lane i mod 4. A run
// kept as segments has its weights spread out here, a chunk at a time: each
// segment writes its weight 32 copies at a time and moves on by its length,
// so that a short segment costs no branch. The chunk is long enough that its
// stores have left the store buffer before the terms read them back.
[[gnu::always_inline]] inline void addrun(v4& acc, double theta, const run& ru, const engine& e)
{
    const double r = 1.0 / static_cast<double>(ru.f);
    v4 i = {0.0, 1.0, 2.0, 3.0};
    if (ru.dense) {
        addterms(acc, i, e.dense.data() + ru.first, ru.count, r, theta);
        return;
    }
    constexpr int CHUNK = 1024;
    std::uint16_t w[CHUNK + 256 + 32];
    int fill = 0;
    int weight = ru.weight;
    for (int s = ru.first; s < ru.first + ru.count; ++s) {
        const int length = e.segments[static_cast<std::size_t>(s)].len;
        int done = 0;
        do {
            for (int j = 0; j < 32; ++j)
                w[fill + done + j] = static_cast<std::uint16_t>(weight);
            done += 32;
        } while (done < length);
        fill += length;
        weight -= e.segments[static_cast<std::size_t>(s)].drop;
        if (fill >= CHUNK) {
            const int n = fill & ~3;
            addterms(acc, i, w, n, r, theta);
            fill -= n;
            std::memmove(w, w + n, sizeof w[0] * static_cast<unsigned>(fill));
        }
    }
    // The lanes past the end of the run add 0 / x, exactly 0.
    for (int j = 0; j < 4; ++j)
        w[fill + j] = 0;
    addterms(acc, i, w, (fill + 3) & ~3, r, theta);
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
    const double f = ru.f;
    long double sum = 0.0L;
    std::int64_t i = 0;
    const auto add = [&](int length, int weight) {
        long double part = 0.0L;
        for (int n = 0; n < length; ++n, ++i)
            part += std::log(theta * f + static_cast<double>(i));
        sum += weight * part;
    };
    int weight = ru.weight;
    for (int s = ru.first; s < ru.first + ru.count; ++s) {
        const auto k = static_cast<std::size_t>(s);
        if (ru.dense) {
            add(1, e.dense[k]);
        } else {
            add(e.segments[k].len, weight);
            weight -= e.segments[k].drop;
        }
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
    e.segments.clear();
    e.dense.clear();
    e.fastsigns = 0;
    e.exactsigns = 0;

    int totalweight = 0;
    for (int j = 0; j < s.nloci; ++j)
        totalweight += std::max(s.weight[j], 0);
    if (static_cast<std::int64_t>(totalweight) * std::max(s.npops, 1) > MAXWEIGHT)
        throw std::invalid_argument("prepare: locus weights too large for the number of populations");

    // Room for every run at once: a run has at most one segment per
    // population (split segments aside), and a dense run at most DENSE + 1
    // weights per population. What is reserved but not used is never touched.
    std::size_t alleles = 0;
    for (int j = 0; j < s.nloci; ++j)
        alleles += static_cast<std::size_t>(data->nalleles[s.loci[j]]);
    const auto members = static_cast<std::size_t>(s.npops);
    e.runs.reserve(alleles);
    e.segments.reserve(alleles * members + 1);
    e.dense.reserve(alleles * (DENSE + 1) * members + 4);

    // Each allele's counts in the subset's populations, with the locus weight.
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
        for (int q = 0; q < s.npops; ++q)
            for (int k = 1; k <= nalleles; ++k)
                counts[k][q] = data->allelecount[s.pops[q]][l][k];
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
    const std::vector<end> pairs = sampleends(t, s);
    e.sample = makerun(e, 1.0f, pairs.data(), static_cast<int>(pairs.size()));
    const std::int64_t most = pairs.empty() ? 0 : pairs.back().size;

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
    const auto [a, b] = avx2 && e.wide ? partsavx2(e, theta) : partsbase(e, theta);
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
