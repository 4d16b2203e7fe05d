#include "core/tables.h"

void buildtables(const datastr* data, tables* t)
{
    auto& freq = t->freq;
    auto& ngenes = t->ngenes;

    // Pooled counts, summed over populations in a single-precision running sum.
    for (int l = 1; l <= data->nloci; ++l) {
        for (int k = 1; k <= data->nalleles[l]; ++k) {
            freq[l][k] = 0.0f;
            for (int p = 1; p <= data->npops; ++p)
                freq[l][k] = freq[l][k] + static_cast<float>(data->allelecount[p][l][k]);
        }
    }

    // Relative frequencies: the locus total is complete, in extended
    // precision, before any entry of the locus is divided by it.
    for (int l = 1; l <= data->nloci; ++l) {
        if (data->nalleles[l] < 1)
            continue;
        long double total = 0.0L;
        for (int k = 1; k <= data->nalleles[l]; ++k)
            total += freq[l][k];
        for (int k = 1; k <= data->nalleles[l]; ++k)
            freq[l][k] = static_cast<float>(freq[l][k] / total);
    }

    for (int p = 1; p <= data->npops; ++p) {
        for (int l = 1; l <= data->nloci; ++l) {
            ngenes[p][l] = 0;
            for (int k = 1; k <= data->nalleles[l]; ++k)
                ngenes[p][l] += data->allelecount[p][l][k];
        }
    }
}
