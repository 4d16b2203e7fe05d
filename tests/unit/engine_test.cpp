// The engine: the fast score stays within its bound of the exact sum, the
// signs it decides are the exact sum's, and whichever sum decides a sign the
// root is the plain loops' root, for the whole data set and for subsets.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#if defined(__x86_64__) && defined(__GLIBC__)
#include <fpu_control.h>
#endif

#include "core/engine.h"
#include "core/failure.h"
#include "literal.h"
#include "testdata.h"

namespace {

// Random counts in many shapes: up to 99 populations, up to 49 alleles,
// rare alleles (large reciprocals), long runs of copies, populations untyped
// at a locus, and loci where all populations have the same sample size.
std::unique_ptr<dataset> randomdata(std::mt19937_64& rng)
{
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    auto s = newdataset();
    datastr& d = *s->data;
    const int shape = pick(0, 4);
    d.npops = shape == 0 ? pick(60, 99) : pick(1, 12);
    d.nloci = pick(1, shape == 0 ? 3 : 6);
    const int most = shape == 1 ? 3000 : shape == 2 ? 3 : 60;
    for (int l = 1; l <= d.nloci; ++l) {
        d.nalleles[l] = shape == 3 ? pick(40, 49) : pick(1, 8);
        const bool even = pick(0, 3) == 0;
        for (int p = 1; p <= d.npops; ++p) {
            if (pick(0, 9) == 0)
                continue;  // untyped here
            for (int k = 1; k <= d.nalleles[l]; ++k)
                d.allelecount[p][l][k] = even ? most / d.nalleles[l] : pick(0, pick(0, 1) ? most : 2);
        }
        for (int k = 1; k <= d.nalleles[l]; ++k)
            d.allelecount[pick(1, d.npops)][l][k] += 1;  // every allele is met somewhere
    }
    s->build();
    return s;
}

// A random part of the data set: some populations and loci in any order,
// loci counted up to three times, the weights' total within the engine's limit.
subset randomsubset(const datastr& d, std::mt19937_64& rng)
{
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    subset s;
    for (int p = 1; p <= d.npops; ++p)
        if (pick(0, 2) != 0)
            s.pops[s.npops++] = p;
    if (s.npops == 0)
        s.pops[s.npops++] = d.npops;
    std::shuffle(s.pops, s.pops + s.npops, rng);
    for (int l = d.nloci; l >= 1; --l) {
        s.loci[s.nloci] = l;
        s.weight[s.nloci++] = pick(0, 3);
    }
    return s;
}

// The plain loops over a subset: populations outer, loci inner, each pair's
// allele part less its sample part, times the locus weight.
long double subsetsum(float theta, const datastr& d, const tables& t, const subset& s)
{
    const long double th = theta;
    long double sum = 0.0L;
    for (int q = 0; q < s.npops; ++q)
        for (int j = 0; j < s.nloci; ++j) {
            const int p = s.pops[q], l = s.loci[j];
            long double a = 0.0L, b = 0.0L;
            for (int k = 1; k <= d.nalleles[l]; ++k)
                for (int i = 0; i < d.allelecount[p][l][k]; ++i)
                    a += 1.0L / ((1.0L / t.freq[l][k]) * i + th);
            for (int i = 0; i < t.ngenes[p][l]; ++i)
                b += 1.0L / (th + i);
            sum += s.weight[j] == 1 ? a - b : s.weight[j] * (a - b);
        }
    return sum;
}

float randomtheta(std::mt19937_64& rng)
{
    const int which = std::uniform_int_distribution<int>(0, 19)(rng);
    if (which == 0)
        return 1e-30f;
    if (which == 1)
        return 3e30f;
    return static_cast<float>(std::exp(std::uniform_real_distribution<double>(-11.6, 9.3)(rng)));
}

int signof(long double x)
{
    return (x > 0) - (x < 0);
}

// The root, or the failure's message.
std::string rootof(const std::function<float()>& search)
{
    try {
        return std::to_string(search());
    } catch (const failure& f) {
        return f.what();
    }
}

}  // namespace

