// STRUCTURE files: a table of white-space separated columns. Each row holds a
// label, a population number, a fixed number of extra columns (skipped) and
// one allele code per locus; -9 is a gene that was not typed. An optional
// first row holds the locus names only. Diploid individuals take two
// consecutive rows with the same label; that is recognised from the first
// two rows.
#include <map>
#include <string>

#include "convert/dataset.h"

namespace convert {

namespace {

constexpr int STRMISSING = -9;

std::string num(std::size_t n)
{
    return std::to_string(n);
}

struct row {
    int line;
    std::vector<std::string_view> cells;
};

std::string columns(std::size_t extracols, std::size_t nloci)
{
    std::string s = "label, population, ";
    if (extracols > 0)
        s += num(extracols) + (extracols == 1 ? " extra column, " : " extra columns, ");
    return s + num(nloci) + (nloci == 1 ? " locus" : " loci");
}

}  // namespace

dataset readstructure(const std::vector<std::string>& lines, int extracols)
{
    std::vector<row> rows;
    for (std::size_t i = 0; i < lines.size(); ++i)
        if (auto cells = words(lines[i]); !cells.empty())
            rows.push_back({static_cast<int>(i + 1), std::move(cells)});
    if (rows.empty())
        throw inputerror(0, "the file has no rows: expected one row per individual (two if diploid)");

    const auto extra = static_cast<std::size_t>(extracols);
    const std::size_t lead = 2 + extra;  // columns ahead of the first locus
    dataset data;

    // A first row with one cell per locus holds the locus names.
    std::size_t first = 0;
    if (rows.size() >= 2 && rows[1].cells.size() > lead &&
        rows[0].cells.size() == rows[1].cells.size() - lead)
        first = 1;
    if (first == rows.size())
        throw inputerror(rows[0].line, "expected rows of individuals after the locus names");

    const std::size_t width = rows[first].cells.size();
    if (width <= lead)
        throw inputerror(rows[first].line,
                         "expected a label, a population number" +
                             (extra > 0 ? ", " + num(extra) + " extra columns" : std::string()) +
                             " and at least one locus, found " + num(width) +
                             (width == 1 ? " column" : " columns"));
    const std::size_t nloci = width - lead;
    if (nloci > MAXUSEDLOCI)
        throw inputerror(rows[first].line,
                         num(nloci) + " loci: at most " + num(MAXUSEDLOCI) + " loci fit in a vorn data file");
    for (std::size_t l = 0; l < nloci; ++l) {
        if (first == 1)
            data.loci.push_back({std::string(rows[0].cells[l]), rows[0].line});
        else
            data.loci.push_back({"locus" + num(l + 1), 0});
    }

    const bool diploid = rows.size() - first >= 2 && rows[first].cells[0] == rows[first + 1].cells[0];
    data.ploidy = diploid ? 2 : 1;
    if (diploid && (rows.size() - first) % 2 != 0)
        throw inputerror(rows.back().line, "individual " + quote(rows.back().cells[0]) +
                                               " has one row: diploid data take two rows per individual");

    allelecheck alleles;
    std::map<int, std::size_t> popindex;  // population number -> index in data.pops
    for (std::size_t r = first; r < rows.size(); r += data.ploidy) {
        individual ind;
        ind.name = std::string(rows[r].cells[0]);
        ind.line = rows[r].line;
        ind.genes.assign(nloci * static_cast<std::size_t>(data.ploidy), MISSING);
        int pop = 0;
        for (std::size_t g = 0; g < static_cast<std::size_t>(data.ploidy); ++g) {
            const row& rw = rows[r + g];
            if (rw.cells.size() != width)
                throw inputerror(rw.line, "expected " + num(width) + " columns (" + columns(extra, nloci) +
                                              "), found " + num(rw.cells.size()));
            if (g == 1 && rw.cells[0] != rows[r].cells[0])
                throw inputerror(rw.line, "expected the second row of individual " + quote(rows[r].cells[0]) +
                                              " (diploid data take two rows per individual), found label " +
                                              quote(rw.cells[0]));
            int p = 0;
            if (!integer(rw.cells[1], p))
                throw inputerror(rw.line,
                                 "column 2 " + quote(rw.cells[1]) + ": expected a population number");
            if (g == 1 && p != pop)
                throw inputerror(rw.line, "population " + std::to_string(p) + " differs from population " +
                                              std::to_string(pop) + " on the first row of individual " +
                                              quote(rows[r].cells[0]) + " (line " +
                                              std::to_string(rows[r].line) + ")");
            pop = p;
            for (std::size_t l = 0; l < nloci; ++l) {
                const std::string_view cell = rw.cells[lead + l];
                int code = 0;
                if (!integer(cell, code) || (code < 0 && code != STRMISSING))
                    throw inputerror(rw.line,
                                     "column " + num(lead + l + 1) + " " + quote(cell) +
                                         ": expected an allele code (a whole number, 0 or more) or " +
                                         std::to_string(STRMISSING) + " for a missing gene");
                const int allele = code == STRMISSING ? MISSING : code;
                alleles.note(data, l, allele, rw.line);
                ind.genes[l * static_cast<std::size_t>(data.ploidy) + g] = allele;
            }
        }

        auto [at, added] = popindex.try_emplace(pop, data.pops.size());
        if (added) {
            if (data.pops.size() == MAXUSEDPOPS)
                throw inputerror(ind.line, "population " + std::to_string(pop) + " is the " +
                                               num(data.pops.size() + 1) + "th population: at most " +
                                               num(MAXUSEDPOPS) + " populations fit in a vorn data file");
            data.pops.push_back({std::to_string(pop), ind.line, {}});
        }
        data.pops[at->second].members.push_back(std::move(ind));
    }
    return data;
}

}  // namespace convert
