// The score, the variance and the bisection that turns them into an estimate.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "testdata.h"

namespace {

const float thetas[] = {0.00001f, 1.0f, 100.0f, 10000.0f};

// Digamma and trigamma: recurrence up to 20, then the asymptotic series.
long double digamma(long double x)
{
    long double s = 0;
    for (; x < 20; x += 1)
        s -= 1 / x;
    const long double y = 1 / (x * x);
    return s + std::log(x) - 0.5L / x -
           y * (1.0L / 12 - y * (1.0L / 120 - y * (1.0L / 252 - y * (1.0L / 240 - y / 132))));
}
long double trigamma(long double x)
{
    long double s = 0;
    for (; x < 20; x += 1)
        s += 1 / (x * x);
    const long double y = 1 / (x * x);
    return s + 1 / x + y / 2 + y / x * (1.0L / 6 - y * (1.0L / 30 - y * (1.0L / 42 - y * (1.0L / 30 - y * 5 / 66))));
}

// Score and observed information in closed form: a run of terms 1/(t + i/f),
// i < n, is f [psi(t f + n) - psi(t f)], and its squares f^2 [psi'(t f) - psi'(t f + n)].
// size and size2 add up the magnitudes of the parts, for tolerances.
struct closedform {
    long double score = 0, info = 0, size = 0, size2 = 0;
};
closedform byseries(const dataset& s, long double t)
{
    closedform c;
    const datastr& d = *s.data;
    for (int p = 1; p <= d.npops; ++p)
        for (int l = 1; l <= d.nloci; ++l) {
            int n = 0;
            for (int k = 1; k <= d.nalleles[l]; ++k) {
                const int nk = d.allelecount[p][l][k];
                if (nk == 0)
                    continue;
                n += nk;
                const long double f = s.tab.freq[l][k], x = t * f;
                const long double a = f * (digamma(x + nk) - digamma(x)), a2 = f * f * (trigamma(x) - trigamma(x + nk));
                c.score += a, c.size += a, c.info += a2, c.size2 += a2;
            }
            const long double b = digamma(t + n) - digamma(t), b2 = trigamma(t) - trigamma(t + n);
            c.score -= b, c.size += b, c.info -= b2, c.size2 += b2;
        }
    return c;
}

// Test functions of the score's type: the line slope * (x - root), or the
// score itself; both record where they were called.
std::vector<float> calls;
double root, slope;
float line(float x, const datastr*, const tables*)
{
    calls.push_back(x);
    return static_cast<float>(slope * (x - root));
}
float countedscore(float x, const datastr* d, const tables* t)
{
    calls.push_back(x);
    return likelihood(x, d, t);
}
float bisect(double sl, double r, float x1, float x2, float tolerance)
{
    calls.clear();
    slope = sl;
    root = r;
    return rtbis(line, x1, x2, tolerance, nullptr, nullptr);
}

// Uniform, normal and gamma variates built on the raw generator only, so
// that the simulated data do not depend on the standard library's distributions.
struct variates {
    std::mt19937_64 bits;
    double uniform() { return (static_cast<double>(bits() >> 11) + 0.5) * 0x1.0p-53; }
    double normal() { return std::sqrt(-2 * std::log(uniform())) * std::cos(2 * M_PI * uniform()); }
    double gamma(double a)  // Marsaglia and Tsang
    {
        if (a < 1)
            return gamma(a + 1) * std::pow(uniform(), 1 / a);
        const double d = a - 1.0 / 3, c = 1 / std::sqrt(9 * d);
        for (;;) {
            const double x = normal(), v = 1 + c * x;
            if (v <= 0)
                continue;
            const double v3 = v * v * v;
            if (std::log(uniform()) < x * x / 2 + d - d * v3 + d * std::log(v3))
                return d * v3;
        }
    }
};

}  // namespace