// The bound holds: on random data sets and subsets, at thetas over the whole
// bracket and far beyond it, the fast value lies within its bound of the
// exact extended-precision sum, and every sign it settles is the sign of the
// exact score rounded to single precision.
TEST(FastScore, StaysWithinItsBoundOfTheExactSum)
{
    std::mt19937_64 rng(12);
    double worst = 0.0;
    int evaluations = 0, settled = 0;
    for (int set = 0; set < 400; ++set) {
        const auto d = randomdata(rng);
        const subset s = set % 2 == 0 ? wholedata(d->data.get()) : randomsubset(*d->data, rng);
        engine e;
        prepare(e, d->data.get(), &d->tab, s);
        ASSERT_TRUE(e.fast);
        for (int i = 0; i < 8; ++i) {
            const float theta = randomtheta(rng);
            const fastsum f = fastscore(e, theta);
            const long double exact = subsetsum(theta, *d->data, d->tab, s);
            ASSERT_LE(std::fabs(f.value - exact), f.bound) << "set " << set << " theta " << theta;
            worst = std::max(worst, static_cast<double>(std::fabs(f.value - exact) / f.bound));
            const bool decided = f.value > f.bound || f.value < -f.bound;
            if (decided) {
                ASSERT_EQ(f.value > 0 ? 1 : -1, signof(score(e, theta)))
                    << "set " << set << " theta " << theta;
            }
            if (std::fabs(exact) > 1e-6L) {
                ++evaluations;
                settled += decided;
            }
        }
    }
    // A bound far looser than the rounding it covers would send signs that
    // are plain to see to the exact sum.
    EXPECT_GT(settled, evaluations * 99 / 100);
    RecordProperty("evaluations", evaluations);
    RecordProperty("largest error / bound", std::to_string(worst));
}

// The SSE2 and the AVX2 code of the fast score give the same bits (on a
// processor without AVX2 both calls run the SSE2 code).
TEST(FastScore, SameValuesWithEveryVectorWidth)
{
    std::mt19937_64 rng(3);
    for (int set = 0; set < 100; ++set) {
        const auto d = randomdata(rng);
        engine e;
        prepare(e, d->data.get(), &d->tab, wholedata(d->data.get()));
        for (int i = 0; i < 4; ++i) {
            const float theta = randomtheta(rng);
            e.wide = true;
            const fastsum a = fastscore(e, theta);
            e.wide = false;
            const fastsum b = fastscore(e, theta);
            ASSERT_EQ(std::memcmp(&a, &b, sizeof a), 0) << "set " << set << " theta " << theta;
        }
    }
}

// The engine's exact sums are the plain loops, over the whole data set and
// over any subset.
TEST(Engine, ExactSumsAreThePlainLoops)
{
    std::mt19937_64 rng(1207);
    for (int set = 0; set < 100; ++set) {
        const auto d = randomdata(rng);
        const datastr* data = d->data.get();
        engine whole, part;
        prepare(whole, data, &d->tab, wholedata(data));
        const subset s = randomsubset(*data, rng);
        prepare(part, data, &d->tab, s);
        for (int i = 0; i < 4; ++i) {
            const float theta = randomtheta(rng);
            ASSERT_EQ(score(whole, theta), literallikelihood(theta, data, &d->tab)) << "set " << set;
            const long double v = var(whole, theta), plain = literalvar(theta, data, &d->tab);
            ASSERT_EQ(std::memcmp(&v, &plain, 10), 0) << "set " << set;
            ASSERT_EQ(score(part, theta), static_cast<float>(subsetsum(theta, *data, d->tab, s)))
                << "set " << set;
        }
    }
}

// Whichever sum decides the signs, the root and the failures are the plain
// loops': with the bound as proven, with the bound widened so far that every
// sign goes to the exact sum, and widened to the data's own margins so that
// the two sums share the search.
TEST(Engine, RootIsThePlainLoopsRootWhicheverSumDecides)
{
    std::mt19937_64 rng(99);
    long fastsigns = 0, exactsigns = 0, mixed = 0;
    for (int set = 0; set < 150; ++set) {
        const auto d = randomdata(rng);
        const datastr* data = d->data.get();
        const tables* tab = &d->tab;
        const std::string plain =
            rootof([&] { return rtbis(literallikelihood, LOWEST, HIGHEST, TOLERANCE, data, tab); });
        ASSERT_EQ(rootof([&] { return estimate(data, tab); }), plain) << "set " << set;

        engine e;
        prepare(e, data, tab, wholedata(data));
        e.slack = 1e300;
        ASSERT_EQ(rootof([&] { return rtbis(e, LOWEST, HIGHEST, TOLERANCE); }), plain) << "set " << set;
        ASSERT_EQ(e.fastsigns, 0);

        // The margin of the fourth trial point: a slack just above it sends
        // that point and those with smaller margins to the exact sum, the
        // rest not.
        engine m;
        prepare(m, data, tab, wholedata(data));
        const fastsum f = fastscore(m, 2500.0f);
        m.slack = std::max(1.0, std::fabs(f.value) / f.bound * 1.0001);
        ASSERT_EQ(rootof([&] { return rtbis(m, LOWEST, HIGHEST, TOLERANCE); }), plain) << "set " << set;
        fastsigns += m.fastsigns;
        exactsigns += m.exactsigns;
        mixed += m.fastsigns > 0 && m.exactsigns > 0;
    }
    EXPECT_GT(mixed, 50);
    RecordProperty("signs by the fast sum", static_cast<int>(fastsigns));
    RecordProperty("signs by the exact sum", static_cast<int>(exactsigns));
}

