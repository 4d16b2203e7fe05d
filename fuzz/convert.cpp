// Fuzz target: vornconvert's way from arbitrary bytes to a vorn data file,
// and back through vorn's own reader.
//
// Every input is read as its content suggests twice: from memory, and from a
// file read in blocks of 1 to 16 bytes, as vornconvert reads (a Genepop file
// line by line, letting go of what it has read). Both reads must end alike:
// the same data set, or the same message at the same line. A data set that
// fits a vorn data file is written as one, with its map; vorn's reader must
// accept the file and count, population by population and locus by locus,
// the alleles and genes that the data set holds, numbered as vorn numbers
// them (in the order the file shows them). The map must list every allele.
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "convert/vornfile.h"
#include "formats/dataset.h"
#include "harness.h"

namespace {

using fuzz::require;

struct reading {
    bool ok = false;
    formats::dataset data;
    std::string message;
    int line = 0;
};

reading readwith(formats::input& in)
{
    reading r;
    try {
        r.data = formats::readany(in, "fuzz", {});
        r.ok = true;
    } catch (const formats::inputerror& e) {
        r.message = e.what();
        r.line = e.line;
    }
    return r;
}

bool samedata(const formats::dataset& a, const formats::dataset& b)
{
    if (a.format != b.format || a.layout != b.layout || a.ploidy != b.ploidy || a.loci.size() != b.loci.size() ||
        a.pops.size() != b.pops.size() || a.warnings.size() != b.warnings.size())
        return false;
    for (std::size_t l = 0; l < a.loci.size(); ++l)
        if (a.loci[l].name != b.loci[l].name || a.loci[l].alleles != b.loci[l].alleles)
            return false;
    for (std::size_t p = 0; p < a.pops.size(); ++p) {
        const auto &x = a.pops[p], &y = b.pops[p];
        if (x.name != y.name || x.line != y.line || x.members.size() != y.members.size())
            return false;
        for (std::size_t i = 0; i < x.members.size(); ++i)
            if (x.members[i].name != y.members[i].name || x.members[i].genes != y.members[i].genes)
                return false;
    }
    return true;
}

// The data set's genes as vorn's reader must count them: alleles numbered
// from 1 at each locus in the order the written file shows them.
void expected(const formats::dataset& d, std::vector<std::vector<std::vector<int>>>& counts,
              std::vector<int>& nalleles)
{
    const auto ploidy = static_cast<std::size_t>(d.ploidy);
    std::vector<std::vector<int>> number(d.loci.size());
    for (std::size_t l = 0; l < d.loci.size(); ++l)
        number[l].assign(d.loci[l].alleles.size(), 0);
    nalleles.assign(d.loci.size(), 0);
    counts.assign(d.pops.size(), std::vector<std::vector<int>>(d.loci.size()));
    for (std::size_t p = 0; p < d.pops.size(); ++p)
        for (const formats::individual& ind : d.pops[p].members)
            for (std::size_t l = 0; l < d.loci.size(); ++l)
                for (std::size_t g = 0; g < ploidy; ++g) {
                    const int a = ind.genes[l * ploidy + g];
                    if (a < 0)
                        continue;
                    int& k = number[l][static_cast<std::size_t>(a)];
                    if (k == 0)
                        k = ++nalleles[l];
                    auto& c = counts[p][l];
                    if (c.size() < static_cast<std::size_t>(k))
                        c.resize(static_cast<std::size_t>(k), 0);
                    ++c[static_cast<std::size_t>(k) - 1];
                }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(bytes), size);
    formats::input whole(text);
    const reading a = readwith(whole);

    std::FILE* file = size > 0 ? fmemopen(const_cast<std::uint8_t*>(bytes), size, "r") : std::tmpfile();
    require(file != nullptr, "cannot open the input as a file");
    const std::size_t block = 1 + size % 16;
    formats::input blocks(file, block);
    const reading b = readwith(blocks);
    std::fclose(file);

    const std::string where = " (blocks of " + std::to_string(block) + " bytes)";
    require(a.ok == b.ok, "read from memory but not from a file, or the other way" + where + ": " + a.message +
                              b.message);
    require(a.message == b.message && a.line == b.line,
            "messages differ" + where + ":\n" + a.message + "\n" + b.message);
    if (!a.ok)
        return 0;
    require(samedata(a.data, b.data), "data sets differ" + where);

    const formats::dataset& d = a.data;
    convert::selection all;
    for (std::size_t l = 0; l < d.loci.size(); ++l)
        all.loci.push_back(l);
    for (std::size_t p = 0; p < d.pops.size(); ++p)
        all.pops.push_back(p);
    convert::vornplan plan;
    try {
        plan = convert::plan(d, all);
    } catch (const formats::inputerror&) {
        return 0;  // beyond vorn's capacities, and told so
    }
    const std::string out = convert::vorntext(d, all, plan);

    datastr* record = fuzz::zeroedrecord(0);
    const fuzz::outcome o = fuzz::readmemory(reinterpret_cast<const std::uint8_t*>(out.data()), out.size(), record);
    require(o.accepted, "vorn refuses the converted file:" + o.err + "\n" + out);
    fuzz::checkrecord(*record);

    std::vector<std::vector<std::vector<int>>> counts;
    std::vector<int> nalleles;
    expected(d, counts, nalleles);
    require(record->npops == static_cast<int>(d.pops.size()) && record->nloci == static_cast<int>(d.loci.size()),
            "dimensions differ");
    std::size_t total = 0;
    long long genes = 0, counted = 0;  // gene totals: the data set's and vorn's
    for (const formats::population& p : d.pops)
        for (const formats::individual& ind : p.members)
            for (const int g : ind.genes)
                genes += g >= 0 ? 1 : 0;
    for (int p = 1; p <= record->npops; ++p)
        for (int l = 1; l <= record->nloci; ++l)
            for (int k = 1; k <= record->nalleles[l]; ++k)
                counted += record->allelecount[p][l][k];
    require(genes == counted, "genes: " + std::to_string(genes) + " in the data set, " + std::to_string(counted) +
                                  " counted by vorn");
    for (std::size_t l = 0; l < d.loci.size(); ++l) {
        const int L = static_cast<int>(l) + 1;
        require(record->nalleles[L] == nalleles[l], "alleles at locus " + std::to_string(L));
        require(static_cast<std::size_t>(nalleles[l]) == plan.order[l].size(), "the plan's alleles");
        total += plan.order[l].size();
        for (std::size_t p = 0; p < d.pops.size(); ++p)
            for (int k = 1; k <= nalleles[l]; ++k) {
                const auto& c = counts[p][l];
                const int want = static_cast<std::size_t>(k) <= c.size() ? c[static_cast<std::size_t>(k) - 1] : 0;
                require(record->allelecount[p + 1][L][k] == want,
                        "count of population " + std::to_string(p + 1) + ", locus " + std::to_string(L) +
                            ", allele " + std::to_string(k));
            }
    }

    const std::string map = convert::maptext(d, all, plan);
    std::size_t lines = 0;
    for (const char c : map)
        lines += c == '\n';
    require(lines == total + 1, "the map has " + std::to_string(lines) + " lines for " + std::to_string(total) +
                                    " alleles");
    return 0;
}
