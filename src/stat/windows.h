// Estimates in windows along the genome: each window a fit of its sites
// alone, with the pooled frequencies of all populations.
#pragma once

#include <cstdint>
#include <vector>

#include "core/counts.h"
#include "stat/analysis.h"
#include "stat/countsfile.h"

// The windows of each chromosome, in the order the chromosomes were first
// met: window i covers positions 1 + i step to i step + width. Every window
// from the first that holds a site of the chromosome to the last is given,
// a window without sites included (with a note). Scope "window", name
// CHROM:START-END, loci the number of sites.
hugevector<result> windows(const counts& c, const positions& at, std::int64_t width, std::int64_t step,
                           const settings& s);

// How many windows that gives (at most INT64_MAX): vornstat refuses more
// than MAXWINDOWS, which would not fit in memory.
std::int64_t windowcount(const positions& at, std::int64_t width, std::int64_t step);
constexpr std::int64_t MAXWINDOWS = 10'000'000;
