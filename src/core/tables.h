// The two tables built from the record once the data file is read: pooled
// allele frequencies and the number of typed genes per population and locus.
#pragma once

#include <cstdint>

#include "core/datastr.h"

// freq[l][k]: share of allele k among all typed genes of locus l, all
// populations pooled. ngenes[p][l]: typed genes of population p at locus l.
// Only entries inside the data set's ranges are written.
struct tables {
    float freq[MAXLOCI][MAXALLELES];
    std::int32_t ngenes[MAXPOPS][MAXLOCI];
};

void buildtables(const datastr* data, tables* t);
