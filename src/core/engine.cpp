#include "core/engine.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

namespace {

// Four doubles side by side, and four weights. Every operation acts on each
// lane alone, with IEEE rounding, so the lanes give the same bits whether the
// compiler uses one AVX register or two SSE2 registers for them.
using v4 = double __attribute__((vector_size(32)));
using i4 = std::int32_t __attribute__((vector_size(16)));
using u4 = std::uint32_t __attribute__((vector_size(16)));
using l4 = std::int64_t __attribute__((vector_size(32)));
using q4 = std::uint64_t __attribute__((vector_size(32)));
// Eight single-precision lanes and their weights, for the narrow sum.
using f8 = float __attribute__((vector_size(32)));
using i8 = std::int32_t __attribute__((vector_size(32)));
using u8 = std::uint32_t __attribute__((vector_size(32)));
using f4 = float __attribute__((vector_size(16)));

// Weights of a run are spread out as 32-bit integers; a problem with a
// larger weight (more than 2^31 population-locus pairs, counting the
// locus weights) leaves every sign to the exact sum.
constexpr std::int64_t MAXWEIGHT = std::numeric_limits<std::int32_t>::max();

// A run whose segments are this short on average, and whose weights fit a
// byte, keeps one weight per i.
constexpr std::int64_t DENSE = 4;

// The narrow sum's single-precision lanes take this many additions before
// they go into its double-precision lanes.
constexpr int FLUSH = 16;

// A size at which members of a run end, and their total weight.
struct end {
    std::int64_t size;
    std::int64_t drop;
};

// The distinct positive sizes among n members, in ascending order, each with
// the total weight of the members of that size; returns how many. Small
// sizes are sorted by tallying them.
std::size_t distinct(const std::int64_t* size, const std::int64_t* weight, std::size_t n, end* out)
{
    std::int64_t most = 0;
    for (std::size_t m = 0; m < n; ++m)
        most = std::max(most, size[m]);
    constexpr std::int64_t TALLY = 4096;
    std::size_t k = 0;
    if (most < TALLY) {
        std::int64_t tally[TALLY];
        std::fill(tally, tally + most + 1, 0);
        for (std::size_t m = 0; m < n; ++m)
            tally[size[m]] += weight[m];
        for (std::int64_t c = 1; c <= most; ++c) {
            out[k] = {c, tally[c]};
            k += tally[c] != 0;
        }
        return k;
    }
    std::vector<std::pair<std::int64_t, std::int64_t>> members;
    for (std::size_t m = 0; m < n; ++m)
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

// The distinct sizes among the members in v, ascending, each with the total
// weight of its members, in place at the start of v; returns how many.
// Small sizes are sorted by tallying them.
std::size_t merge(hugevector<end>& v)
{
    std::int64_t most = 0;
    for (const end& x : v)
        most = std::max(most, x.size);
    std::size_t m = 0;
    constexpr std::int64_t TALLY = 4096;
    if (most < TALLY) {
        std::int64_t tally[TALLY];
        std::fill(tally, tally + most + 1, 0);
        for (const end& x : v)
            tally[x.size] += x.drop;
        for (std::int64_t c = 1; c <= most; ++c)
            if (tally[c] != 0)
                v[m++] = {c, tally[c]};
        return m;
    }
    std::sort(v.begin(), v.end(), [](const end& x, const end& y) { return x.size < y.size; });
    for (const end& x : v) {
        if (m > 0 && v[m - 1].size == x.size)
            v[m - 1].drop += x.drop;
        else
            v[m++] = x;
    }
    return m;
}

// A segment of a run: length values of i at the run's current weight, which
// then drops. Both fit a byte; longer segments and larger drops are split.
void addsegment(engine& e, std::int64_t length, std::int64_t drop)
{
    for (; length > 255; length -= 255)
        e.segments.push_back({255, 0});
    do {
        const std::int64_t d = std::min<std::int64_t>(drop, 255);
        e.segments.push_back({static_cast<std::uint8_t>(length), static_cast<std::uint8_t>(d)});
        drop -= d;
        length = 0;
    } while (drop > 0);
}

// The run of terms 1/(theta + i/f) whose weight w(i) is the total weight of
// the members with more than i: for i below the first end every member
// counts, and each end lowers the weight by its drop.
series makerun(engine& e, float f, const end* ends, std::size_t n)
{
    series ru;
    ru.f = f;
    ru.rf = 1.0f / f;
    std::int64_t w = 0;
    for (std::size_t k = 0; k < n; ++k)
        w += ends[k].drop;
    ru.weight = w;
    const std::int64_t most = n > 0 ? ends[n - 1].size : 0;
    ru.dense = w <= 255 && most <= DENSE * static_cast<std::int64_t>(n);
    if (ru.dense) {
        // One weight per i, then zeros up to a multiple of 8 (the narrow
        // sum's lanes; the fast sum adds the last four as 0 / x). Each
        // end's weight is written 8 bytes at a time from where the last one
        // ended, past its own end (the next end writes over the excess), so
        // that short stretches cost no mispredicted branch; 8 bytes of room
        // beyond the run take the last writes.
        ru.first = static_cast<std::int64_t>(e.dense.size());
        ru.count = (most + 7) & ~std::int64_t{7};
        e.dense.resize(e.dense.size() + static_cast<std::size_t>(ru.count) + 8);
        std::uint8_t* out = e.dense.data() + ru.first;
        std::int64_t i = 0;
        for (std::size_t k = 0; k < n; ++k) {
            const std::uint64_t bytes = 0x0101010101010101ULL * static_cast<std::uint64_t>(w);
            for (std::int64_t j = i; j < ends[k].size; j += 8)
                std::memcpy(out + j, &bytes, sizeof bytes);
            i = ends[k].size;
            w -= ends[k].drop;
        }
        const std::uint64_t zeros = 0;
        std::memcpy(out + most, &zeros, sizeof zeros);
        e.dense.resize(static_cast<std::size_t>(ru.first + ru.count));
        return ru;
    }
    ru.first = static_cast<std::int64_t>(e.segments.size());
    std::int64_t done = 0;
    for (std::size_t k = 0; k < n; ++k) {
        addsegment(e, ends[k].size - done, ends[k].drop);
        done = ends[k].size;
    }
    ru.count = static_cast<std::int64_t>(e.segments.size()) - ru.first;
    return ru;
}

// Additions that a term of a run of n values goes through in its lane.
std::int64_t lanesteps(std::int64_t n)
{
    return (n + 3) / 4;
}

// Additions of the narrow sum's double lanes that a term of a run of n
// values goes through: one for every FLUSH of its lane's terms, and one
// at the end of the run.
std::int64_t flushes(std::int64_t n)
{
    constexpr std::int64_t terms = std::int64_t{8} * FLUSH;  // of a run between two flushes
    return (n + terms - 1) / terms;
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
    // Each lane shifts its own byte down (a conversion of the byte vector
    // itself compiles to a byte at a time).
    std::uint32_t x;
    std::memcpy(&x, w, sizeof x);
    const u4 all = {x, x, x, x};
    const u4 shift = {0, 8, 16, 24};
    return __builtin_bit_cast(i4, (all >> shift) & 255u);
}
[[gnu::always_inline]] inline i4 widen(const std::int32_t* w)
{
    i4 x;
    std::memcpy(&x, w, sizeof x);
    return x;
}

// acc += w[q] / (r i + theta) for q below n, a multiple of 4, with i moving
// on; Squared: that quotient divided by r i + theta once more.
template <bool Squared, typename Weight>
[[gnu::always_inline]] inline void addterms(v4& acc, v4& i, const Weight* w, std::int64_t n, double r,
                                            double theta)
{
    for (std::int64_t q = 0; q < n; q += 4) {
        const v4 x = r * i + theta;
        const v4 t = __builtin_convertvector(widen(w + q), v4) / x;
        acc += Squared ? t / x : t;
        i += 4.0;
    }
}

// The weights of a run kept as segments, spread out as 32-bit integers and
// handed to add(w, n) a chunk at a time, n a multiple of Lanes: each segment
// writes its weight 32 copies at a time and moves on by its length, so that
// a short segment costs no branch. The chunk is long enough that its stores
// have left the store buffer before the terms read them back. The last
// chunk is padded with zero weights, whose terms 0 / x add exactly 0.
template <int Lanes, typename Add>
[[gnu::always_inline]] inline void spreadrun(const series& ru, const engine& e, Add add)
{
    constexpr int CHUNK = 1024;
    std::int32_t w[CHUNK + 256 + 32];
    int fill = 0;
    auto weight = static_cast<std::int32_t>(ru.weight);
    for (std::int64_t s = ru.first; s < ru.first + ru.count; ++s) {
        const segment sg = e.segments[static_cast<std::size_t>(s)];
        int done = 0;
        do {
            for (int j = 0; j < 32; ++j)
                w[fill + done + j] = weight;
            done += 32;
        } while (done < sg.len);
        fill += sg.len;
        weight -= sg.drop;
        if (fill >= CHUNK) {
            const int n = fill & ~(Lanes - 1);
            add(w, n);
            fill -= n;
            std::memmove(w, w + n, sizeof w[0] * static_cast<unsigned>(fill));
        }
    }
    for (int j = 0; j < Lanes; ++j)
        w[fill + j] = 0;
    add(w, (fill + Lanes - 1) & ~(Lanes - 1));
}

// The run's terms w(i) / (theta + r i) (Squared: w(i) / (theta + r i)^2)
// added into acc, lane i mod 4.
template <bool Squared>
[[gnu::always_inline]] inline void addrun(v4& acc, double theta, const series& ru, const engine& e)
{
    const double r = 1.0 / static_cast<double>(ru.f);
    v4 i = {0.0, 1.0, 2.0, 3.0};
    if (ru.dense)
        addterms<Squared>(acc, i, e.dense.data() + ru.first, ru.count, r, theta);
    else
        spreadrun<4>(ru, e, [&](const std::int32_t* w, int n) { addterms<Squared>(acc, i, w, n, r, theta); });
}

double lanesum(const v4& acc)
{
    return (acc[0] + acc[1]) + (acc[2] + acc[3]);
}

// The allele part, locus by locus, and the sample part (Squared: their
// slopes' magnitudes).
template <bool Squared>
[[gnu::always_inline]] inline std::pair<double, double> parts(const engine& e, double theta)
{
    double a = 0.0;
    for (std::size_t j = 0; j + 1 < e.lstart.size(); ++j) {
        v4 acc = {};
        for (std::int64_t k = e.lstart[j]; k < e.lstart[j + 1]; ++k)
            addrun<Squared>(acc, theta, e.runs[static_cast<std::size_t>(k)], e);
        a += lanesum(acc);
    }
    v4 acc = {};
    addrun<Squared>(acc, theta, e.sample, e);
    return {a, lanesum(acc)};
}

template <bool Squared>
std::pair<double, double> partsbase(const engine& e, double theta)
{
    return parts<Squared>(e, theta);
}

#if defined(__x86_64__)
template <bool Squared>
[[gnu::target("avx2")]] std::pair<double, double> partsavx2(const engine& e, double theta)
{
    return parts<Squared>(e, theta);
}
#endif

// parts on the widest vectors the processor has.
template <bool Squared>
std::pair<double, double> partsof(const engine& e, double theta)
{
#if defined(__x86_64__)
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2 && e.wide)
        return partsavx2<Squared>(e, theta);
#endif
    return partsbase<Squared>(e, theta);
}

// The narrow sum: the same terms in single precision, eight at a time,
// where a division costs a fraction of a double one. The terms are added
// into eight single-precision lanes, which go into eight double-precision
// lanes after every 16 additions and at the end of each run; a locus's
// double lanes are joined as ((l0 + l1) + (l2 + l3)) + ((l4 + l5) + (l6 + l7))
// and added into the allele part; the sample run's lanes are joined the
// same way.
struct lanes8 {
    v4 lo = {}, hi = {};
    f8 part = {};
    int steps = 0;  // additions into part since it was last emptied
};

[[gnu::always_inline]] inline void flush(lanes8& l)
{
    const f4 lo = __builtin_shufflevector(l.part, l.part, 0, 1, 2, 3);
    const f4 hi = __builtin_shufflevector(l.part, l.part, 4, 5, 6, 7);
    l.lo += __builtin_convertvector(lo, v4);
    l.hi += __builtin_convertvector(hi, v4);
    l.part = f8{};
    l.steps = 0;
}

// Eight weights as single-precision numbers. A dense run's bytes come out
// in the order 0, 4, 1, 5, 2, 6, 3, 7 (each lane shifts its own byte out of
// the eight; so the terms' i go in the same order); 32-bit weights in order.
// (The weights come back through a reference: a 32-byte vector returned by
// value would take a different calling convention with and without AVX.)
[[gnu::always_inline]] inline void widen8(const std::uint8_t* w, f8& out)
{
    std::uint64_t x;
    std::memcpy(&x, w, sizeof x);
    const q4 all = {x, x, x, x};
    const u8 shift = {0, 0, 8, 8, 16, 16, 24, 24};
    out = __builtin_convertvector(__builtin_bit_cast(i8, (__builtin_bit_cast(u8, all) >> shift) & 255u), f8);
}
[[gnu::always_inline]] inline void widen8(const std::int32_t* w, f8& out)
{
    i8 x;
    std::memcpy(&x, w, sizeof x);
    out = __builtin_convertvector(x, f8);
}

// acc += w[q] / (r i + theta) for q below n, a multiple of 8.
template <typename Weight>
[[gnu::always_inline]] inline void addterms8(lanes8& acc, f8& i, const Weight* w, std::int64_t n, float r,
                                             float theta)
{
    for (std::int64_t q = 0; q < n; q += 8) {
        f8 weights;
        widen8(w + q, weights);
        acc.part += weights / (r * i + theta);
        i += 8.0f;
        if (++acc.steps == FLUSH)
            flush(acc);
    }
}

// addrun for the narrow sum.
[[gnu::always_inline]] inline void addrun8(lanes8& acc, float theta, const series& ru, const engine& e)
{
    const float r = ru.rf;
    if (ru.dense) {
        f8 i = {0.0f, 4.0f, 1.0f, 5.0f, 2.0f, 6.0f, 3.0f, 7.0f};
        addterms8(acc, i, e.dense.data() + ru.first, ru.count, r, theta);
    } else {
        f8 i = {0.0f, 1.0f, 2.0f, 3.0f, 4.0f, 5.0f, 6.0f, 7.0f};
        spreadrun<8>(ru, e, [&](const std::int32_t* w, int n) { addterms8(acc, i, w, n, r, theta); });
    }
    if (acc.steps > 0)
        flush(acc);
}

double lanesum8(const lanes8& acc)
{
    return lanesum(acc.lo) + lanesum(acc.hi);
}

[[gnu::always_inline]] inline std::pair<double, double> parts8(const engine& e, float theta)
{
    double a = 0.0;
    for (std::size_t j = 0; j + 1 < e.lstart.size(); ++j) {
        lanes8 acc;
        for (std::int64_t k = e.lstart[j]; k < e.lstart[j + 1]; ++k)
            addrun8(acc, theta, e.runs[static_cast<std::size_t>(k)], e);
        a += lanesum8(acc);
    }
    lanes8 acc;
    addrun8(acc, theta, e.sample, e);
    return {a, lanesum8(acc)};
}

std::pair<double, double> parts8base(const engine& e, float theta)
{
    return parts8(e, theta);
}

#if defined(__x86_64__)
[[gnu::target("avx2")]] std::pair<double, double> parts8avx2(const engine& e, float theta)
{
    return parts8(e, theta);
}
#endif

// The narrow sum of a flat problem: the terms w / (c + theta) in eight
// single-precision lanes, FLUSH vectors at a time, each block's lanes then
// added into eight double-precision lanes; the magnitudes |w / (c + theta)|
// the same way beside them. Returns the value and the magnitude, each
// joined as ((l0 + l1) + (l2 + l3)) + ((l4 + l5) + (l6 + l7)).
[[gnu::always_inline]] inline std::pair<double, double> flat8(const engine& e, float theta)
{
    const float* c = e.flatc.data();
    const float* w = e.flatw.data();
    const std::size_t n = e.flatc.size();  // a multiple of 8
    lanes8 value, size;
    const u8 nosign = {0x7fffffffu, 0x7fffffffu, 0x7fffffffu, 0x7fffffffu,
                       0x7fffffffu, 0x7fffffffu, 0x7fffffffu, 0x7fffffffu};
    constexpr std::size_t BLOCK = std::size_t{8} * FLUSH;  // terms between two flushes
    for (std::size_t q0 = 0; q0 < n; q0 += BLOCK) {
        const std::size_t end = std::min(n, q0 + BLOCK);
        for (std::size_t q = q0; q < end; q += 8) {
            f8 cq, wq;
            std::memcpy(&cq, c + q, sizeof cq);
            std::memcpy(&wq, w + q, sizeof wq);
            const f8 t = wq / (cq + theta);
            value.part += t;
            size.part += __builtin_bit_cast(f8, __builtin_bit_cast(u8, t) & nosign);
        }
        flush(value);
        flush(size);
    }
    return {lanesum8(value), lanesum8(size)};
}

std::pair<double, double> flat8base(const engine& e, float theta)
{
    return flat8(e, theta);
}

#if defined(__x86_64__)
[[gnu::target("avx2")]] std::pair<double, double> flat8avx2(const engine& e, float theta)
{
    return flat8(e, theta);
}
#endif

// A small problem's terms laid out flat for flat8, when they are few
// enough: each nonzero term's fl_s(r_s i) and weight, negative in the
// sample part, then zeros up to a multiple of 8. Sets e.flat; exactpart is
// the exact sum's share of the bound (h_e u_L).
void makeflat(engine& e, double exactpart)
{
    constexpr std::int64_t FLATMOST = 4096;  // terms; 32 KB of arrays
    e.flat = false;
    e.flatc.clear();
    e.flatw.clear();
    if (!e.narrow)
        return;
    const auto length = [&](const series& ru) {
        if (ru.dense)
            return ru.count;
        std::int64_t n = 0;
        for (std::int64_t s = ru.first; s < ru.first + ru.count; ++s)
            n += e.segments[static_cast<std::size_t>(s)].len;
        return n;
    };
    std::int64_t terms = length(e.sample);
    for (std::size_t r = 0; r < e.runs.size() && terms <= FLATMOST; ++r)
        terms += length(e.runs[r]);
    if (terms > FLATMOST)
        return;
    // Written in place. A run's weights never rise, so its nonzero terms
    // are those before a dense run's trailing zeros.
    e.flatc.resize(static_cast<std::size_t>(terms) + 8);
    e.flatw.resize(static_cast<std::size_t>(terms) + 8);
    float* c = e.flatc.data();
    float* w = e.flatw.data();
    std::int64_t n = 0;
    const auto add = [&](const series& ru, float sign) {
        if (ru.dense) {
            const std::uint8_t* d = e.dense.data() + ru.first;
            std::int64_t len = ru.count;
            while (len > 0 && d[len - 1] == 0)
                --len;
            for (std::int64_t i = 0; i < len; ++i) {
                c[n + i] = ru.rf * static_cast<float>(i);
                w[n + i] = sign * static_cast<float>(d[i]);
            }
            n += len;
            return;
        }
        std::int64_t i = 0, weight = ru.weight;
        for (std::int64_t s = ru.first; s < ru.first + ru.count; ++s) {
            const segment sg = e.segments[static_cast<std::size_t>(s)];
            const float ws = sign * static_cast<float>(weight);
            for (int k = 0; k < sg.len; ++k) {
                c[n + k] = ru.rf * static_cast<float>(i + k);
                w[n + k] = ws;
            }
            n += sg.len;
            i += sg.len;
            weight -= sg.drop;
        }
    };
    for (const series& ru : e.runs)
        add(ru, 1.0f);
    add(e.sample, -1.0f);
    for (; n % 8 != 0; ++n) {
        c[n] = 0.0f;
        w[n] = 0.0f;
    }
    e.flatc.resize(static_cast<std::size_t>(n));
    e.flatw.resize(static_cast<std::size_t>(n));
    // The bound (docs/bound.md): a term is rounded 5 times in single
    // precision and goes through at most FLUSH single-precision additions,
    // then through one double-precision addition for each block of its
    // lane, the 3 of the lanes' join and, counted as in the run-by-run sum,
    // 1 more.
    const std::int64_t singlesteps = 5 + FLUSH;
    const std::int64_t doublesteps = flushes(n) + 3 + 1;
    const double u = std::numeric_limits<double>::epsilon();
    e.flatcoef = 1.01 * (static_cast<double>(singlesteps) * 0x1p-23 + static_cast<double>(doublesteps) * u +
                         exactpart);
    e.flat = true;
}

// A positive number as mantissa times 2^exponent, the mantissa kept in
// [1, 2) by moving its exponent field (exactly) into exponent, so that long
// products neither overflow nor underflow.
struct scaled {
    double m = 1.0;
    std::int64_t exponent = 0;
};

[[gnu::always_inline]] inline void normalize(double& m, std::int64_t& exponent)
{
    auto bits = std::bit_cast<std::uint64_t>(m);
    exponent += static_cast<std::int64_t>(bits >> 52) - 1023;
    bits = (bits & ((std::uint64_t{1} << 52) - 1)) | (std::uint64_t{1023} << 52);
    m = std::bit_cast<double>(bits);
}

// The same for four positive numbers, each lane's exponent kept in its own
// lane of exponent (sum them with lanetotal). The shift is a logical one:
// the sign bits are 0, and 64-bit vectors have no arithmetic shift before
// AVX-512.
[[gnu::always_inline]] inline void normalize(v4& m, l4& exponent)
{
    q4 bits = __builtin_bit_cast(q4, m);
    exponent += __builtin_bit_cast(l4, bits >> 52) - 1023;
    bits = (bits & ((std::uint64_t{1} << 52) - 1)) | (std::uint64_t{1023} << 52);
    m = __builtin_bit_cast(v4, bits);
}

std::int64_t lanetotal(const l4& x)
{
    return (x[0] + x[1]) + (x[2] + x[3]);
}

// acc times (m 2^e)^d, d >= 1, by repeated squaring.
void multiplypower(scaled& acc, double m, std::int64_t e, std::int64_t d)
{
    for (;;) {
        if (d & 1) {
            acc.m *= m;
            acc.exponent += e;
            normalize(acc.m, acc.exponent);
        }
        d >>= 1;
        if (d == 0)
            return;
        m *= m;
        e *= 2;
        normalize(m, e);
    }
}

// One dense run's factors x + i into b[0..Bits), Bits the bit width of its
// weights: b[k] takes the factors whose weight has bit k set. The products
// are held in registers for the run, scaled every 8 factors and once more
// at its end, so that every lane of every b[k] takes at most 8 factors
// between scalings. Scaling moves a power of 2 into the exponent, which
// leaves every rounding as it was: the products do not depend on when it
// is done.
template <int Bits>
[[gnu::always_inline]] inline void denserun(const std::uint8_t* w, std::int64_t count, double x, v4* b,
                                            l4* exponent)
{
    const v4 one = {1.0, 1.0, 1.0, 1.0};
    const l4 onebits = __builtin_bit_cast(l4, one);
    v4 p[Bits];
    l4 ex[Bits];
    for (int k = 0; k < Bits; ++k) {
        p[k] = b[k];
        ex[k] = exponent[k];
    }
    v4 y = {x, x + 1.0, x + 2.0, x + 3.0};
    int factors = 0;
    for (std::int64_t q = 0; q < count; q += 4) {
        // y where bit k of the weight is set, 1 elsewhere, chosen bit by bit.
        // Bit k of each weight moved to the sign and spread over its lane.
        const l4 wq = __builtin_convertvector(widen(w + q), l4);
        const l4 ybits = __builtin_bit_cast(l4, y);
#pragma GCC unroll 8
        for (int k = 0; k < Bits; ++k) {
            const l4 mask = (wq << (63 - k)) < 0;
            p[k] *= __builtin_bit_cast(v4, mask ? ybits : onebits);
        }
        y += 4.0;
        if (++factors == 8) {
            for (int k = 0; k < Bits; ++k)
                normalize(p[k], ex[k]);
            factors = 0;
        }
    }
    for (int k = 0; k < Bits; ++k) {
        normalize(p[k], ex[k]);
        b[k] = p[k];
        exponent[k] = ex[k];
    }
}

// The dense runs' products, by the bits of their weights: b[k] is the
// product of the factors x + i whose weight w(i) has bit k set, over every
// dense run of a part, so that the part's product is that of the b[k]^(2^k),
// taken once for all the runs. Four values of i at a time, one lane each
// (a run's weights fit a byte: 8 bits).
[[gnu::always_inline]] inline void logdense(const engine& e, const series* runs, std::size_t nruns,
                                            double theta, scaled& acc)
{
    v4 b[8];
    l4 exponent[8];
    for (int k = 0; k < 8; ++k) {
        b[k] = v4{1.0, 1.0, 1.0, 1.0};
        exponent[k] = l4{};
    }
    int used = 0;
    for (std::size_t r = 0; r < nruns; ++r) {
        const series& ru = runs[r];
        if (!ru.dense)
            continue;
        const int bits = std::bit_width(static_cast<std::uint64_t>(ru.weight));
        used = std::max(used, bits);
        const double x = theta * static_cast<double>(ru.f);
        const std::uint8_t* w = e.dense.data() + ru.first;
        switch (bits) {
        case 1:
            denserun<1>(w, ru.count, x, b, exponent);
            break;
        case 2:
            denserun<2>(w, ru.count, x, b, exponent);
            break;
        case 3:
            denserun<3>(w, ru.count, x, b, exponent);
            break;
        case 4:
            denserun<4>(w, ru.count, x, b, exponent);
            break;
        case 5:
            denserun<5>(w, ru.count, x, b, exponent);
            break;
        case 6:
            denserun<6>(w, ru.count, x, b, exponent);
            break;
        case 7:
            denserun<7>(w, ru.count, x, b, exponent);
            break;
        case 8:
            denserun<8>(w, ru.count, x, b, exponent);
            break;
        default:
            break;  // no weight: no factor
        }
    }
    // Each b[k]'s lanes into one number, then the product of the
    // b[k]^(2^k) from the highest bit down: r = r^2 b[k].
    scaled r;
    for (int k = used - 1; k >= 0; --k) {
        double m = (b[k][0] * b[k][1]) * (b[k][2] * b[k][3]);
        std::int64_t ex = lanetotal(exponent[k]);
        normalize(m, ex);
        r.m *= r.m;
        r.exponent *= 2;
        normalize(r.m, r.exponent);
        r.m *= m;
        r.exponent += ex;
        normalize(r.m, r.exponent);
    }
    acc.m *= r.m;
    acc.exponent += r.exponent;
    normalize(acc.m, acc.exponent);
}

void logdensebase(const engine& e, const series* runs, std::size_t nruns, double theta, scaled& acc)
{
    logdense(e, runs, nruns, theta, acc);
}

#if defined(__x86_64__)
[[gnu::target("avx2")]] void logdenseavx2(const engine& e, const series* runs, std::size_t nruns,
                                          double theta, scaled& acc)
{
    logdense(e, runs, nruns, theta, acc);
}
#endif

// The dense runs among runs[0..nruns) as a factor of acc.
void logdenseruns(const engine& e, const series* runs, std::size_t nruns, double theta, scaled& acc)
{
#if defined(__x86_64__)
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2 && e.wide) {
        logdenseavx2(e, runs, nruns, theta, acc);
        return;
    }
#endif
    logdensebase(e, runs, nruns, theta, acc);
}

