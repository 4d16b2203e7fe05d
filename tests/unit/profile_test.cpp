// The ends of vornstat's profile-likelihood interval against a bisection on
// log theta carried to 1e-13: the Newton search may stop early, but its
// ends must lie within 1e-9 (relative) of where the log-likelihood crosses.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "core/counts.h"
#include "core/fit.h"
#include "stat/analysis.h"

namespace {

// Tables of the shapes vornstat meets: biallelic sites of a VCF (20
// populations of 50 genes), microsatellites (a few populations, many
// alleles, small counts) and panels with counts in the thousands; the
// populations' allele shares drift apart by a random amount.
counts randomtable(std::mt19937_64& rng, int shape)
{
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    const int npops = shape == 0 ? 20 : shape == 1 ? pick(2, 6) : pick(3, 30);
    const int nloci = shape == 0 ? pick(1, 3) : pick(1, 12);
    std::vector<int> nalleles(static_cast<std::size_t>(nloci));
    for (int& a : nalleles)
        a = shape == 0 ? 2 : shape == 1 ? pick(2, 20) : pick(2, 6);
    counts c = makecounts(std::vector<std::string>(static_cast<std::size_t>(npops)),
                          std::vector<std::string>(static_cast<std::size_t>(nloci)), nalleles);
    const double drift = std::uniform_real_distribution<double>(0.0, 1.0)(rng);
    for (int l = 0; l < nloci; ++l) {
        const int alleles = c.nalleles[static_cast<std::size_t>(l)];
        std::vector<double> base(static_cast<std::size_t>(alleles));
        for (double& b : base)
            b = std::uniform_real_distribution<double>(0.05, 1.0)(rng);
        for (int p = 0; p < npops; ++p) {
            const int genes = shape == 0 ? 50 : shape == 1 ? pick(5, 40) : pick(500, 5000);
            std::vector<double> share = base;
            for (double& s : share)
                s *= std::exp(drift * std::normal_distribution<double>(0.0, 1.0)(rng));
            std::discrete_distribution<int> allele(share.begin(), share.end());
            for (int g = 0; g < genes; ++g)
                ++c.at(p, l)[allele(rng)];
        }
    }
    return c;
}

// The log theta in [lo, hi] where g changes sign, by halving to 1e-13.
template <typename G>
double halve(G g, double lo, double hi)
{
    const bool lowabove = g(lo) >= 0.0L;
    while (hi - lo > 1e-13) {
        const double mid = 0.5 * (lo + hi);
        ((g(mid) >= 0.0L) == lowabove ? lo : hi) = mid;
    }
    return 0.5 * (lo + hi);
}

}  // namespace

TEST(Profile, EndsLieWhereTheLogLikelihoodCrosses)
{
    std::mt19937_64 rng(11);
    const settings s;
    const long double drop = 0.5L * chisq1quantile(s.level);
    int ends = 0;
    for (int set = 0; set < 120; ++set) {
        const counts c = randomtable(rng, set % 3);
        const problem pr = wholeproblem(c, allpops(c));
        const result r = estimaterow(pr, s, "all", "");
        if (r.where != fitend::root)
            continue;
        const long double target = loglik(static_cast<long double>(r.theta), pr) - drop;
        const auto g = [&](double x) { return loglik(static_cast<long double>(std::exp(x)), pr) - target; };
        const double u = std::log(static_cast<double>(r.theta));
        for (const limit* end : {&r.profile.low, &r.profile.high}) {
            if (end->kind != limit::value)
                continue;
            const double x = std::log(end->x);
            const double far = end == &r.profile.low ? std::log(1e-5) : std::log(1e4);
            const double crossing = halve(g, std::min(u, far), std::max(u, far));
            EXPECT_NEAR(x, crossing, 1e-9) << "set " << set << (end == &r.profile.low ? " low" : " high");
            ++ends;
        }
    }
    EXPECT_GT(ends, 150);  // most sets have both ends within the range
}