// What holds for any theta: exact zeros for a data set without any counted
// gene and for a locus with one allele in the whole data set (its allele and
// sample parts are the same terms in the same order); a positive score for
// equal proportions everywhere and a negative one for populations fixed for
// different alleles, which put the estimate outside the bracket.
TEST(Score, ZerosAndSignsThatHoldForAnyTheta)
{
    auto empty = newdataset(), single = newdataset(), same = newdataset(), fixed = newdataset();
    empty->set(3, 2, {0, 0});
    single->set(1, 1, {7});
    single->set(2, 1, {0});
    single->set(3, 1, {12});
    same->set(1, 1, {3, 1});
    same->set(2, 1, {6, 2});
    same->set(1, 2, {1, 1, 1});
    same->set(2, 2, {2, 2, 2});
    fixed->set(1, 1, {4, 0});
    fixed->set(2, 1, {0, 2});
    fixed->set(3, 1, {4, 0});
    for (dataset* s : {empty.get(), single.get(), same.get(), fixed.get()})
        s->build();
    for (float t : thetas) {
        EXPECT_EQ(empty->score(t), 0.0f) << "theta " << t;
        EXPECT_EQ(single->score(t), 0.0f) << "theta " << t;
        EXPECT_EQ(1 / single->variance(t), 0.0L) << "theta " << t;
        EXPECT_GT(same->score(t), 0.0f) << "theta " << t;
        EXPECT_LT(fixed->score(t), 0.0f) << "theta " << t;
    }
}

// Score and information against their closed forms in digamma and trigamma,
// on many small random data sets over the whole bracket.
TEST(Score, MatchesClosedFormOnRandomData)
{
    std::mt19937_64 rng(20240611);
    auto pick = [&](int lo, int hi) { return lo + static_cast<int>(rng() % (hi - lo + 1)); };
    for (int trial = 0; trial < 300; ++trial) {
        auto s = newdataset();
        const int npops = pick(1, 5), nloci = pick(1, 4);
        for (int l = 1; l <= nloci; ++l) {
            const int nalleles = pick(1, 6);
            for (int p = 1; p <= npops; ++p) {
                std::vector<int> counts(nalleles);
                for (int& n : counts)
                    n = pick(0, 3) == 0 ? 0 : pick(1, 25);
                s->set(p, l, counts);
            }
            s->data->allelecount[1][l][1] += 1;  // every allele number has a gene somewhere
        }
        s->build();
        for (int i = 0; i < 5; ++i) {
            const float t = static_cast<float>(std::pow(10.0, -5 + 9 * (rng() >> 11) * 0x1.0p-53));
            const closedform c = byseries(*s, t);
            const float score = s->score(t);
            const long double v = s->variance(t);
            ASSERT_NEAR(score, c.score, 1.2e-7L * std::fabs(c.score) + 1e-15L * c.size) << "trial " << trial << " theta " << t;
            ASSERT_NEAR(1 / v, c.info, 1e-15L * c.size2) << "trial " << trial << " theta " << t;
        }
    }
}

// Two populations at one locus, 6:2 and 2:6. The search descends from 10000
// on steps 10000/2^j and ends on the first grid point of step 10000/2^27 at
// or above the root, after 2 + 27 calls.
TEST(Estimate, TwoPopulations)
{
    auto s = newdataset();
    s->set(1, 1, {6, 2});
    s->set(2, 1, {2, 6});
    s->build();
    long double lo = 1, hi = 100;  // the root, by bisection on the closed form
    while (hi - lo > 1e-15L) {
        const long double mid = (lo + hi) / 2;
        (byseries(*s, mid).score > 0 ? lo : hi) = mid;
    }
    const long double r = lo;
    EXPECT_NEAR(r, 6.90137L, 5e-6L);

    const long double step = 10000.0L / (1 << 27);
    const long double above = 10000 - std::floor((10000 - r) / step) * step;
    ASSERT_GT(above - r, 1e-6L) << "root too close to a grid point to tell the estimate from rounding";
    ASSERT_GT(r - (above - step), 1e-6L) << "root too close to a grid point to tell the estimate from rounding";

    calls.clear();
    const float theta = s->estimate(countedscore);
    EXPECT_EQ(theta, static_cast<float>(above));
    EXPECT_GE(theta, r);
    EXPECT_LT(theta, r + 0.0001L);
    EXPECT_EQ(calls.size(), 29u);
    EXPECT_EQ(calls[2], 5000.0f);  // first trial point, halfway down from 10000
    const long double v = s->variance(theta);
    EXPECT_NEAR(v, 1 / byseries(*s, theta).info, 1e-12L * v);
    EXPECT_NEAR(std::sqrt(v), 12.56L, 0.005L);
}