// The product of the factors x + i for i from i0 up to n (n - i0 a multiple
// of 8) in eight lanes, two vectors whose lanes are scaled every 8 factors;
// out is the two vectors' lanes multiplied pairwise (each below 4), their
// exponents added to exponent. (The lanes go out through memory: a 32-byte
// vector passed by value would take a different calling convention with
// and without AVX.)
[[gnu::always_inline]] inline void stretch(double x, std::int64_t i0, std::int64_t n, std::int64_t& exponent,
                                           double* out)
{
    v4 a = {1.0, 1.0, 1.0, 1.0}, b = a;
    l4 ea = {}, eb = {};
    const v4 step = {0.0, 1.0, 2.0, 3.0};
    int factors = 0;
    for (std::int64_t i = i0; i < n; i += 8) {
        const v4 y = (x + static_cast<double>(i)) + step;
        a *= y;
        b *= y + 4.0;
        if (++factors == 8) {
            normalize(a, ea);
            normalize(b, eb);
            factors = 0;
        }
    }
    normalize(a, ea);
    normalize(b, eb);
    exponent += lanetotal(ea) + lanetotal(eb);
    const v4 ab = a * b;
    std::memcpy(out, &ab, sizeof ab);
}

void stretchbase(double x, std::int64_t i0, std::int64_t n, std::int64_t& exponent, double* out)
{
    stretch(x, i0, n, exponent, out);
}

