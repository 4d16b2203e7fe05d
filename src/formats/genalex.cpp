// GenAlEx, as GenAlEx and spreadsheets save it (cells separated by commas,
// semicolons or tabs): row 1 holds the number of loci, of samples and of
// populations, then the size of each population; row 2 a title, two empty
// cells and the population names; row 3 the column names, a locus name over
// the first of its columns. Then one row per sample: its name, its
// population and the allele codes of every locus, one column per gene copy;
// 0 and -1 (or an empty cell) are a gene that was not typed. Columns after
// the loci are ignored.
#include <map>

#include "formats/text.h"

namespace formats {

dataset readgenalex(std::string_view text, const structureparams& params)
{
    linereader in(text);
    std::string_view line;
    std::vector<std::string_view> header[3];
    int headline[3] = {0, 0, 0};
    char sep = 0;
    for (int h = 0; h < 3; ++h) {
        bool got = false;
        while (!got && in.next(line))
            got = !trim(line).empty();
        if (!got)
            throw inputerror(in.number, "end of file within the three header rows");
        if (h == 0)
            sep = separator(line);
        if (sep == '\0')
            throw inputerror(in.number, "expected cells separated by commas, semicolons or tabs");
        header[h] = cells(line, sep);
        headline[h] = in.number;
    }

    const auto& first = header[0];
    long nloci = 0, nsamples = 0, npops = 0;
    if (first.size() < 3 || !number(first[0], nloci, false) || !number(first[1], nsamples, false) ||
        !number(first[2], npops, false) || nloci < 1 || npops < 1 ||
        first.size() < 3 + static_cast<std::size_t>(npops))
        throw inputerror(headline[0],
                         "expected the number of loci, of samples and of populations, then the size "
                         "of each population");
    std::vector<long> sizes(static_cast<std::size_t>(npops));
    for (std::size_t p = 0; p < sizes.size(); ++p)
        if (!number(first[3 + p], sizes[p], false))
            throw inputerror(headline[0], "cell " + num(4 + p) + " " + quote(first[3 + p]) +
                                              ": expected the size of population " + num(p + 1));

    // Locus names stand over the first column of each locus.
    const auto& names = header[2];
    std::vector<std::size_t> at;
    for (std::size_t c = 2; c < names.size() && at.size() < static_cast<std::size_t>(nloci); ++c)
        if (!names[c].empty())
            at.push_back(c);
    if (at.size() < static_cast<std::size_t>(nloci) || at[0] != 2)
        throw inputerror(headline[2],
                         "expected " + count(static_cast<std::size_t>(nloci), "locus name", "locus names") +
                             " from column 3 on, as row " + std::to_string(headline[0]) + " gives; found " +
                             num(at.size()) +
                             (at.empty() || at[0] == 2 ? "" : " from column " + num(at[0] + 1)));
    std::size_t ploidy = 0;
    if (at.size() >= 2) {
        ploidy = at[1] - at[0];
        for (std::size_t l = 1; l < at.size(); ++l)
            if (at[l] - at[l - 1] != ploidy)
                throw inputerror(headline[2], "locus names " + quote(names[at[l - 1]]) + " and " +
                                                  quote(names[at[l]]) + " stand " + num(at[l] - at[l - 1]) +
                                                  " columns apart, others " + num(ploidy) +
                                                  ": every locus takes as many columns as genes");
        if (params.ploidy && static_cast<std::size_t>(*params.ploidy) != ploidy)
            throw inputerror(headline[2], "the locus names stand " + num(ploidy) +
                                              " columns apart, and --ploidy is " +
                                              std::to_string(*params.ploidy));
    } else if (params.ploidy) {
        ploidy = static_cast<std::size_t>(*params.ploidy);
    }

    dataset data;
    data.format = "GenAlEx";
    for (const std::size_t c : at)
        data.loci.push_back({std::string(names[c]), headline[2], {}});

    struct sample {
        int line;
        std::string_view text;  // split again when read, so that a large file is not held twice
    };
    std::vector<sample> rows;
    while (in.next(line))
        if (!trim(line).empty())
            rows.push_back({in.number, line});
    if (ploidy == 0) {
        // One locus: its columns are those that rows fill, if rows agree.
        for (const sample& s : rows) {
            const std::size_t n = cells(s.text, sep).size();
            ploidy = std::max(ploidy, n - std::min<std::size_t>(n, 2));
        }
        if (ploidy != 1 && ploidy != 2)
            throw inputerror(headline[2],
                             "one locus, and the rows do not show how many columns it takes: give "
                             "--ploidy 1 or --ploidy 2");
    }
    data.ploidy = static_cast<int>(ploidy);

    const std::size_t ngenes = ploidy * data.loci.size();
    alleletables alleles;
    std::map<std::string, std::size_t> popindex;
    for (const sample& s : rows) {
        const auto c = cells(s.text, sep);
        if (c.size() < 2 || c[1].empty())
            throw inputerror(s.line, "expected a sample name and its population, then the allele codes");
        individual ind{std::string(c[0]), s.line, std::vector<int>(ngenes, MISSING)};
        for (std::size_t i = 0; i < ngenes && 2 + i < c.size(); ++i) {
            const std::string_view cell = c[2 + i];
            long code = 0;
            if (cell.empty())
                continue;
            if (!number(cell, code) || code < -1)
                throw inputerror(s.line, "column " + num(3 + i) + " " + quote(cell) +
                                             ": expected an allele code (a whole number), or 0 or -1 for a "
                                             "gene that was not typed");
            if (code > 0)
                ind.genes[i] = alleles.index(data, i / ploidy, codelabel(code));
        }
        auto [it, added] = popindex.try_emplace(std::string(c[1]), data.pops.size());
        if (added)
            data.pops.push_back({std::string(c[1]), s.line, {}});
        data.pops[it->second].members.push_back(std::move(ind));
    }

    const int last = rows.empty() ? headline[2] : rows.back().line;
    if (rows.size() != static_cast<std::size_t>(nsamples))
        throw inputerror(last, "row " + std::to_string(headline[0]) + " gives " +
                                   count(static_cast<std::size_t>(nsamples), "sample", "samples") +
                                   ", the file holds " + num(rows.size()));
    if (data.pops.size() != sizes.size())
        throw inputerror(last, "row " + std::to_string(headline[0]) + " gives " +
                                   count(sizes.size(), "population", "populations") + ", the samples name " +
                                   num(data.pops.size()));
    for (std::size_t p = 0; p < sizes.size(); ++p)
        if (data.pops[p].members.size() != static_cast<std::size_t>(sizes[p]))
            throw inputerror(data.pops[p].line,
                             "row " + std::to_string(headline[0]) + " gives population " + num(p + 1) + " " +
                                 quote(data.pops[p].name) + " " +
                                 count(static_cast<std::size_t>(sizes[p]), "sample", "samples") +
                                 ", the file holds " + num(data.pops[p].members.size()));
    data.layout = std::string(sep == ','   ? "comma"
                              : sep == ';' ? "semicolon"
                                           : "tab") +
                  "-separated, " + (ploidy == 1 ? "one column" : num(ploidy) + " columns") + " per locus";
    return data;
}

}  // namespace formats
