// A genotype count record filled directly with counts, with the driver's two
// tables built from it, for tests of the tables and of the estimator.
#pragma once

#include <algorithm>
#include <memory>
#include <vector>

#include "core/estimate.h"
#include "core/tables.h"

struct dataset {
    std::unique_ptr<datastr> data{new datastr()};
    tables tab = {};

    // Counts of alleles 1, 2, ... of population p at locus l; npops, nloci
    // and nalleles grow to cover them.
    void set(int p, int l, const std::vector<int>& counts)
    {
        data->npops = std::max(data->npops, p);
        data->nloci = std::max(data->nloci, l);
        data->nalleles[l] = std::max<int>(data->nalleles[l], static_cast<int>(counts.size()));
        for (std::size_t k = 0; k < counts.size(); ++k)
            data->allelecount[p][l][k + 1] = counts[k];
    }
    void build() { buildtables(data.get(), &tab); }
    float score(float theta) const { return likelihood(theta, data.get(), &tab); }
    long double variance(float theta) const { return var(theta, data.get(), &tab); }
    float estimate(scorefunction f = likelihood) const
    {
        return rtbis(f, LOWEST, HIGHEST, TOLERANCE, data.get(), &tab);
    }
};

inline std::unique_ptr<dataset> newdataset() { return std::make_unique<dataset>(); }
