#include "core/fit.h"

#include <cmath>

#include "core/estimate.h"

std::vector<std::vector<float>> pooled(const counts& c, const std::vector<int>& pops)
{
    std::vector<std::vector<float>> freq(c.nloci());
    for (int l = 0; l < c.nloci(); ++l) {
        std::vector<float>& f = freq[l];
        f.assign(c.nalleles[l], 0.0f);
        for (int k = 0; k < c.nalleles[l]; ++k)
            for (const int p : pops)
                f[k] = f[k] + static_cast<float>(c.at(p, l)[k]);
        long double total = 0.0L;
        for (const float x : f)
            total += x;
        if (total > 0.0L)
            for (float& x : f)
                x = static_cast<float>(x / total);
    }
    return freq;
}

std::vector<int> allpops(const counts& c)
{
    std::vector<int> pops(c.npops());
    for (int p = 0; p < c.npops(); ++p)
        pops[p] = p;
    return pops;
}

problem wholeproblem(const counts& c, std::vector<int> pops)
{
    problem pr;
    pr.c = &c;
    pr.freq = pooled(c, pops);
    pr.pops = std::move(pops);
    for (int l = 0; l < c.nloci(); ++l)
        pr.loci.push_back(l);
    return pr;
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
            const std::int64_t* n = c.at(p, l);
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

// log x + log(x + 1) + ... + log(x + n - 1).
long double logrise(long double x, std::int64_t n)
{
    if (n <= 16) {
        long double s = 0.0L;
        for (std::int64_t i = 0; i < n; ++i)
            s += std::log(x + static_cast<long double>(i));
        return s;
    }
    return std::lgamma(x + static_cast<long double>(n)) - std::lgamma(x);
}

}  // namespace

long double score(long double theta, const problem& pr)
{
    return total<false>(theta, pr);
}

long double information(long double theta, const problem& pr)
{
    return -total<true>(theta, pr);
}

long double loglik(long double theta, const problem& pr)
{
    const counts& c = *pr.c;
    long double sum = 0.0L;
    for (const int p : pr.pops)
        for (std::size_t j = 0; j < pr.loci.size(); ++j) {
            const int l = pr.loci[j];
            const std::int64_t* n = c.at(p, l);
            long double part = 0.0L;
            std::int64_t genes = 0;
            for (int k = 0; k < c.nalleles[l]; ++k)
                if (n[k] > 0) {
                    genes += n[k];
                    part += logrise(theta * pr.freq[l][k], n[k]);
                }
            part -= logrise(theta, genes);
            sum += (pr.weight.empty() ? 1.0L : pr.weight[j]) * part;
        }
    return sum;
}

long double loglikinf(const problem& pr)
{
    const counts& c = *pr.c;
    long double sum = 0.0L;
    for (const int p : pr.pops)
        for (std::size_t j = 0; j < pr.loci.size(); ++j) {
            const int l = pr.loci[j];
            const std::int64_t* n = c.at(p, l);
            long double part = 0.0L;
            for (int k = 0; k < c.nalleles[l]; ++k)
                if (n[k] > 0)
                    part +=
                        static_cast<long double>(n[k]) * std::log(static_cast<long double>(pr.freq[l][k]));
            sum += (pr.weight.empty() ? 1.0L : pr.weight[j]) * part;
        }
    return sum;
}

fitresult fit(const problem& pr)
{
    // The score as vorn's root finder sees it: rounded to single precision.
    auto f = [&](float theta) { return static_cast<float>(score(theta, pr)); };
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
            r.var = 1.0L / information(r.theta, pr);
            return r;
        }
    }
    r.end = fitend::stuck;
    return r;
}