#if defined(__x86_64__)
[[gnu::target("avx2")]] void stretchavx2(double x, std::int64_t i0, std::int64_t n, std::int64_t& exponent,
                                         double* out)
{
    stretch(x, i0, n, exponent, out);
}
#endif

void stretchproduct(double x, std::int64_t i0, std::int64_t n, bool wide, std::int64_t& exponent, double* out)
{
#if defined(__x86_64__)
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2 && wide) {
        stretchavx2(x, i0, n, exponent, out);
        return;
    }
#endif
    stretchbase(x, i0, n, exponent, out);
}

// The log-terms of a run kept as segments (dense runs go to
// logdenseruns), as a factor of acc: the product over i of
// (x + i)^w(i), x = theta f. Taken by parts: the members of size n
// contribute P(n) = x (x + 1) ... (x + n - 1) each, so the product is that
// of P(n)^drop over the places n where the weight drops. P grows by the
// factors x + i, kept in four independent products whose binary exponents
// are taken out every 8 factors; the product is taken whole only where the
// weight drops. One logarithm of acc then serves every run: its rounding
// error is that of the products' multiplications, about 2^-53 each, where a
// logarithm per drop would add as much for each of them.
void logrun(const engine& e, const series& ru, double theta, scaled& acc)
{
    const double x = theta * static_cast<double>(ru.f);
    double p[4] = {1.0, 1.0, 1.0, 1.0};
    std::int64_t exponent = 0;
    int factors = 0;
    std::int64_t i = 0;
    const auto scale = [&] {
        for (double& q : p)
            normalize(q, exponent);
        factors = 0;
    };
    const auto upto = [&](std::int64_t n) {
        if (n - i >= 64) {
            // A long stretch without drops, eight factors at a time.
            const std::int64_t end = i + ((n - i) & ~std::int64_t{7});
            double ab[4];
            stretchproduct(x, i, end, e.wide, exponent, ab);
            i = end;
            scale();
            for (int k = 0; k < 4; ++k)
                p[k] *= ab[k];  // below 4: as much as one more factor
            factors = 1;
        }
        for (; i + 4 <= n; i += 4) {
            const auto y = x + static_cast<double>(i);
            p[0] *= y;
            p[1] *= y + 1.0;
            p[2] *= y + 2.0;
            p[3] *= y + 3.0;
            if (++factors == 8)
                scale();
        }
        for (; i < n; ++i) {
            p[0] *= x + static_cast<double>(i);
            if (++factors == 8)
                scale();
        }
    };
    const auto drop = [&](std::int64_t d) {
        if (d == 0)
            return;
        // P(n) into p[0] alone; a run that moves one factor at a time uses
        // no other lane. p[0] holds at most 8 factors since it was last
        // scaled, so acc's mantissa times it stays finite.
        if (p[1] != 1.0 || p[2] != 1.0 || p[3] != 1.0) {
            scale();
            p[0] = (p[0] * p[1]) * (p[2] * p[3]);
            p[1] = p[2] = p[3] = 1.0;
            normalize(p[0], exponent);
        }
        if (d == 1) {
            acc.m *= p[0];
            acc.exponent += exponent;
            normalize(acc.m, acc.exponent);
        } else {
            multiplypower(acc, p[0], exponent, d);
        }
    };
    std::int64_t weight = ru.weight;
    for (std::int64_t s = ru.first; s < ru.first + ru.count; ++s) {
        const segment sg = e.segments[static_cast<std::size_t>(s)];
        upto(i + sg.len);
        drop(sg.drop);
        weight -= sg.drop;
    }
    drop(weight);
}

