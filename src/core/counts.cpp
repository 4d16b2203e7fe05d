#include "core/counts.h"

#include <algorithm>

counts makecounts(std::vector<std::string> popnames, std::vector<std::string> locusnames,
                  const std::vector<int>& nalleles)
{
    counts c;
    c.popnames = std::move(popnames);
    c.locusnames = std::move(locusnames);
    c.nalleles = nalleles;
    std::size_t size = 0;
    for (const int a : nalleles) {
        c.offset.push_back(size);
        c.step.push_back(static_cast<std::size_t>(a));
        size += static_cast<std::size_t>(a) * c.popnames.size();
    }
    c.n.assign(size, 0);
    return c;
}

counts fromrecord(const datastr& data)
{
    const counts v = viewrecord(data);
    counts c = makecounts(v.popnames, v.locusnames, v.nalleles);
    for (int p = 0; p < c.npops(); ++p)
        for (int l = 0; l < c.nloci(); ++l)
            std::copy_n(v.at(p, l), c.nalleles[l], c.at(p, l));
    return c;
}

counts viewrecord(const datastr& data)
{
    // The record is indexed from 1: population p, locus l, allele k of the
    // table are allelecount[p + 1][l + 1][k + 1].
    counts c;
    for (int p = 1; p <= data.npops; ++p)
        c.popnames.emplace_back(data.popname[p]);
    c.view = &data.allelecount[0][0][0];
    constexpr auto row = static_cast<std::size_t>(MAXLOCI) * MAXALLELES;
    for (int l = 1; l <= data.nloci; ++l) {
        c.locusnames.emplace_back(data.locuslabel[l]);
        c.nalleles.push_back(data.nalleles[l]);
        c.offset.push_back(row + static_cast<std::size_t>(l) * MAXALLELES + 1);
        c.step.push_back(row);
    }
    return c;
}