// A score that is exactly 0 cannot be settled by the fast sum, whose bound is
// never 0 and covers its own rounding: a data set without genes and one with
// a single allele at every locus go to the exact sum at both ends, which
// gives the bracket message.
TEST(Engine, ZeroScoreGoesToTheExactSum)
{
    auto empty = newdataset(), single = newdataset();
    empty->set(2, 2, {0});
    single->set(1, 1, {5});
    single->set(2, 1, {9});
    single->set(2, 2, {0, 0});
    single->set(1, 2, {3});
    for (dataset* d : {empty.get(), single.get()}) {
        d->build();
        engine e;
        prepare(e, d->data.get(), &d->tab, wholedata(d->data.get()));
        const fastsum f = fastscore(e, 1.0f);
        EXPECT_LE(std::fabs(f.value), f.bound);
        EXPECT_EQ(rootof([&] { return rtbis(e, LOWEST, HIGHEST, TOLERANCE); }),
                  "\nEstimate of theta is not within interval 0.00001 to 10000");
        EXPECT_EQ(e.fastsigns, 0);
        EXPECT_EQ(e.exactsigns, 2);
    }
}

// With the x87 unit set to round to double precision the exact sum is not
// what the bound assumes, and the fast path is off; the estimate is then
// still the plain loops' under the same setting.
#if defined(__x86_64__) && defined(__GLIBC__)
TEST(Engine, FastPathOffWhenLongDoubleIsShort)
{
    auto d = newdataset();
    d->set(1, 1, {6, 2});
    d->set(2, 1, {2, 6});
    d->build();
    fpu_control_t saved;
    _FPU_GETCW(saved);
    const fpu_control_t shortened = (saved & ~_FPU_EXTENDED) | _FPU_DOUBLE;
    _FPU_SETCW(shortened);
    engine e;
    prepare(e, d->data.get(), &d->tab, wholedata(d->data.get()));
    const float root = rtbis(e, LOWEST, HIGHEST, TOLERANCE);
    const float plain = rtbis(literallikelihood, LOWEST, HIGHEST, TOLERANCE, d->data.get(), &d->tab);
    _FPU_SETCW(saved);
    EXPECT_FALSE(e.fast);
    EXPECT_EQ(e.fastsigns, 0);
    EXPECT_EQ(root, plain);
}
#endif

// The log-likelihood: its slope is the score, and on a small data set it is
// the sum of the logarithms written out gene by gene.
TEST(Engine, LogLikelihoodIsTheScoresIntegral)
{
    std::mt19937_64 rng(7);
    for (int set = 0; set < 40; ++set) {
        const auto d = randomdata(rng);
        const datastr& data = *d->data;
        engine e;
        prepare(e, &data, &d->tab, wholedata(&data));
        for (const double theta : {0.01, 1.0, 9.0, 300.0}) {
            long double direct = 0.0L;
            for (int p = 1; p <= data.npops; ++p)
                for (int l = 1; l <= data.nloci; ++l) {
                    for (int k = 1; k <= data.nalleles[l]; ++k)
                        for (int i = 0; i < data.allelecount[p][l][k]; ++i)
                            direct += std::log(theta * static_cast<double>(d->tab.freq[l][k]) + i);
                    for (int i = 0; i < d->tab.ngenes[p][l]; ++i)
                        direct -= std::log(theta + i);
                }
            const long double ll = loglik(e, theta);
            ASSERT_NEAR(ll, direct, 1e-9L * (1 + std::fabs(direct))) << "set " << set << " theta " << theta;

            const double h = theta * 1e-4;
            const long double slope = (loglik(e, theta + h) - loglik(e, theta - h)) / (2 * h);
            const long double exact = subsetsum(static_cast<float>(theta), data, d->tab, wholedata(&data));
            ASSERT_NEAR(slope, exact, 1e-5L * (1 + std::fabs(exact)) + 1e-9L * std::fabs(ll) / h)
                << "set " << set << " theta " << theta;
        }
    }
}
