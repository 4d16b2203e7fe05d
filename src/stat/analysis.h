// vornstat's analyses of one count table: the global result with its
// intervals and test, and the same per locus, per population and per pair of
// populations, and a bootstrap over loci.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/counts.h"
#include "core/fit.h"
#include "core/hugealloc.h"

struct settings {
    double level = 0.95;  // of every interval
    bool perlocus = false;
    bool perpop = false;
    bool pairwise = false;
    int bootstrap = 0;  // replicates; 0: none
    std::uint64_t seed = 1;
    // Called after each estimate with how many are done of how many.
    std::function<void(std::size_t, std::size_t)> progress;
};

// An interval limit is a number, or lies beyond the search range: below
// 0.00001 (written 0) or above 10000 (written inf).
struct limit {
    enum { none, value, zero, infinite } kind = none;
    double x = 0.0;
};

struct interval {
    limit low, high;
};

struct result {
    std::string scope;  // "all", "locus", "pop", "pair" or "window"
    std::string name, name2;
    int populations = 0;
    int loci = 0;
    std::int64_t genes = 0;
    fitend where = fitend::flat;
    float theta = 0.0f;  // when where is root
    double se = 0.0;     // sqrt of the variance; NaN when the information is not positive
    interval profile, wald, boot;
    bool tested = false;
    double lr = 0.0, p = 0.0;
    std::string note;  // why an result is missing or at a bound, in words
};

// chi-square(1) quantile and upper tail; the standard normal quantile.
double normalquantile(double p);
double chisq1quantile(double level);
double chisq1upper(double x);

// The global estimate, then the estimates each setting asks for.
hugevector<result> analyse(const counts& c, const settings& s);

// One row of any problem (a window of loci, say): the estimate, its
// intervals, test and note, as analyse makes each of its rows. A run of rows
// can share one engine, whose arrays are then not allocated again for each.
result estimaterow(const problem& pr, const settings& s, const std::string& scope, const std::string& name);
result estimaterow(const problem& pr, const settings& s, const std::string& scope, const std::string& name,
                   engine& en);

// F_ST = 1 / (1 + theta) of an interval end; ends beyond the range map to 1 and 0.
limit fstof(const limit& e);
