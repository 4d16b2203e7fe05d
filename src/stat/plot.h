// vornstat's plots: SVG written as text, self-contained (no scripts, no
// fonts to fetch, no links), drawn from the same results as the tables.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "stat/analysis.h"
#include "stat/report.h"

// One plot of an input: its kind ("profile", "loci", "pairs", "scan"),
// which ends its file name, and its SVG text.
struct plot {
    std::string kind;
    std::string svg;
};

// The plots the results allow: the profile log-likelihood always, the loci
// with per-locus results, the pairs with pairwise ones, the scan with
// window rows.
std::vector<plot> plots(const analysed& a, const settings& s);

// Writes DIR/STEM-KIND.svg for each plot, making DIR when it is missing.
// Returns an empty string, or the path that could not be written and why.
std::string writeplots(const std::string& dir, const std::string& stem, const analysed& a, const settings& s);

// The stem of an input's plot files: its base name without the last
// extension ("stdin" for "-"), with _2, _3, ... when an earlier input of the
// run had the same stem.
std::string plotstem(const std::string& file, std::set<std::string>& used);

std::string profileplot(const analysed& a, const settings& s);
std::string lociplot(const analysed& a, const settings& s);
std::string pairsplot(const analysed& a);
std::string scanplot(const analysed& a);

// Building blocks, shared by the plots and tested alone.

// Text from a data file as SVG character data: XML-escaped, control bytes
// and bytes that are not UTF-8 shown as U+FFFD.
std::string svgtext(const std::string& s);
// At most n characters (code points); a longer text keeps n - 1 and ends in
// an ellipsis, so that a shortened name always shows that it was.
std::string shorten(const std::string& s, std::size_t n);

// Benjamini-Hochberg at false discovery rate q: which p-values are
// discoveries. NaN marks an untested entry, left out of the count.
std::vector<bool> discoveries(const std::vector<double>& p, double q);

// Average-linkage (UPGMA) clustering of a symmetric distance matrix. Leaves
// are 0..n-1, the merge i is node n + i, joining a and b at height h (the
// mean distance between their leaves). order lists the leaves as the tree
// draws them: at each node, first the branch holding the earlier leaf.
struct dendrogram {
    struct merge {
        int a, b;
        double h;
    };
    std::vector<merge> merges;
    std::vector<int> order;
};
dendrogram upgma(const std::vector<std::vector<double>>& d);

// A window row's name, CHROM:START-END.
struct span {
    std::string chrom;
    long long start = 0, end = 0;
};
bool parsespan(const std::string& name, span& out);