long double logof(const scaled& a)
{
    return std::log(a.m) + static_cast<long double>(a.exponent) * 0.693147180559945309417232121458176568L;
}

}  // namespace

void prepare(engine& e, const problem& pr)
{
    e.pr = &pr;
    e.runs.clear();
    e.lstart.clear();
    e.segments.clear();
    e.dense.clear();
    e.fastsigns = 0;
    e.narrowsigns = 0;
    e.certsigns = 0;
    e.certlo = e.certneg = 1.0f;
    e.certpos = e.certhi = 0.0f;
    e.certtried = false;
    e.narrowmissed = false;
    e.exactsigns = 0;
    const counts& c = *pr.c;
    const std::size_t npops = pr.pops.size();
    const std::size_t nloci = pr.loci.size();

    // Room for every run at once: a run has at most one segment per
    // population (split segments aside), and a dense run at most DENSE
    // weights per population and 7 zeros (8 bytes of room follow the last).
    // What is reserved but not used is never touched.
    std::size_t alleles = 0;
    for (std::size_t j = 0; j < nloci; ++j)
        if (pr.weightof(j) > 0)
            alleles += static_cast<std::size_t>(c.nalleles[static_cast<std::size_t>(pr.loci[j])]);
    e.runs.reserve(alleles);
    e.segments.reserve(alleles * npops + 1);
    e.dense.reserve(alleles * (DENSE * npops + 7) + 8);

    // Each allele's counts in the problem's populations, with the locus
    // weight; each pair's genes and weight, for the sample part. The arrays
    // are kept for the next problem (a run of per-locus estimates arranges
    // one small problem after another), unless they grew large.
    struct room {
        std::vector<std::int64_t> n, w, genes;
        hugevector<end> sizes;
        std::vector<end> ends;
    };
    thread_local room kept;
    std::vector<std::int64_t>& n = kept.n;
    std::vector<std::int64_t>& w = kept.w;
    std::vector<std::int64_t>& genes = kept.genes;
    hugevector<end>& sizes = kept.sizes;
    std::vector<end>& ends = kept.ends;
    n.resize(npops);
    w.resize(npops);
    genes.resize(npops);
    ends.resize(npops);
    sizes.clear();
    sizes.reserve(nloci * npops);
    std::int64_t mostlanes = 0;    // lane additions of the busiest locus
    std::int64_t mostflushes = 0;  // the narrow sum's double additions of the busiest locus
    std::int64_t heaviest = 0;     // the largest weight of any run
    std::int64_t longest = 0;      // the longest run
    double reach = 0.0;            // the largest i / f of any run
    for (std::size_t j = 0; j < nloci; ++j) {
        e.lstart.push_back(static_cast<std::int64_t>(e.runs.size()));
        const int l = pr.loci[j];
        const int nalleles = c.nalleles[static_cast<std::size_t>(l)];
        const int weight = pr.weightof(j);
        if (weight <= 0)
            continue;
        std::fill(w.begin(), w.end(), weight);
        std::fill(genes.begin(), genes.end(), 0);
        std::int64_t lanes = 0, locusflushes = 0;
        for (int k = 0; k < nalleles; ++k) {
            for (std::size_t q = 0; q < npops; ++q) {
                n[q] = c.at(pr.pops[q], l)[k];
                genes[q] += n[q];
            }
            const std::size_t m = distinct(n.data(), w.data(), npops, ends.data());
            if (m == 0)
                continue;
            e.runs.push_back(makerun(e, pr.freq[static_cast<std::size_t>(l)][static_cast<std::size_t>(k)],
                                     ends.data(), m));
            heaviest = std::max(heaviest, e.runs.back().weight);
            lanes += lanesteps(ends[m - 1].size);
            locusflushes += flushes(ends[m - 1].size);
            longest = std::max(longest, ends[m - 1].size);
            reach =
                std::max(reach, static_cast<double>(ends[m - 1].size) / static_cast<double>(e.runs.back().f));
        }
        // Pairs of equal genes in a row (every pair of a complete table) are
        // kept as one member of their total weight; merge adds them up the same.
        for (std::size_t q = 0; q < npops; ++q)
            if (genes[q] > 0) {
                if (!sizes.empty() && sizes.back().size == genes[q])
                    sizes.back().drop += weight;
                else
                    sizes.push_back({genes[q], weight});
            }
        mostlanes = std::max(mostlanes, lanes);
        mostflushes = std::max(mostflushes, locusflushes);
    }
    e.lstart.push_back(static_cast<std::int64_t>(e.runs.size()));
    const std::size_t m = merge(sizes);
    e.sample = makerun(e, 1.0f, sizes.data(), m);
    heaviest = std::max(heaviest, e.sample.weight);
    const std::int64_t most = m > 0 ? sizes[m - 1].size : 0;

    // The bound (docs/bound.md): each term of the fast sum is rounded 4
    // times before it is added (1/f, times i, plus theta, the weight divided
    // by that) and then goes through at most the additions of its lane, the
    // 2 that join the lanes, the sum over loci and the final subtraction.
    // Each term of the exact sum is rounded 4 times, goes through the
    // additions of its pair's allele or sample part, their difference, the
    // product with the locus weight and the sum over all pairs.
    const auto pairs = static_cast<std::int64_t>(npops * nloci);
    const std::int64_t faststeps =
        4 + std::max(mostlanes + 2 + static_cast<std::int64_t>(nloci), lanesteps(most) + 2) + 1;
    const std::int64_t exactsteps = 4 + most + 1 + 1 + pairs;
    const double u = std::numeric_limits<double>::epsilon();
    const double ul = static_cast<double>(std::numeric_limits<long double>::epsilon());
    const double fastpart = static_cast<double>(faststeps) * u;
    const double exactpart = static_cast<double>(exactsteps) * ul;
    e.fast = arithmeticok() && fastpart < 1e-3 && exactpart < 1e-3 && heaviest <= MAXWEIGHT &&
             most < (std::int64_t{1} << 53);
    e.coef = 1.01 * (fastpart + exactpart);
    e.fastpart = fastpart;
    e.exactpart = exactpart;

    // The narrow sum's bound (docs/bound.md): a term is rounded 5 times in
    // single precision (the weight, 1/f, times i, plus theta, the quotient)
    // and goes through at most FLUSH single-precision additions in its lane;
    // then, in double precision, through the additions of its locus's lane
    // (one for every FLUSH of the lane's terms, and one more a run), the 3
    // of the lanes' join, the sum over loci and the subtraction. Its terms
    // stay normal single-precision numbers while every i / f is at most
    // 2^100, and i is exact while below 2^24.
    longest = std::max(longest, most);
    reach = std::max(reach, static_cast<double>(most));
    const std::int64_t singlesteps = 5 + FLUSH;
    const std::int64_t doublesteps =
        std::max(mostflushes + 3 + static_cast<std::int64_t>(nloci), flushes(most) + 3) + 1;
    const double narrowpart =
        static_cast<double>(singlesteps) * 0x1p-23 + static_cast<double>(doublesteps) * u;
    e.narrow = e.fast && narrowpart < 1e-3 && longest < (std::int64_t{1} << 24) && reach <= 0x1p100;
    e.narrowcoef = 1.01 * (narrowpart + exactpart);
    makeflat(e, exactpart);
    if (sizes.capacity() > 65536)
        hugevector<end>().swap(sizes);
}

