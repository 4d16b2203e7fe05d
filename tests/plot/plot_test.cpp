// The plots' building blocks on cases with known answers, and two plots of
// constructed results that the shipped examples do not reach: a genome scan
// and a heat map with a missing pair and long names. Given a folder, the
// two SVG files are written there for render.py to render.
#include <cmath>
#include <fstream>
#include <iostream>
#include <limits>
#include <set>
#include <string>
#include <vector>

#include "stat/plot.h"

namespace {

int failures = 0;

void check(bool ok, const std::string& what)
{
    if (!ok) {
        std::cerr << "plot_test: " << what << '\n';
        ++failures;
    }
}

std::size_t count(const std::string& s, const std::string& what)
{
    std::size_t n = 0;
    for (std::size_t at = s.find(what); at != std::string::npos; at = s.find(what, at + 1))
        ++n;
    return n;
}

result row(const std::string& scope, const std::string& name, double fst, const std::string& name2 = "")
{
    result e;
    e.scope = scope;
    e.name = name;
    e.name2 = name2;
    if (std::isnan(fst)) {
        e.where = fitend::flat;
        e.note = "no genes";
    } else {
        e.where = fitend::root;
        e.theta = static_cast<float>(1 / fst - 1);
    }
    return e;
}

void names()
{
    const std::string fffd = "\xef\xbf\xbd";
    struct {
        std::string in;
        std::size_t n;
        std::string out;
    } cases[] = {
        {"fca8", 24, "fca8"},
        {"abcdefgh", 8, "abcdefgh"},
        {"abcdefghi", 8, "abcdefg\xe2\x80\xa6"},
        {"\xc3\xa4\xc3\xb6\xc3\xbc\xc3\xa4\xc3\xb6", 4,
         "\xc3\xa4\xc3\xb6\xc3\xbc\xe2\x80\xa6"},  // never inside a character
        {"a<b&\"c\">", 20, "a&lt;b&amp;&quot;c&quot;&gt;"},
        {"caf\xe9", 20, "caf" + fffd},                        // Latin-1, not UTF-8
        {"tab\there\x7f", 20, "tab" + fffd + "here" + fffd},  // control bytes
        {"\xed\xa0\x80x", 20, fffd + fffd + fffd + "x"},      // a surrogate
        {"\xc0\xafx", 20, fffd + fffd + "x"},                 // an overlong '/'
        {"\xe2\x82", 20, fffd + fffd},                        // cut short
    };
    for (const auto& c : cases)
        check(svgtext(shorten(c.in, c.n)) == c.out,
              "name '" + c.in + "' gave '" + svgtext(shorten(c.in, c.n)) + "'");

    std::set<std::string> used;
    check(plotstem("data/cats.gen", used) == "cats", "stem of data/cats.gen");
    check(plotstem("other/cats.nex", used) == "cats_2", "a second stem cats");
    check(plotstem("-", used) == "stdin", "stem of standard input");
    check(plotstem("genome.vcf.gz", used) == "genome.vcf", "stem of genome.vcf.gz");
}

void tests()
{
    const double none = std::numeric_limits<double>::quiet_NaN();
    // Step-up: 0.02 fails its own bound (0.05/3) but falls with the larger ones.
    check(discoveries({0.02, 0.03, 0.04}, 0.05) == std::vector<bool>{true, true, true}, "step-up");
    check(discoveries({0.02, 0.04, 0.06}, 0.05) == std::vector<bool>{false, false, false}, "none found");
    // Untested entries count neither as discoveries nor in m.
    check(discoveries({0.01, 0.04, none, 0.03, 0.005, 0.5}, 0.05) ==
              std::vector<bool>{true, true, false, true, true, false},
          "untested left out of m");
    check(discoveries({}, 0.05).empty(), "no tests");
}

void clustering()
{
    // A, C, B, D in the file; A with B and C with D are close. Average
    // linkage joins the two groups at the mean of 0.1, 0.2, 0.1 and 0.2.
    const std::vector<std::vector<double>> d = {
        {0, 0.1, 0.01, 0.2}, {0.1, 0, 0.1, 0.02}, {0.01, 0.1, 0, 0.2}, {0.2, 0.02, 0.2, 0}};
    const dendrogram t = upgma(d);
    check(t.order == std::vector<int>{0, 2, 1, 3}, "leaf order");
    check(t.merges.size() == 3 && std::fabs(t.merges[2].h - 0.15) < 1e-12, "average-linkage height");
    check(upgma({{0}}).order == std::vector<int>{0}, "one population");
}

void spans()
{
    span s;
    check(parsespan("chr1:1-100000", s) && s.chrom == "chr1" && s.start == 1 && s.end == 100000,
          "chr1:1-100000");
    check(parsespan("HLA:A:5-10", s) && s.chrom == "HLA:A" && s.start == 5, "a colon in the chromosome");
    for (const char* bad : {"chr1", "chr1:10-5", "chr1:a-5", ":1-2", "chr1:1-", "chr1:-5"})
        check(!parsespan(bad, s), std::string("not a window: ") + bad);
}

// Three chromosomes of 3, 2 and 1 Mb in windows of 100 kb; a peak on chr2;
// one window without sites.
std::string scan()
{
    analysed a;
    a.in.file = "genome.counts";
    a.results.push_back(row("all", "", 0.05));
    std::size_t drawn = 0;
    const std::pair<const char*, int> chroms[] = {{"chr1", 30}, {"chr2", 20}, {"chrX", 10}};
    for (const auto& [chrom, n] : chroms)
        for (int i = 0; i < n; ++i) {
            const std::string name = std::string(chrom) + ":" + std::to_string(1 + i * 100000) + "-" +
                                     std::to_string((i + 1) * 100000);
            double f = 0.04 + 0.02 * std::sin(i * 1.7 + n);
            if (std::string(chrom) == "chr2" && i >= 8 && i < 12)
                f = 0.2;
            if (std::string(chrom) == "chrX" && i == 3)
                f = std::numeric_limits<double>::quiet_NaN();
            drawn += !std::isnan(f);
            a.results.push_back(row("window", name, f));
        }
    const std::string svg = scanplot(a);
    check(count(svg, "<circle") == drawn, "one point per window with an estimate");
    check(svg.find(">chr1<") < svg.find(">chr2<") && svg.find(">chr2<") < svg.find(">chrX<"),
          "chromosomes named in the order of the file");
    check(svg.find("1 without an estimate") != std::string::npos,
          "the window without an estimate is counted");
    return svg;
}

// Four populations, one pair without an estimate, names too long to show whole.
std::string pairs()
{
    analysed a;
    a.in.file = "long-names.gen";
    const std::vector<std::string> pops = {"Loch Lomond upper basin, 1998", "Loch Ness",
                                           "Lough Neagh & Lough Erne", "Wastwater"};
    a.in.table = makecounts(pops, {"l1"}, {2});
    a.results.push_back(row("all", "", 0.05));
    const double f[4][4] = {{0, 0.08, 0.01, 0.09}, {0, 0, 0.1, 0.02}, {0, 0, 0, std::nan("")}, {}};
    for (int i = 0; i < 4; ++i)
        for (int j = i + 1; j < 4; ++j)
            a.results.push_back(row("pair", pops[i], f[i][j], pops[j]));
    const std::string svg = pairsplot(a);
    check(svg.find(">Loch Lomond upper b\xe2\x80\xa6<") != std::string::npos,
          "a long name shortened with an ellipsis");
    check(svg.find("<title>Loch Lomond upper basin, 1998 and Loch Ness") != std::string::npos,
          "the whole name in the cell's title");
    check(svg.find("Lough Neagh &amp; Lough Erne and Wastwater: no estimate") != std::string::npos,
          "the missing pair marked");
    check(count(svg, "data-fst=") == 10, "ten cells with an estimate");
    return svg;
}

}  // namespace

int main(int argc, char** argv)
{
    names();
    tests();
    clustering();
    spans();
    const std::string s = scan(), p = pairs();
    if (argc > 1) {
        std::ofstream(std::string(argv[1]) + "/constructed-scan.svg") << s;
        std::ofstream(std::string(argv[1]) + "/constructed-pairs.svg") << p;
    }
    if (failures == 0)
        std::cout << "plot_test: all checks hold\n";
    return failures == 0 ? 0 : 1;
}
