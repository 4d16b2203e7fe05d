#include "literal.h"

#include <cmath>
#include <cstdint>

#include "core/estimate.h"

float literallikelihood(float theta, const datastr* data, const tables* t)
{
    return static_cast<float>(literalsum(theta, data, t));
}

long double literalsum(float theta, const datastr* data, const tables* t)
{
    const auto& freq = t->freq;
    const auto& ngenes = t->ngenes;
    long double sum = 0.0L;
    for (int p = 1; p <= data->npops; ++p) {
        for (int l = 1; l <= data->nloci; ++l) {
            long double a = 0.0L;
            for (int k = 1; k <= data->nalleles[l]; ++k) {
                for (int i = 0; i < data->allelecount[p][l][k]; ++i) {
                    const long double r = 1.0L / freq[l][k];
                    a += 1.0L / (r * i + static_cast<long double>(theta));
                }
            }
            long double b = 0.0L;
            for (int i = 0; i < ngenes[p][l]; ++i)
                b += 1.0L / (static_cast<long double>(theta) + i);
            sum += a - b;
        }
    }
    return sum;
}

long double literalvar(float theta, const datastr* data, const tables* t)
{
    const auto& freq = t->freq;
    const auto& ngenes = t->ngenes;
    long double sum = 0.0L;
    for (int p = 1; p <= data->npops; ++p) {
        for (int l = 1; l <= data->nloci; ++l) {
            long double a = 0.0L;
            for (int k = 1; k <= data->nalleles[l]; ++k) {
                for (int i = 0; i < data->allelecount[p][l][k]; ++i) {
                    const long double r = 1.0L / freq[l][k];
                    const long double term = 1.0L / (r * i + static_cast<long double>(theta));
                    a += term * term;
                }
            }
            long double b = 0.0L;
            for (int i = 0; i < ngenes[p][l]; ++i) {
                const long double term = 1.0L / (static_cast<long double>(theta) + i);
                b += term * term;
            }
            sum += b - a;
        }
    }
    return -1.0L / sum;
}

namespace {

// The sums over populations (outer) and loci (inner) of the allele part
// less the sample part, the order in which vorn adds them. Squared: the
// information's terms, with the difference reversed.
template <bool Squared>
long double total(long double theta, const problem& pr)
{
    const counts& c = *pr.c;
    long double sum = 0.0L;
    for (const int p : pr.pops)
        for (std::size_t j = 0; j < pr.loci.size(); ++j) {
            const int l = pr.loci[j];
            const std::int32_t* n = c.at(p, l);
            const float* f = pr.freq[l].data();
            long double a = 0.0L;
            std::int64_t genes = 0;
            for (int k = 0; k < c.nalleles[l]; ++k) {
                genes += n[k];
                for (std::int64_t i = 0; i < n[k]; ++i) {
                    const long double r = 1.0L / f[k];
                    const long double t = 1.0L / (r * static_cast<long double>(i) + theta);
                    a += Squared ? t * t : t;
                }
            }
            long double b = 0.0L;
            for (std::int64_t i = 0; i < genes; ++i) {
                const long double t = 1.0L / (theta + static_cast<long double>(i));
                b += Squared ? t * t : t;
            }
            const long double w = pr.weight.empty() ? 1.0L : pr.weight[j];
            sum += w * (Squared ? b - a : a - b);
        }
    return sum;
}

}  // namespace

long double plainscore(long double theta, const problem& pr)
{
    return total<false>(theta, pr);
}

long double plaininformation(long double theta, const problem& pr)
{
    return -total<true>(theta, pr);
}

fitresult plainfit(const problem& pr)
{
    // The score as vorn's root finder sees it: rounded to single precision.
    auto f = [&](float theta) { return static_cast<float>(plainscore(theta, pr)); };
    fitresult r;
    const float lo = f(LOWEST);
    const float hi = f(HIGHEST);
    if (static_cast<double>(lo) * static_cast<double>(hi) >= 0.0) {
        // No sign change: where the score points tells where theta lies.
        if (hi > 0.0f || lo > 0.0f)
            r.end = fitend::above;
        else if (hi < 0.0f || lo < 0.0f)
            r.end = fitend::below;
        else
            r.end = fitend::flat;
        return r;
    }
    long double rtb;
    float dx;
    if (lo < 0.0f) {
        rtb = LOWEST;
        dx = HIGHEST - LOWEST;
    } else {
        rtb = HIGHEST;
        dx = LOWEST - HIGHEST;
    }
    for (int j = 0; j < 40; ++j) {
        dx = dx * 0.5f;
        const long double xmid = rtb + dx;
        const float fmid = f(static_cast<float>(xmid));
        if (fmid <= 0.0f)
            rtb = xmid;
        if (std::fabs(dx) < TOLERANCE || fmid == 0.0f) {
            r.end = fitend::root;
            r.theta = static_cast<float>(rtb);
            r.var = 1.0L / plaininformation(r.theta, pr);
            return r;
        }
    }
    r.end = fitend::stuck;
    return r;
}