// The search starts at the end where the function is negative and moves only
// to trial points where it is zero or negative: with root 3.3 in [0, 8] and
// trial points 4, 2, 3, 3.5, a rising line is left at 3, a falling one at 3.5.
TEST(Bisection, ClimbsOrDescendsFromTheNegativeEnd)
{
    EXPECT_EQ(bisect(1, 3.3, 0, 8, 1), 3.0f);
    EXPECT_EQ(bisect(-1, 3.3, 0, 8, 1), 3.5f);
    EXPECT_EQ(bisect(1, 3.3, 8, 0, 1), 3.0f);   // ends in the other order
    EXPECT_EQ(bisect(-1, 3.3, 8, 0, 1), 3.5f);
    EXPECT_EQ(calls, (std::vector<float>{8, 0, 4, 2, 3, 3.5f}));
}

TEST(Bisection, ExactZeroEndsTheSearch)
{
    EXPECT_EQ(bisect(1, 3, 0, 8, 1e-6f), 3.0f);
    EXPECT_EQ(calls, (std::vector<float>{0, 8, 4, 2, 3}));
    EXPECT_EQ(bisect(-1, 5000, 0.00001f, 10000, 0.0001f), 5000.0f);
    EXPECT_EQ(calls.size(), 3u);
}

// With the driver's bracket and tolerance the step falls below the tolerance
// at the 27th halving, wherever the root lies.
TEST(Bisection, DriverBracketNeedsAtMost29Calls)
{
    for (double r : {0.0000101, 0.5, 6.90137, 123.456, 5000.1, 9999.9}) {
        for (double sl : {1, -1}) {
            const float x = bisect(sl, r, 0.00001f, 10000, 0.0001f);
            EXPECT_EQ(calls.size(), 29u) << "root " << r;
            EXPECT_NEAR(x, r, 0.0001 + 0.001 * (r > 1000)) << "root " << r;
        }
    }
}

// Data simulated from the model itself: each population's allele proportions
// are Dirichlet(theta p) around pooled frequencies p, its genes a multinomial
// sample. The estimate must find the true theta within three standard errors.
// The pooled frequencies are taken from the same data, which pulls the
// estimate up by about (theta + 1) / npops; many populations at two-allele
// loci keep that within half a standard error.
TEST(Estimate, RecoversThetaFromSimulatedData)
{
    constexpr int npops = 90, nloci = 30, genes = 40;
    for (double truth : {2.0, 10.0}) {
        variates v{std::mt19937_64(static_cast<std::uint64_t>(truth) + 7)};
        auto s = newdataset();
        for (int l = 1; l <= nloci; ++l) {
            const double pooled = 0.2 + 0.6 * v.uniform();
            for (int p = 1; p <= npops; ++p) {
                const double a = v.gamma(truth * pooled), b = v.gamma(truth * (1 - pooled));
                int first = 0;
                for (int g = 0; g < genes; ++g)
                    first += v.uniform() * (a + b) < a;
                s->set(p, l, {first, genes - first});
            }
        }
        s->build();
        const float theta = s->estimate();
        const double se = std::sqrt(static_cast<double>(s->variance(theta)));
        EXPECT_NEAR(theta, truth, 3 * se) << "standard error " << se;
    }
}
