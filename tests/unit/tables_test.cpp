// Pooled allele frequencies and sample sizes built from the count record.
#include <gtest/gtest.h>

#include "testdata.h"

// Exact shares however the genes are spread: a sole allele, and a 3:1 locus
// split four ways, including alleles present in one population only and a
// population with no typed gene at a locus.
TEST(Tables, SharesAndSampleSizes)
{
    auto s = newdataset();
    s->set(1, 1, {3});
    s->set(2, 1, {5});
    s->set(1, 2, {3, 1});  // population 2 has nothing typed at locus 2
    s->set(1, 3, {2, 0});
    s->set(2, 3, {1, 1});
    s->set(1, 4, {0, 1});
    s->set(2, 4, {3, 0});
    s->build();
    EXPECT_EQ(s->tab.freq[1][1], 1.0f);
    for (int l = 2; l <= 4; ++l) {
        EXPECT_EQ(s->tab.freq[l][1], 0.75f) << "locus " << l;
        EXPECT_EQ(s->tab.freq[l][2], 0.25f) << "locus " << l;
    }
    const int ngenes[3][5] = {{}, {0, 3, 4, 2, 1}, {0, 5, 0, 2, 3}};
    for (int p = 1; p <= 2; ++p)
        for (int l = 1; l <= 4; ++l)
            EXPECT_EQ(s->tab.ngenes[p][l], ngenes[p][l]) << "population " << p << " locus " << l;
}

// Only entries inside the data set's ranges are written; a locus with no
// alleles gets sample size 0 everywhere and no frequency entries at all.
TEST(Tables, WritesOnlyItsOwnEntries)
{
    auto s = newdataset();
    constexpr float freqmark = -7.0f;
    constexpr int ngenesmark = -7;
    std::fill(&s->tab.freq[0][0], &s->tab.freq[0][0] + MAXLOCI * MAXALLELES, freqmark);
    std::fill(&s->tab.ngenes[0][0], &s->tab.ngenes[0][0] + MAXPOPS * MAXLOCI, ngenesmark);
    s->set(1, 1, {1, 2});
    s->set(2, 3, {0, 0, 4});
    s->build();  // npops 2, nloci 3, locus 2 without alleles
    const datastr& d = *s->data;
    for (int l = 0; l < MAXLOCI; ++l)
        for (int k = 0; k < MAXALLELES; ++k)
            if (l < 1 || l > d.nloci || k < 1 || k > d.nalleles[l]) {
                ASSERT_EQ(s->tab.freq[l][k], freqmark) << "freq[" << l << "][" << k << "]";
            }
    for (int p = 0; p < MAXPOPS; ++p)
        for (int l = 0; l < MAXLOCI; ++l) {
            const bool inside = p >= 1 && p <= d.npops && l >= 1 && l <= d.nloci;
            ASSERT_EQ(s->tab.ngenes[p][l], inside ? (p == 1 && l == 1 ? 3 : p == 2 && l == 3 ? 4 : 0) : ngenesmark)
                << "ngenes[" << p << "][" << l << "]";
        }
}

// Pooled counts are single-precision running sums over populations in
// ascending order, and the locus total is an extended-precision sum: both are
// visible once counts pass 2^24, where a float can no longer add 1.
TEST(Tables, SumsInSinglePrecisionDividesByExtendedTotal)
{
    constexpr int big = 1 << 24;
    auto s = newdataset();
    // Locus 1: allele 1 is 2^24 in population 1 plus 1 in each of 20 more;
    // each +1 rounds back to 2^24 in float (a double sum, or the 1s added
    // first, would give 2^24 + 20 and shares off 0.5).
    s->set(1, 1, {big, big});
    for (int p = 2; p <= 21; ++p)
        s->set(p, 1, {1, 0});
    // Locus 2: one allele of 2^24 and 48 of 1: a float total would stay 2^24
    // and give the big allele share 1.
    std::vector<int> counts(49, 1);
    counts[0] = big;
    s->set(1, 2, counts);
    s->build();
    EXPECT_EQ(s->tab.freq[1][1], 0.5f);
    EXPECT_EQ(s->tab.freq[1][2], 0.5f);
    const long double total = big + 48.0L;
    EXPECT_EQ(s->tab.freq[2][1], static_cast<float>(big / total));
    EXPECT_LT(s->tab.freq[2][1], 1.0f);
    for (int k = 2; k <= 49; ++k)
        ASSERT_EQ(s->tab.freq[2][k], static_cast<float>(1 / total)) << "allele " << k;
    EXPECT_EQ(s->tab.ngenes[1][1], 2 * big);
    EXPECT_EQ(s->tab.ngenes[21][1], 1);
}
