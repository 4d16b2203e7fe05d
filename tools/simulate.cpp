// vorn-simulate: how vornstat's intervals and test behave on data drawn from
// the model itself.
//
//   vorn-simulate [-r REPLICATES] [-p POPS] [-l LOCI] [-n INDIVIDUALS] [-a ALLELES] [-s SEED]
//
// Each locus gets pooled frequencies from a flat Dirichlet distribution;
// each population draws its own from a Dirichlet distribution centred on
// them with concentration theta, and its diploid individuals' genes from
// those. For theta 2 and 10 it reports how often the 95% profile-likelihood
// and Wald intervals hold the true theta; with no differentiation at all
// (genes drawn from the pooled frequencies) how often the test rejects at
// 0.05. The data sets are made in memory; the analyses are vornstat's own.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "stat/analysis.h"

namespace {

struct randomness {
    std::mt19937_64 engine;
    double uniform() { return (static_cast<double>(engine() >> 11) + 0.5) * 0x1.0p-53; }
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
    std::vector<double> dirichlet(const std::vector<double>& alpha)
    {
        std::vector<double> x(alpha.size());
        double sum = 0;
        for (std::size_t k = 0; k < alpha.size(); ++k)
            sum += x[k] = gamma(alpha[k]);
        for (double& v : x)
            v /= sum;
        return x;
    }
    int draw(const std::vector<double>& p)
    {
        double u = uniform();
        for (std::size_t k = 0; k + 1 < p.size(); ++k)
            if ((u -= p[k]) < 0)
                return static_cast<int>(k);
        return static_cast<int>(p.size()) - 1;
    }
};

struct shape {
    int npops = 50, nloci = 10, nind = 25, nalleles = 6;
};

// theta infinite: every population draws from the pooled frequencies.
counts simulate(randomness& rng, const shape& sh, double theta)
{
    std::vector<std::string> pops, loci;
    // Names are appended, not concatenated: GCC 12 warns wrongly on "p" + string.
    for (int p = 0; p < sh.npops; ++p)
        pops.emplace_back("p").append(std::to_string(p + 1));
    for (int l = 0; l < sh.nloci; ++l)
        loci.emplace_back("l").append(std::to_string(l + 1));
    counts c = makecounts(pops, loci, std::vector<int>(sh.nloci, sh.nalleles));
    for (int l = 0; l < sh.nloci; ++l) {
        const std::vector<double> pooled = rng.dirichlet(std::vector<double>(sh.nalleles, 1.0));
        for (int p = 0; p < sh.npops; ++p) {
            std::vector<double> own = pooled;
            if (std::isfinite(theta)) {
                std::vector<double> alpha(pooled);
                for (double& a : alpha)
                    a *= theta;
                own = rng.dirichlet(alpha);
            }
            for (int g = 0; g < 2 * sh.nind; ++g)
                ++c.at(p, l)[rng.draw(own)];
        }
    }
    // Alleles never drawn carry no count; the table keeps them, as a locus
    // of a file would not: drop them so that frequencies are all positive.
    counts t = c;
    for (int l = 0; l < sh.nloci; ++l) {
        std::vector<int> keep;
        for (int k = 0; k < sh.nalleles; ++k) {
            std::int64_t n = 0;
            for (int p = 0; p < sh.npops; ++p)
                n += c.at(p, l)[k];
            if (n > 0)
                keep.push_back(k);
        }
        t.nalleles[l] = static_cast<int>(keep.size());
    }
    counts out = makecounts(c.popnames, c.locusnames, t.nalleles);
    for (int l = 0; l < sh.nloci; ++l) {
        int j = 0;
        for (int k = 0; k < sh.nalleles; ++k) {
            std::int64_t n = 0;
            for (int p = 0; p < sh.npops; ++p)
                n += c.at(p, l)[k];
            if (n == 0)
                continue;
            for (int p = 0; p < sh.npops; ++p)
                out.at(p, l)[j] = c.at(p, l)[k];
            ++j;
        }
    }
    return out;
}

bool holds(const interval& in, double theta)
{
    const double low = in.low.kind == limit::value ? in.low.x : in.low.kind == limit::zero ? 0.0 : HUGE_VAL;
    const double high = in.high.kind == limit::value ? in.high.x : in.high.kind == limit::zero ? 0.0 : HUGE_VAL;
    return in.low.kind != limit::none && low <= theta && theta <= high;
}

}  // namespace

int main(int argc, char** argv)
{
    int reps = 1000;
    shape sh;
    std::uint64_t seed = 1;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string flag = argv[i];
        const long v = std::strtol(argv[i + 1], nullptr, 10);
        if (v < 1) {
            std::fprintf(stderr, "vorn-simulate: %s needs a positive number\n", flag.c_str());
            return 2;
        }
        if (flag == "-r")
            reps = static_cast<int>(v);
        else if (flag == "-p")
            sh.npops = static_cast<int>(v);
        else if (flag == "-l")
            sh.nloci = static_cast<int>(v);
        else if (flag == "-n")
            sh.nind = static_cast<int>(v);
        else if (flag == "-a")
            sh.nalleles = static_cast<int>(v);
        else if (flag == "-s")
            seed = static_cast<std::uint64_t>(v);
        else {
            std::fprintf(stderr, "vorn-simulate: unknown option %s\n", flag.c_str());
            return 2;
        }
    }
    randomness rng{std::mt19937_64(seed)};
    const settings s;
    std::printf("%d data sets each: %d populations, %d loci, %d diploid individuals, %d alleles\n", reps,
                sh.npops, sh.nloci, sh.nind, sh.nalleles);
    for (const double theta : {2.0, 10.0}) {
        int profile = 0, wald = 0;
        double mean = 0;
        for (int r = 0; r < reps; ++r) {
            const result e = analyse(simulate(rng, sh, theta), s).front();
            profile += holds(e.profile, theta);
            wald += holds(e.wald, theta);
            mean += e.where == fitend::root ? e.theta : std::numeric_limits<double>::quiet_NaN();
        }
        std::printf("theta %g: profile interval holds it %.1f%%, Wald interval %.1f%%, mean estimate %.4g\n", theta,
                    100.0 * profile / reps, 100.0 * wald / reps, mean / reps);
    }
    int rejected = 0;
    for (int r = 0; r < reps; ++r) {
        const result e = analyse(simulate(rng, sh, HUGE_VAL), s).front();
        rejected += e.tested && e.p < 0.05;
    }
    std::printf("no differentiation: the test rejects at 0.05 in %.1f%%\n", 100.0 * rejected / reps);
    return 0;
}
