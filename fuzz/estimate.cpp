// Fuzz target: reader, tables and estimate, as the driver runs them, on
// whatever the reader accepts.
//
// The oracle shares nothing with the code under test but the record: its own
// tally of pooled counts and sample sizes into tables of its own, its own
// bisection, and the plain loops of tests/oracle. The tables must equal its
// tables to the bit, hold shares that add up to 1 and sample sizes that match
// the counts; the estimate, when there is one, must lie in the bracket; and
// the score, the root and the variance must equal, to the bit, what the
// oracle gives for the same record. At every trial point
// of the search the engine's fast score must lie within its bound of the
// plain loops' sum, and every sign it settles must be theirs; vorn's
// estimate must be the plain loops' root, also with the bound widened (on
// every third input) so that signs go to the exact sum.
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "core/engine.h"
#include "core/estimate.h"
#include "core/failure.h"
#include "core/tables.h"
#include "harness.h"
#include "literal.h"

namespace {

tables tab, own;  // the code's tables, the oracle's
const auto& freq = tab.freq;
const auto& ngenes = tab.ngenes;

// The oracle's tables, as their definition reads: each allele's count pooled
// over the populations in a single-precision running sum, divided by the
// locus total summed in extended precision; sample sizes the sums of counts.
void tally(const datastr& d, tables& t)
{
    for (int l = 1; l <= d.nloci; ++l) {
        for (int k = 1; k <= d.nalleles[l]; ++k) {
            float pooled = 0.0f;
            for (int p = 1; p <= d.npops; ++p)
                pooled = pooled + static_cast<float>(d.allelecount[p][l][k]);
            t.freq[l][k] = pooled;
        }
        long double total = 0.0L;
        for (int k = 1; k <= d.nalleles[l]; ++k)
            total += t.freq[l][k];
        for (int k = 1; k <= d.nalleles[l]; ++k)
            t.freq[l][k] = static_cast<float>(t.freq[l][k] / total);
    }
    for (int p = 1; p <= d.npops; ++p)
        for (int l = 1; l <= d.nloci; ++l) {
            std::int32_t n = 0;
            for (int k = 1; k <= d.nalleles[l]; ++k)
                n += d.allelecount[p][l][k];
            t.ngenes[p][l] = n;
        }
}

template <typename T>
bool samebits(T a, T b)
{
    // long double carries 10 bytes of value and padding after them.
    constexpr std::size_t n = sizeof(T) == sizeof(long double) ? 10 : sizeof(T);
    return std::memcmp(&a, &b, n) == 0;
}

void checktables(const datastr& d)
{
    for (int l = 1; l <= d.nloci; ++l) {
        for (int k = 1; k <= d.nalleles[l]; ++k)
            fuzz::require(samebits(freq[l][k], own.freq[l][k]), "share differs from the oracle's");
        for (int p = 1; p <= d.npops; ++p)
            fuzz::require(ngenes[p][l] == own.ngenes[p][l], "sample size differs from the oracle's");
        if (d.nalleles[l] == 0)
            continue;
        long double sum = 0.0L;
        for (int k = 1; k <= d.nalleles[l]; ++k) {
            fuzz::require(freq[l][k] > 0.0f && freq[l][k] <= 1.0f, "share out of range");
            sum += freq[l][k];
        }
        fuzz::require(std::fabs(sum - 1.0L) <= 1e-5L * d.nalleles[l], "shares do not add up to 1");
    }
    for (int p = 1; p <= d.npops; ++p)
        for (int l = 1; l <= d.nloci; ++l) {
            std::int64_t n = 0;
            for (int k = 1; k <= d.nalleles[l]; ++k)
                n += d.allelecount[p][l][k];
            fuzz::require(ngenes[p][l] == n, "sample size differs from the counts");
        }
}

// The root, or nothing when the search stops with a failure.
bool root(scorefunction function, const datastr* d, float& theta)
{
    try {
        theta = rtbis(function, LOWEST, HIGHEST, TOLERANCE, d, &tab);
        return true;
    } catch (const failure&) {
        return false;
    }
}

// The oracle's bisection, as its definition reads, on the plain loops over
// the oracle's tables, keeping its trial points; false where it fails.
std::vector<float> trials;
bool plainroot(const datastr* d, float& root)
{
    trials = {LOWEST, HIGHEST};
    const float f = literallikelihood(LOWEST, d, &own);
    float fmid = literallikelihood(HIGHEST, d, &own);
    if (static_cast<double>(f) * static_cast<double>(fmid) >= 0.0)
        return false;
    long double rtb = f < 0.0f ? LOWEST : HIGHEST;
    float dx = f < 0.0f ? HIGHEST - LOWEST : LOWEST - HIGHEST;
    for (int j = 0; j < 40; ++j) {
        dx = dx * 0.5f;
        const long double xmid = rtb + dx;
        trials.push_back(static_cast<float>(xmid));
        fmid = literallikelihood(static_cast<float>(xmid), d, &own);
        if (fmid <= 0.0f)
            rtb = xmid;
        if (std::fabs(dx) < TOLERANCE || fmid == 0.0f) {
            root = static_cast<float>(rtb);
            return true;
        }
    }
    return false;
}

void checkfast(const engine& e, const datastr* d, float x)
{
    const fastsum f = fastscore(e, x);
    const long double exact = literalsum(x, d, &own);
    const std::string where = " at theta " + std::to_string(x);
    fuzz::require(std::fabs(f.value - exact) <= f.bound, "fast score outside its bound" + where);
    if (f.value > f.bound || f.value < -f.bound) {
        const float s = literallikelihood(x, d, &own);
        fuzz::require((f.value > 0 && s > 0.0f) || (f.value < 0 && s < 0.0f),
                      "fast sign is not the exact sign" + where);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size)
{
    datastr* const d = fuzz::zeroedrecord(0);
    if (!fuzz::readmemory(bytes, size, d).accepted)
        return 0;
    fuzz::checkrecord(*d);

    std::memset(&tab, 0, sizeof tab);
    buildtables(d, &tab);
    tally(*d, own);
    checktables(*d);

    for (const float t : {LOWEST, 1.0f, HIGHEST})
        fuzz::require(samebits(likelihood(t, d, &tab), literallikelihood(t, d, &own)),
                      "score differs from the plain loops at theta " + std::to_string(t));

    float theta = 0.0f, plain = 0.0f;
    const bool found = root(likelihood, d, theta);
    fuzz::require(found == plainroot(d, plain), "the oracle disagrees on whether there is a root");
    float vorn = 0.0f;
    bool vornfound = true;
    try {
        vorn = estimate(d, &tab);
    } catch (const failure&) {
        vornfound = false;
    }
    fuzz::require(vornfound == found, "vorn's estimate disagrees on whether there is a root");

    const counts c = fromrecord(*d);
    const problem pr = recordproblem(c, &tab);
    engine e;
    prepare(e, pr);
    for (const float x : trials)
        checkfast(e, d, x);
    if (size % 3 == 0)
        e.slack = 1e300;
    float fast = 0.0f;
    bool fastfound = true;
    try {
        fast = rtbis(e, LOWEST, HIGHEST, TOLERANCE);
    } catch (const failure&) {
        fastfound = false;
    }
    fuzz::require(fastfound == found, "the engine disagrees on whether there is a root");

    if (!found)
        return 0;
    fuzz::require(samebits(theta, plain), "root differs from the plain loops");
    fuzz::require(samebits(fast, plain), "the engine's root differs from the plain loops");
    fuzz::require(samebits(vorn, plain), "vorn's estimate differs from the plain loops");
    fuzz::require(theta >= LOWEST && theta <= HIGHEST,
                  "estimate outside the bracket: " + std::to_string(theta));

    const long double v = var(theta, d, &tab);
    fuzz::require(samebits(v, literalvar(theta, d, &own)), "variance differs from the plain loops");
    return 0;
}
