// The score and variance must equal, to the bit, what the plain loops give:
// the program shares terms between populations, and any change in the order
// of an addition would show here.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "core/tables.h"
#include "core/estimate.h"
#include "literal.h"

namespace {

struct dataset {
    std::unique_ptr<datastr> data = std::make_unique<datastr>();
    tables tab = {};
};

// Random counts: some populations untyped at some loci, some alleles private
// to one population, and counts long enough to cross the term tables' chunks.
std::unique_ptr<dataset> randomdata(std::mt19937_64& rng)
{
    auto d = std::make_unique<dataset>();
    datastr& r = *d->data;
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    r.npops = pick(1, 12);
    r.nloci = pick(1, 6);
    const int big = pick(0, 3) == 0 ? 1500 : 40;
    for (int l = 1; l <= r.nloci; ++l) {
        r.nalleles[l] = pick(0, 8);
        for (int k = 1; k <= r.nalleles[l]; ++k) {
            for (int p = 1; p <= r.npops; ++p)
                if (pick(0, 3) != 0)
                    r.allelecount[p][l][k] = pick(0, big);
            r.allelecount[pick(1, r.npops)][l][k] += 1;  // every allele is met somewhere
        }
    }
    buildtables(&r, &d->tab);
    return d;
}

bool samebits(long double x, long double y)
{
    return std::memcmp(&x, &y, 10) == 0;  // the 80-bit value, not the padding
}

bool samebits(float x, float y)
{
    return std::memcmp(&x, &y, sizeof x) == 0;
}

TEST(SharedTerms, ScoreAndVarianceEqualThePlainLoopsToTheBit)
{
    std::mt19937_64 rng(20261207);
    int sets = 0, values = 0;
    for (; sets < 300; ++sets) {
        const auto d = randomdata(rng);
        const datastr* data = d->data.get();
        std::vector<float> thetas = {0.00001f, 10000.0f, 1.0f, 5000.0f};
        for (int i = 0; i < 12; ++i)
            thetas.push_back(static_cast<float>(std::exp(std::uniform_real_distribution<double>(-11.5, 9.2)(rng))));
        // Values next to the root, where the score's sign is decided by its last bits.
        const float f1 = literallikelihood(0.00001f, data, &d->tab);
        const float f2 = literallikelihood(10000.0f, data, &d->tab);
        if (static_cast<double>(f1) * f2 < 0) {
            const float root = rtbis(literallikelihood, LOWEST, HIGHEST, TOLERANCE, data, &d->tab);
            float below = root, above = root;
            for (int i = 0; i < 4; ++i) {
                thetas.push_back(below = std::nextafter(below, 0.0f));
                thetas.push_back(above = std::nextafter(above, 1e9f));
            }
            thetas.push_back(root);
            EXPECT_TRUE(samebits(root, rtbis(likelihood, LOWEST, HIGHEST, TOLERANCE, data, &d->tab)));
            EXPECT_TRUE(samebits(root, estimate(data, &d->tab)));
        }
        for (const float theta : thetas) {
            ++values;
            ASSERT_TRUE(samebits(literallikelihood(theta, data, &d->tab),
                                 likelihood(theta, data, &d->tab)))
                << "set " << sets << " theta " << theta;
            ASSERT_TRUE(samebits(literalvar(theta, data, &d->tab), var(theta, data, &d->tab)))
                << "set " << sets << " theta " << theta;
        }
    }
    RecordProperty("datasets", sets);
    RecordProperty("thetas", values);
}

}  // namespace
