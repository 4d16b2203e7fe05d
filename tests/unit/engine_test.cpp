// The engine: the fast score stays within its bound of the exact sum, the
// signs it decides are the exact sum's, and whichever sum decides a sign the
// fit is the plain loops' fit, for vorn's record and for any problem on a
// count table.
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
#include "core/fit.h"
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

// A table too large for vorn's record: more populations, loci and alleles,
// a few counts beyond the engine's tallies; with locus weights up to 1000
// the runs' weights pass 65535.
counts bigtable(std::mt19937_64& rng)
{
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    const int npops = pick(100, 120), nloci = pick(100, 110);
    std::vector<int> nalleles(static_cast<std::size_t>(nloci));
    for (int& a : nalleles)
        a = pick(0, 20) == 0 ? 60 : pick(1, 6);
    counts c = makecounts(std::vector<std::string>(static_cast<std::size_t>(npops)),
                          std::vector<std::string>(static_cast<std::size_t>(nloci)), nalleles);
    for (int l = 0; l < nloci; ++l)
        for (int p = 0; p < npops; ++p)
            for (int k = 0; k < c.nalleles[static_cast<std::size_t>(l)]; ++k)
                c.at(p, l)[k] = pick(0, 3000) == 0 ? pick(4000, 9000) : pick(0, 4);
    return c;
}

// A random problem on the table: some populations and loci in any order,
// loci counted up to `most` times, frequencies pooled over all populations
// or over the chosen ones.
problem randomproblem(const counts& c, std::mt19937_64& rng, int most = 3)
{
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    problem pr;
    pr.c = &c;
    for (int p = 0; p < c.npops(); ++p)
        if (pick(0, 2) != 0)
            pr.pops.push_back(p);
    if (pr.pops.empty())
        pr.pops.push_back(c.npops() - 1);
    std::shuffle(pr.pops.begin(), pr.pops.end(), rng);
    for (int l = c.nloci() - 1; l >= 0; --l) {
        pr.loci.push_back(l);
        pr.weight.push_back(pick(0, most));
    }
    pr.freq = pooled(c, pick(0, 1) == 0 ? allpops(c) : pr.pops);
    return pr;
}

