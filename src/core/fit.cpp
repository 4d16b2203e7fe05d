#include "core/fit.h"

#include <cmath>
#include <cstdint>
#include <vector>

#include "core/estimate.h"
#include "core/failure.h"
#include "core/hugealloc.h"

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

long double score(float theta, const problem& pr)
{
    engine e;
    prepare(e, pr);
    return exactsum(e, theta);
}

long double information(float theta, const problem& pr)
{
    engine e;
    prepare(e, pr);
    return information(e, theta);
}

long double loglik(long double theta, const problem& pr)
{
    engine e;
    prepare(e, pr);
    return loglik(e, static_cast<double>(theta));
}

long double loglikinf(const problem& pr)
{
    // Each pair's part, weighted, is formed locus by locus (reading the table
    // in its order, the logarithms of a locus's frequencies taken once) and
    // kept population by population, so that the sum over populations, then
    // loci, reads them in order.
    const counts& c = *pr.c;
    const std::size_t nloci = pr.loci.size();
    const std::size_t npops = pr.pops.size();
    hugevector<long double>& d = pairparts(nloci * npops);
    thread_local std::vector<long double> lf;  // a locus's log frequencies, kept for the next call
    for (std::size_t j = 0; j < nloci; ++j) {
        const int l = pr.loci[j];
        lf.clear();
        for (const float f : pr.freq[l])
            lf.push_back(std::log(static_cast<long double>(f)));
        const long double weight = pr.weight.empty() ? 1.0L : pr.weight[j];
        for (std::size_t q = 0; q < npops; ++q) {
            const std::int32_t* n = c.at(pr.pops[q], l);
            long double part = 0.0L;
            for (int k = 0; k < c.nalleles[l]; ++k)
                if (n[k] > 0)
                    part += static_cast<long double>(n[k]) * lf[k];
            d[q * nloci + j] = weight * part;
        }
    }
    long double sum = 0.0L;
    for (std::size_t i = 0; i < nloci * npops; ++i)
        sum += d[i];
    // The last of a problem's sums to use the array: a large one goes back,
    // so that it does not stay while the next file is read.
    if (d.capacity() > 65536)
        hugevector<long double>().swap(d);
    return sum;
}

fitresult fit(engine& e, bool variance)
{
    fitresult r;
    const int lo = scoresign(e, LOWEST);
    const int hi = scoresign(e, HIGHEST);
    if (lo * hi >= 0) {
        // No sign change: where the score points tells where theta lies.
        if (hi > 0 || lo > 0)
            r.end = fitend::above;
        else if (hi < 0 || lo < 0)
            r.end = fitend::below;
        else
            r.end = fitend::flat;
        return r;
    }
    // The engine's rtbis takes the same signs at the same trial points (the
    // ends' signs are those just taken).
    try {
        r.theta = rtbis(e, LOWEST, HIGHEST, TOLERANCE, lo, hi);
    } catch (const failure&) {
        r.end = fitend::stuck;
        return r;
    }
    r.end = fitend::root;
    if (variance)
        r.var = var(e, r.theta);
    return r;
}

fitresult fit(const problem& pr, bool variance)
{
    engine e;
    prepare(e, pr);
    return fit(e, variance);
}