fastsum fastscore(const engine& e, float theta)
{
    if (!e.fast)
        return {0.0, std::numeric_limits<double>::infinity()};
    const auto [a, b] = partsof<false>(e, theta);
    return {a - b, e.coef * (a + b) * e.slack + 0x1p-140};
}

fastsum narrowscore(const engine& e, float theta)
{
    if (!e.narrow || !(theta >= 0x1p-60f && theta <= 0x1p60f))
        return {0.0, std::numeric_limits<double>::infinity()};
#if defined(__x86_64__)
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (e.flat) {
        const auto [value, size] = avx2 && e.wide ? flat8avx2(e, theta) : flat8base(e, theta);
        return {value, e.flatcoef * size * e.slack + 0x1p-140};
    }
    const auto [a, b] = avx2 && e.wide ? parts8avx2(e, theta) : parts8base(e, theta);
#else
    if (e.flat) {
        const auto [value, size] = flat8base(e, theta);
        return {value, e.flatcoef * size * e.slack + 0x1p-140};
    }
    const auto [a, b] = parts8base(e, theta);
#endif
    return {a - b, e.narrowcoef * (a + b) * e.slack + 0x1p-140};
}

void certify(engine& e, float theta)
{
    if (!e.fast || !(theta > 0.0f))
        return;
    const double x0 = theta;
    const auto [a, b] = partsof<false>(e, x0);
    // The slopes' magnitudes P (allele part) and Q (sample part), each
    // term rounded once more than the fast sum's: within a relative
    // 1.001 (h_f + 1) u of the true ones.
    const auto [p, q] = partsof<true>(e, x0);
    const double u = std::numeric_limits<double>::epsilon();
    const double rel = 2.0 * (e.fastpart + u) * e.slack;
    const double plow = p * (1.0 - rel), qhigh = q * (1.0 + rel);
    if (!(plow > qhigh && std::isfinite(plow)))
        return;
    // On [x0 / rho, x0 rho] every term 1/(y + c)^2 lies within a factor
    // rho^2 of its value at x0, so the slope S' = Q - P stays below
    // qhigh rho^2 - plow / rho^2, negative while rho^4 < plow / qhigh.
    const double rho = std::min(2.0, 1.0 + 0.9 * (std::sqrt(std::sqrt(plow / qhigh)) - 1.0));
    if (!(plow > qhigh * (rho * rho) * (rho * rho) * (1.0 + 1e-9)))
        return;
    const double lo = x0 / rho, hi = x0 * rho;
    // The exact sum lies within 1.001 h_e u_L of the true score times the
    // magnitude, which on the stretch is at most rho times its value at x0.
    const double emax = 1.05 * e.exactpart * (a + b) * rho * e.slack + 0x1p-140;
    // Newton's step to the root, and points on either side of it: beyond
    // the step's likely error (its square over x0) and a few steps of
    // single precision.
    const double x1 = x0 + (a - b) / (p - q);
    const double d = x1 - x0;
    const double ulp = std::nextafter(static_cast<float>(x1), std::numeric_limits<float>::infinity()) -
                       static_cast<float>(x1);
    const double off = 2.0 * d * d / x0 + 4.0 * ulp;
    const auto pos = static_cast<float>(x1 - off), neg = static_cast<float>(x1 + off);
    if (!(pos >= lo && neg <= hi && pos > 0.0f))
        return;
    const fastsum fp = fastscore(e, pos);
    if (!(fp.value - fp.bound > emax))
        return;
    const fastsum fn = fastscore(e, neg);
    if (!(fn.value + fn.bound < -emax))
        return;
    // The score falls on the stretch: it is above its value at pos before
    // pos and below its value at neg after neg. The stretch's ends as
    // single-precision numbers inside it.
    float flo = static_cast<float>(lo), fhi = static_cast<float>(hi);
    if (flo < lo)
        flo = std::nextafter(flo, std::numeric_limits<float>::infinity());
    if (fhi > hi)
        fhi = std::nextafter(fhi, 0.0f);
    e.certlo = flo;
    e.certpos = pos;
    e.certneg = neg;
    e.certhi = fhi;
}

long double loglik(const engine& e, double theta)
{
    scaled a, b;
    for (const series& ru : e.runs)
        if (!ru.dense)
            logrun(e, ru, theta, a);
    logdenseruns(e, e.runs.data(), e.runs.size(), theta, a);
    if (e.sample.dense)
        logdenseruns(e, &e.sample, 1, theta, b);
    else
        logrun(e, e.sample, theta, b);
    return logof(a) - logof(b);
}