// The whole table, as vorn fits it.
problem wholeof(const counts& c)
{
    return wholeproblem(c, allpops(c));
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

// The bound holds: on random data sets and problems, at thetas over the
// whole bracket and far beyond it, the fast value lies within its bound of
// the plain loops' extended-precision sum, and every sign it settles is the
// sign of that sum rounded to single precision.
TEST(FastScore, StaysWithinItsBoundOfTheExactSum)
{
    std::mt19937_64 rng(12);
    double worst = 0.0, worstnarrow = 0.0;
    int evaluations = 0, settled = 0, narrowsettled = 0, flat = 0;
    for (int set = 0; set < 400; ++set) {
        const counts c = fromrecord(*randomdata(rng)->data);
        const problem pr = set % 2 == 0 ? wholeof(c) : randomproblem(c, rng);
        engine e;
        prepare(e, pr);
        ASSERT_TRUE(e.fast);
        ASSERT_TRUE(e.narrow);
        flat += e.flat;
        const bool flatten = e.flat;
        for (int i = 0; i < 8; ++i) {
            const float theta = randomtheta(rng);
            const long double exact = plainscore(theta, pr);
            int decided = 0;  // by the fast sum, then by the narrow one
            // The fast sum; the narrow one run by run; and, for a small
            // problem, the narrow one over the flat terms.
            for (const int sum : {0, 1, 2}) {
                if (sum == 2 && !flatten)
                    continue;
                const bool narrow = sum > 0;
                e.flat = sum == 2;
                const fastsum f = narrow ? narrowscore(e, theta) : fastscore(e, theta);
                if (narrow && std::isinf(f.bound)) {
                    // Only outside the narrow sum's range of theta.
                    ASSERT_TRUE(theta < 0x1p-60f || theta > 0x1p60f) << theta;
                    continue;
                }
                ASSERT_LE(std::fabs(f.value - exact), f.bound)
                    << "set " << set << " theta " << theta << (narrow ? " narrow" : " fast");
                double& most = narrow ? worstnarrow : worst;
                most = std::max(most, static_cast<double>(std::fabs(f.value - exact) / f.bound));
                if (f.value > f.bound || f.value < -f.bound) {
                    ASSERT_EQ(f.value > 0 ? 1 : -1, signof(static_cast<float>(exact)))
                        << "set " << set << " theta " << theta << (narrow ? " narrow" : " fast");
                    decided |= narrow ? 2 : 1;
                }
            }
            if (std::fabs(exact) > 1e-6L) {
                ++evaluations;
                settled += (decided & 1) != 0;
                narrowsettled += (decided & 2) != 0;
            }
        }
    }
    // A bound far looser than the rounding it covers would send signs that
    // are plain to see to the exact sum; the narrow one, some 10^8 times
    // wider, still settles most.
    EXPECT_GT(settled, evaluations * 99 / 100);
    EXPECT_GT(narrowsettled, evaluations * 9 / 10);
    EXPECT_GT(flat, 100) << "small problems";
    RecordProperty("small problems summed flat", flat);
    RecordProperty("evaluations", evaluations);
    RecordProperty("settled by the narrow sum", narrowsettled);
    RecordProperty("largest error / bound", std::to_string(worst));
    RecordProperty("largest error / bound, narrow sum", std::to_string(worstnarrow));
}

// The SSE2 and the AVX2 code of the fast and the narrow score give the same
// bits (on a processor without AVX2 both calls run the SSE2 code).
TEST(FastScore, SameValuesWithEveryVectorWidth)
{
    std::mt19937_64 rng(3);
    for (int set = 0; set < 100; ++set) {
        const counts c = fromrecord(*randomdata(rng)->data);
        const problem pr = randomproblem(c, rng);
        engine e;
        prepare(e, pr);
        for (int i = 0; i < 4; ++i) {
            const float theta = randomtheta(rng);
            e.wide = true;
            const fastsum a = fastscore(e, theta), na = narrowscore(e, theta);
            e.wide = false;
            const fastsum b = fastscore(e, theta), nb = narrowscore(e, theta);
            ASSERT_EQ(std::memcmp(&a, &b, sizeof a), 0) << "set " << set << " theta " << theta;
            ASSERT_EQ(std::memcmp(&na, &nb, sizeof na), 0) << "set " << set << " theta " << theta;
        }
    }
}

// The engine's exact sums are the plain loops, on vorn's record and on any
// problem, the information included.
TEST(Engine, ExactSumsAreThePlainLoops)
{
    std::mt19937_64 rng(1207);
    for (int set = 0; set < 100; ++set) {
        const auto d = randomdata(rng);
        const counts c = fromrecord(*d->data);
        const problem whole = recordproblem(c, &d->tab), part = randomproblem(c, rng);
        // vorn fits a view of its record in place: the same table as the copy.
        const counts view = viewrecord(*d->data);
        ASSERT_TRUE(view.n.empty());
        ASSERT_EQ(view.popnames, c.popnames);
        ASSERT_EQ(view.nalleles, c.nalleles);
        for (int p = 0; p < c.npops(); ++p)
            for (int l = 0; l < c.nloci(); ++l)
                ASSERT_TRUE(std::equal(c.at(p, l), c.at(p, l) + c.nalleles[l], view.at(p, l)))
                    << "set " << set;
        engine e;
        prepare(e, part);
        for (int i = 0; i < 4; ++i) {
            const float theta = randomtheta(rng);
            ASSERT_EQ(likelihood(theta, d->data.get(), &d->tab),
                      literallikelihood(theta, d->data.get(), &d->tab))
                << "set " << set;
            const long double v = var(theta, d->data.get(), &d->tab),
                              plain = literalvar(theta, d->data.get(), &d->tab);
            ASSERT_EQ(std::memcmp(&v, &plain, 10), 0) << "set " << set;
            const long double s = exactsum(e, theta), ps = plainscore(theta, part);
            ASSERT_EQ(std::memcmp(&s, &ps, 10), 0) << "set " << set;
            const long double in = information(e, theta), pin = plaininformation(theta, part);
            ASSERT_EQ(std::memcmp(&in, &pin, 10), 0) << "set " << set;
        }
    }
}

// The exact sums and the engine's arrangement keep their working arrays from
// one problem to the next and give back those of a problem with more than
// 65536 population-locus pairs: whatever came before (a larger problem, one
// whose loci are left out by a weight of 0, a problem on another table),
// each exact sum is the plain loops' and each fast sum within its bound.
TEST(Engine, ExactSumsKeepNothingFromTheProblemBefore)
{
    std::mt19937_64 rng(2026);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    counts large =
        makecounts(std::vector<std::string>(300), std::vector<std::string>(250), std::vector<int>(250, 3));
    for (int l = 0; l < large.nloci(); ++l)
        for (int p = 0; p < large.npops(); ++p)
            for (int k = 0; k < 3; ++k)
                large.at(p, l)[k] = pick(0, 6);
    const problem huge = wholeof(large);
    for (int set = 0; set < 30; ++set) {
        const auto d = randomdata(rng);
        const counts c = set % 5 == 4 ? bigtable(rng) : fromrecord(*d->data);
        const problem pr = randomproblem(c, rng);
        const problem& first = set % 3 == 0 ? huge : pr;
        for (const problem* x : {&first, &pr, &huge, &pr}) {
            engine e;
            prepare(e, *x);
            const float theta = randomtheta(rng);
            const long double s = exactsum(e, theta), ps = plainscore(theta, *x);
            ASSERT_EQ(std::memcmp(&s, &ps, 10), 0) << "set " << set;
            const long double in = information(e, theta), pin = plaininformation(theta, *x);
            ASSERT_EQ(std::memcmp(&in, &pin, 10), 0) << "set " << set;
            for (const fastsum f : {fastscore(e, theta), narrowscore(e, theta)}) {
                if (std::isfinite(f.bound)) {
                    ASSERT_LE(std::fabs(f.value - static_cast<double>(ps)), f.bound) << "set " << set;
                }
            }
        }
    }
}

// fit gives the plain loops' result, to the bit: where the search ended, the
// root and the variance, on vorn's record, on random problems and on tables
// beyond the record's capacities; whichever sum decides the signs: with the
// bound as proven, widened so far that every sign goes to the exact sum, and
// widened to the data's own margins so that the two sums share the search.
TEST(Engine, FitIsThePlainLoopsFitWhicheverSumDecides)
{
    std::mt19937_64 rng(99);
    long fastsigns = 0, exactsigns = 0, mixed = 0;
    const auto same = [](const fitresult& a, const fitresult& b) {
        return a.end == b.end && std::memcmp(&a.theta, &b.theta, sizeof a.theta) == 0 &&
               std::memcmp(&a.var, &b.var, 10) == 0;
    };
    for (int set = 0; set < 160; ++set) {
        const auto d = randomdata(rng);
        const bool big = set % 40 == 0;
        const counts c = big ? bigtable(rng) : fromrecord(*d->data);
        const problem pr = !big && set % 3 == 1 ? wholeof(c) : randomproblem(c, rng, big ? 1000 : 3);
        const fitresult plain = plainfit(pr);
        ASSERT_TRUE(same(fit(pr), plain)) << "set " << set;
        if (!big) {
            const std::string root = rootof(
                [&] { return rtbis(literallikelihood, LOWEST, HIGHEST, TOLERANCE, d->data.get(), &d->tab); });
            ASSERT_EQ(rootof([&] { return estimate(d->data.get(), &d->tab); }), root) << "set " << set;
        }

        engine e;
        prepare(e, pr);
        if (big) {
            ASSERT_TRUE(e.fast);
            ASSERT_GT(e.sample.weight, 65535);
        }
        e.slack = 1e300;
        ASSERT_TRUE(same(fit(e), plain)) << "set " << set;
        ASSERT_EQ(e.fastsigns, 0);

        // The margin of the fourth trial point: a slack just above it sends
        // that point and those with smaller margins to the exact sum, the
        // rest not.
        engine m;
        prepare(m, pr);
        const fastsum f = fastscore(m, 2500.0f);
        m.slack = std::max(1.0, std::fabs(f.value) / f.bound * 1.0001);
        ASSERT_TRUE(same(fit(m), plain)) << "set " << set;
        fastsigns += m.fastsigns;
        exactsigns += m.exactsigns;
        mixed += m.fastsigns > 0 && m.exactsigns > 0;
    }
    EXPECT_GT(mixed, 50);
    RecordProperty("signs by the fast sum", static_cast<int>(fastsigns));
    RecordProperty("signs by the exact sum", static_cast<int>(exactsigns));
}

// The signs that certify proves around a root are those of the plain loops'
// score: checked at the ends of both stretches, next to them inside, and at
// random points, for certificates taken at points ever closer to the roots
// of random problems (where a search would take them) and far from them;
// and the searches that take signs from such proofs find the plain loops'
// roots.
TEST(Engine, ProvenSignsAroundARootAreThePlainLoopsSigns)
{
    std::mt19937_64 rng(4242);
    int proven = 0, checked = 0;
    long searched = 0;  // signs the searches took from a proof
    for (int set = 0; set < 200; ++set) {
        const counts c = fromrecord(*randomdata(rng)->data);
        const problem pr = set % 2 == 0 ? wholeof(c) : randomproblem(c, rng);
        // The search itself takes its last signs from the proof, and finds
        // the plain loops' root.
        engine whole;
        prepare(whole, pr);
        const fitresult root = fit(whole, false);
        ASSERT_EQ(root.end, plainfit(pr).end) << "set " << set;
        ASSERT_EQ(root.theta, plainfit(pr).theta) << "set " << set;
        searched += whole.certsigns;
        if (root.end != fitend::root)
            continue;
        for (const double off : {-0.3, -1e-2, -1e-3, -1e-5, 1e-5, 1e-4, 1e-2, 0.5}) {
            engine e;
            prepare(e, pr);
            certify(e, static_cast<float>(root.theta * (1.0 + off)));
            if (e.certlo > e.certpos)
                continue;
            ++proven;
            ASSERT_LT(e.certpos, e.certneg) << "set " << set;
            const auto check = [&](float lo, float hi, int sign) {
                std::vector<float> at = {lo, hi, std::nextafter(lo, hi), std::nextafter(hi, lo)};
                for (int k = 0; k < 12; ++k)
                    at.push_back(lo + (hi - lo) * std::uniform_real_distribution<float>(0.0f, 1.0f)(rng));
                for (const float x : at) {
                    if (x < lo || x > hi)
                        continue;
                    ASSERT_EQ(signof(static_cast<float>(plainscore(x, pr))), sign)
                        << "set " << set << " theta " << x;
                    ASSERT_EQ(scoresign(e, x), sign) << "set " << set << " theta " << x;
                    ++checked;
                }
            };
            check(e.certlo, e.certpos, 1);
            check(e.certneg, e.certhi, -1);
        }
    }
    EXPECT_GT(proven, 400);
    EXPECT_GT(searched, 200);
    RecordProperty("certificates", proven);
    RecordProperty("signs of the searches from a proof", static_cast<int>(searched));
    RecordProperty("signs checked", checked);
}

// The narrow sum is left out where its single-precision terms could become
// subnormal (an i/f beyond 2^100) or lose their i (a run of 2^24 or more),
// and outside its range of theta; the fit is then the plain loops' all the same.
TEST(Engine, NarrowSumOnlyWhereSinglePrecisionHolds)
{
    counts c = makecounts({"a", "b"}, {"l"}, {2});
    c.at(0, 0)[0] = 10;
    c.at(0, 0)[1] = 3;
    c.at(1, 0)[0] = 2;
    c.at(1, 0)[1] = 9;
    problem pr = wholeof(c);
    engine e;
    prepare(e, pr);
    EXPECT_TRUE(e.narrow);
    EXPECT_TRUE(std::isinf(narrowscore(e, 1e-30f).bound));
    EXPECT_TRUE(std::isinf(narrowscore(e, 3e30f).bound));
    EXPECT_TRUE(std::isfinite(narrowscore(e, 1.0f).bound));

    pr.freq[0][1] = 1e-35f;  // 12 copies of it reach i/f = 1.1e36
    prepare(e, pr);
    EXPECT_TRUE(e.fast);
    EXPECT_FALSE(e.narrow);
    EXPECT_TRUE(std::isinf(narrowscore(e, 1.0f).bound));
    const fitresult f = fit(e), plain = plainfit(pr);
    EXPECT_EQ(f.end, plain.end);
    EXPECT_EQ(std::memcmp(&f.theta, &plain.theta, sizeof f.theta), 0);
    EXPECT_EQ(e.narrowsigns, 0);

    c.at(1, 0)[0] = 1 << 24;
    pr = wholeof(c);
    prepare(e, pr);
    EXPECT_TRUE(e.fast);
    EXPECT_FALSE(e.narrow);
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
        const counts c = fromrecord(*d->data);
        const problem pr = recordproblem(c, &d->tab);
        engine e;
        prepare(e, pr);
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
    const counts c = fromrecord(*d->data);
    const problem pr = recordproblem(c, &d->tab);
    fpu_control_t saved;
    _FPU_GETCW(saved);
    const fpu_control_t shortened = (saved & ~_FPU_EXTENDED) | _FPU_DOUBLE;
    _FPU_SETCW(shortened);
    engine e;
    prepare(e, pr);
    const float root = rtbis(e, LOWEST, HIGHEST, TOLERANCE);
    const float plain = rtbis(literallikelihood, LOWEST, HIGHEST, TOLERANCE, d->data.get(), &d->tab);
    _FPU_SETCW(saved);
    EXPECT_FALSE(e.fast);
    EXPECT_EQ(e.fastsigns, 0);
    EXPECT_EQ(root, plain);
}
#endif

// The log-likelihood, with locus weights: on small problems it is the sum of
// the logarithms written out gene by gene, and its slope is the score.
TEST(Engine, LogLikelihoodIsTheScoresIntegral)
{
    std::mt19937_64 rng(7);
    for (int set = 0; set < 46; ++set) {
        // The last sets: tables beyond the record's capacities, with counts
        // in the thousands, so that products of many factors are raised to
        // large powers.
        const counts c = set < 40 ? fromrecord(*randomdata(rng)->data) : bigtable(rng);
        const problem pr = randomproblem(c, rng);
        engine e;
        prepare(e, pr);
        for (const double theta : {0.01, 1.0, 9.0, 300.0}) {
            long double direct = 0.0L;
            for (const int p : pr.pops)
                for (std::size_t j = 0; j < pr.loci.size(); ++j) {
                    const int l = pr.loci[j];
                    std::int64_t genes = 0;
                    for (int k = 0; k < c.nalleles[static_cast<std::size_t>(l)]; ++k)
                        for (std::int64_t i = 0; i < c.at(p, l)[k]; ++i, ++genes)
                            direct +=
                                pr.weight[j] *
                                std::log(
                                    theta *
                                        pr.freq[static_cast<std::size_t>(l)][static_cast<std::size_t>(k)] +
                                    static_cast<double>(i));
                    for (std::int64_t i = 0; i < genes; ++i)
                        direct -= pr.weight[j] * std::log(theta + static_cast<double>(i));
                }
            const long double ll = loglik(e, theta);
            ASSERT_NEAR(ll, direct, 1e-9L * (1 + std::fabs(direct))) << "set " << set << " theta " << theta;
            e.wide = false;
            ASSERT_EQ(loglik(e, theta), ll) << "set " << set << ": SSE2 and AVX2 differ";
            e.wide = true;

            const double h = theta * 1e-4;
            const long double slope = (loglik(e, theta + h) - loglik(e, theta - h)) / (2 * h);
            const long double exact = plainscore(theta, pr);
            ASSERT_NEAR(slope, exact, 1e-5L * (1 + std::fabs(exact)) + 1e-9L * std::fabs(ll) / h)
                << "set " << set << " theta " << theta;
        }
    }
}

// Runs kept one weight per i take the bits of their weights one at a time:
// tables of 1 to 255 populations give weights of every width from 1 to 8
// bits, and the log-likelihood must be the direct sum for each.
TEST(Engine, LogLikelihoodForDenseWeightsOfEveryWidth)
{
    std::mt19937_64 rng(11);
    for (const int npops : {1, 2, 3, 6, 9, 17, 40, 65, 129, 200, 255}) {
        std::vector<std::string> names;
        for (int p = 0; p < npops; ++p)
            names.push_back(std::to_string(p));
        counts c = makecounts(names, {}, {});
        std::vector<std::int32_t> cells;
        for (int p = 0; p < npops; ++p)
            for (int k = 0; k < 3; ++k)
                cells.push_back(static_cast<std::int32_t>(rng() % 12));
        c.addlocus("l", 3, cells.data());
        const problem pr = wholeproblem(c, allpops(c));
        engine e;
        prepare(e, pr);
        for (const double theta : {0.05, 2.0, 70.0}) {
            long double direct = 0.0L;
            for (int p = 0; p < npops; ++p) {
                std::int64_t genes = 0;
                for (int k = 0; k < 3; ++k)
                    for (std::int64_t i = 0; i < c.at(p, 0)[k]; ++i, ++genes)
                        direct += std::log(theta * pr.freq[0][static_cast<std::size_t>(k)] +
                                           static_cast<double>(i));
                for (std::int64_t i = 0; i < genes; ++i)
                    direct -= std::log(theta + static_cast<double>(i));
            }
            const long double ll = loglik(e, theta);
            ASSERT_NEAR(ll, direct, 1e-10L * (1 + std::fabs(direct)))
                << npops << " populations, theta " << theta;
            e.wide = false;
            ASSERT_EQ(loglik(e, theta), ll) << npops << " populations: SSE2 and AVX2 differ";
            e.wide = true;
        }
    }
}

// The log-likelihood at infinity is the sum over populations (outer), then
// loci, of each pair's weighted sum of n_k log f_k, in that order to the bit
// (the LR test subtracts it from the log-likelihood at the estimate).
TEST(Engine, LogLikelihoodAtInfinityIsThePlainSum)
{
    std::mt19937_64 rng(11);
    for (int set = 0; set < 46; ++set) {
        const counts c = set < 40 ? fromrecord(*randomdata(rng)->data) : bigtable(rng);
        problem pr = randomproblem(c, rng);
        if (set % 3 == 0)
            pr.weight.clear();
        long double plain = 0.0L;
        for (const int p : pr.pops)
            for (std::size_t j = 0; j < pr.loci.size(); ++j) {
                const auto l = static_cast<std::size_t>(pr.loci[j]);
                long double part = 0.0L;
                for (int k = 0; k < c.nalleles[l]; ++k)
                    if (c.at(p, pr.loci[j])[k] > 0)
                        part += static_cast<long double>(c.at(p, pr.loci[j])[k]) *
                                std::log(static_cast<long double>(pr.freq[l][static_cast<std::size_t>(k)]));
                plain += (pr.weight.empty() ? 1.0L : pr.weight[j]) * part;
            }
        ASSERT_EQ(loglikinf(pr), plain) << "set " << set;
    }
}
