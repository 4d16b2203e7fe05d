// Fuzz target: reader, tables and estimate, as the driver runs them, on
// whatever the reader accepts.
//
// The tables must hold shares that add up to 1 and sample sizes that match
// the counts; the estimate, when there is one, must lie in the bracket; and
// the score, the root and the variance must equal, to the bit, what the
// plain loops of tests/oracle give for the same record. At every trial point
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

tables tab;
const auto& freq = tab.freq;
const auto& ngenes = tab.ngenes;

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

// The search's trial points, recorded through a function of the score's type.
std::vector<float> trials;
float recorded(float x, const datastr* d, const tables* t)
{
    trials.push_back(x);
    return literallikelihood(x, d, t);
}

void checkfast(const engine& e, const datastr* d, float x)
{
    const fastsum f = fastscore(e, x);
    const long double exact = literalsum(x, d, &tab);
    const std::string where = " at theta " + std::to_string(x);
    fuzz::require(std::fabs(f.value - exact) <= f.bound, "fast score outside its bound" + where);
    if (f.value > f.bound || f.value < -f.bound) {
        const float s = literallikelihood(x, d, &tab);
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
    checktables(*d);

    for (const float t : {LOWEST, 1.0f, HIGHEST})
        fuzz::require(samebits(likelihood(t, d, &tab), literallikelihood(t, d, &tab)),
                      "score differs from the plain loops at theta " + std::to_string(t));

    float theta = 0.0f, plain = 0.0f;
    const bool found = root(likelihood, d, theta);
    trials.clear();
    fuzz::require(found == root(recorded, d, plain), "the plain loops disagree on whether there is a root");

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
    fuzz::require(theta >= LOWEST && theta <= HIGHEST,
                  "estimate outside the bracket: " + std::to_string(theta));

    const long double v = var(theta, d, &tab);
    fuzz::require(samebits(v, literalvar(theta, d, &tab)), "variance differs from the plain loops");
    return 0;
}
