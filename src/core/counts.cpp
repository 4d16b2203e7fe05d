#include "core/counts.h"

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
        size += static_cast<std::size_t>(a) * c.popnames.size();
    }
    c.n.assign(size, 0);
    return c;
}

counts fromrecord(const datastr& data)
{
    std::vector<std::string> pops, loci;
    std::vector<int> nalleles;
    for (int p = 1; p <= data.npops; ++p)
        pops.emplace_back(data.popname[p]);
    for (int l = 1; l <= data.nloci; ++l) {
        loci.emplace_back(data.locuslabel[l]);
        nalleles.push_back(data.nalleles[l]);
    }
    counts c = makecounts(std::move(pops), std::move(loci), nalleles);
    for (int p = 0; p < c.npops(); ++p)
        for (int l = 0; l < c.nloci(); ++l)
            for (int k = 0; k < c.nalleles[l]; ++k)
                c.at(p, l)[k] = data.allelecount[p + 1][l + 1][k + 1];
    return c;
}
