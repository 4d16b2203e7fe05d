// STRUCTURE: a table, one row per individual or PLOIDY rows per individual,
// cells separated by white space (or commas or semicolons, as spreadsheets
// write them). Ahead of the loci stand, each where its parameter is 1, a
// label (LABEL), the population (POPDATA), PopFlag, LocData and Phenotype
// columns, then EXTRACOLS columns; then one allele code per locus, or PLOIDY
// codes per locus side by side when ONEROWPERIND is 1. A first row of locus
// names (MARKERNAMES), perhaps followed by rows of recessive alleles and map
// distances, may head the table.
//
// What a file cannot show is not guessed. Labels that repeat in pairs prove
// two rows per individual; a row of locus names fixes how many columns the
// loci take; -9 among the codes makes 0 an allele. Where the file proves
// nothing, the parameter must be given, and the message names it.
#include <map>

#include "formats/text.h"

namespace formats {

namespace {

// A row of the table: its text, split again where its cells are needed, so
// that a large file is not held twice.
struct row {
    int line;
    std::string_view text;
    std::size_t width;       // cells
    std::string_view label;  // the first cell
};

struct splitter {
    char sep;  // ',' or ';', or 0 for white space
    std::vector<std::string_view> operator()(const row& r) const
    {
        return sep ? cells(r.text, sep) : words(r.text);
    }
};

long flag(const std::optional<int>& v, int otherwise)
{
    return v.value_or(otherwise);
}

// A first row as long as the rows of individuals that names their columns:
// somewhere it holds text where the next row holds a number.
bool namesrow(const std::vector<std::string_view>& first, const std::vector<std::string_view>& next,
              std::size_t from)
{
    long v = 0;
    for (std::size_t c = from; c < first.size() && c < next.size(); ++c)
        if (!number(first[c], v) && number(next[c], v))
            return true;
    return false;
}

const char* const LEADOPTIONS = "--popflag 1, --locdata 1, --phenotype 1 or --extracols N";

}  // namespace

dataset readstructure(std::string_view text, const structureparams& p)
{
    std::vector<row> rows;
    splitter split{'\0'};
    {
        linereader in(text);
        std::string_view line;
        bool first = true;
        while (in.next(line)) {
            if (trim(line).empty())
                continue;
            if (first) {
                const char s = separator(line);
                split.sep = s == ',' || s == ';' ? s : '\0';
                first = false;
            }
            const auto c = split({0, line, 0, {}});
            for (std::size_t i = 0; i < c.size(); ++i)
                if (c[i].empty())
                    throw inputerror(in.number, "column " + num(i + 1) + " is empty");
            rows.push_back({in.number, line, c.size(), c.empty() ? std::string_view() : c[0]});
        }
    }
    if (rows.empty())
        throw inputerror(0, "the file has no rows: expected one row per individual (or one per gene copy)");

    const long label = flag(p.label, 1), popdata = flag(p.popdata, 1);
    const bool leadgiven = p.popflag || p.locdata || p.phenotype || p.extracols;
    long lead = label + popdata + flag(p.popflag, 0) + flag(p.locdata, 0) + flag(p.phenotype, 0) +
                flag(p.extracols, 0);
    if (p.phaseinfo.value_or(0) == 1)
        throw inputerror(0, "PHASEINFO 1: rows of phase information are not read");

    // A row of locus names, and the rows of recessive alleles and map
    // distances that may follow it.
    std::size_t first = 0;
    std::vector<std::string_view> header;
    int headerline = 0;
    if (p.markernames.value_or(-1) == 1 ||
        (!p.markernames && rows.size() >= 2 &&
         (rows[0].width < rows[1].width ||
          (rows[0].width == rows[1].width &&
           namesrow(split(rows[0]), split(rows[1]), static_cast<std::size_t>(label + popdata)))))) {
        header = split(rows[0]);
        headerline = rows[0].line;
        first = 1;
        if (p.recessivealleles || p.mapdistances) {
            first += static_cast<std::size_t>(flag(p.recessivealleles, 0) + flag(p.mapdistances, 0));
        } else {
            while (first < 3 && first + 1 < rows.size() && rows[first].width == header.size() &&
                   rows[first + 1].width != header.size())
                ++first;
        }
    }
    if (first >= rows.size())
        throw inputerror(rows.back().line, "expected rows of individuals after the locus names");
    const std::size_t width = rows[first].width;
    const std::size_t nrows = rows.size() - first;
    if (header.size() > width)
        throw inputerror(headerline, "the row of locus names has " + num(header.size()) +
                                         " cells, more than the " + num(width) +
                                         " columns of the rows below it");
    const bool shortheader = !header.empty() && header.size() < width;

    // Rows and columns of an individual.
    std::string proof;
    long ploidy = 0, rowsper = 0;
    auto grouped = [&](long n) {
        if (label == 0 || n < 2 || nrows % static_cast<std::size_t>(n) != 0)
            return false;
        for (std::size_t r = first; r < rows.size(); ++r)
            if ((r - first) % static_cast<std::size_t>(n) != 0 && rows[r].label != rows[r - 1].label)
                return false;
        return true;
    };
    if (p.onerowperind.value_or(-1) == 1) {
        ploidy = flag(p.ploidy, 2);
        rowsper = 1;
    } else if (p.ploidy.value_or(-1) == 1) {
        ploidy = rowsper = 1;
    } else if (grouped(flag(p.ploidy, 2))) {
        ploidy = rowsper = flag(p.ploidy, 2);
        proof = ploidy == 2 ? "labels repeat in pairs" : "labels repeat in groups";
    } else if (p.onerowperind && p.ploidy) {
        ploidy = rowsper = *p.ploidy;
    } else if (!p.onerowperind && shortheader && width > static_cast<std::size_t>(lead)) {
        // The row of locus names shows the columns of a locus.
        const std::size_t columns = width - static_cast<std::size_t>(lead);
        const long n = flag(p.ploidy, 2);
        if (columns == header.size() * static_cast<std::size_t>(n)) {
            ploidy = n;
            rowsper = 1;
            proof = "shown by the row of locus names";
        } else if (columns == header.size() && p.ploidy) {
            ploidy = rowsper = *p.ploidy;
        }
    }
    if (ploidy == 0 && shortheader && width > static_cast<std::size_t>(lead) &&
        (width - static_cast<std::size_t>(lead)) % header.size() != 0)
        throw inputerror(headerline, "the row of locus names names " + count(header.size(), "locus", "loci") +
                                         ", and " + num(width - static_cast<std::size_t>(lead)) +
                                         " columns follow the label and population, no whole number per "
                                         "locus: give the columns ahead of the loci, " +
                                         LEADOPTIONS);
    if (ploidy == 0) {
        std::string why = label == 0 ? "the rows have no labels" : "the labels do not repeat in pairs";
        if (!p.ploidy)
            throw inputerror(
                rows[first].line,
                "the file does not show how many rows or columns an individual takes (" + why +
                    "): give --ploidy 1 for one row per haploid individual, --ploidy 2 for two rows "
                    "per diploid individual, or --ploidy 2 --onerowperind 1 for both alleles of a "
                    "locus side by side in one row");
        throw inputerror(rows[first].line, "the file does not show whether an individual takes " +
                                               num(static_cast<std::size_t>(*p.ploidy)) + " rows or one (" +
                                               why + "): give --onerowperind 0 or --onerowperind 1");
    }
    if (ploidy < 1)
        throw inputerror(0, "PLOIDY must be 1 or more");
    const auto k = static_cast<std::size_t>(rowsper == 1 ? ploidy : 1);  // columns per locus
    if (nrows % static_cast<std::size_t>(rowsper) != 0)
        throw inputerror(rows.back().line,
                         "the last individual has " +
                             count(nrows % static_cast<std::size_t>(rowsper), "row", "rows") +
                             ": each takes " + num(static_cast<std::size_t>(rowsper)));

    // Columns ahead of the loci, and the number of loci.
    const long named = label + popdata;
    std::size_t nloci = 0;
    if (shortheader) {
        nloci = header.size();
        const long before = static_cast<long>(width) - static_cast<long>(nloci * k);
        if (before < named || (leadgiven && before != lead))
            throw inputerror(headerline,
                             "the row of locus names names " + count(nloci, "locus", "loci") + ", taking " +
                                 count(nloci * k, "column", "columns") + " of the " + num(width) +
                                 " in a row, which leaves " + std::to_string(std::max(before, 0L)) +
                                 " ahead of them; the label, population and extra columns given "
                                 "make " +
                                 std::to_string(leadgiven ? lead : named) + ": check " + LEADOPTIONS);
        lead = before;
    } else if (p.numloci) {
        const long before = static_cast<long>(width) - static_cast<long>(*p.numloci) * static_cast<long>(k);
        if (before < named || (leadgiven && before != lead))
            throw inputerror(rows[first].line,
                             "NUMLOCI " + std::to_string(*p.numloci) + " takes " +
                                 num(static_cast<std::size_t>(*p.numloci) * k) + " of the " + num(width) +
                                 " columns, which leaves " + std::to_string(std::max(before, 0L)) +
                                 " ahead of them; the label, population and extra columns given make " +
                                 std::to_string(leadgiven ? lead : named));
        lead = before;
    } else if (header.empty() && !leadgiven) {
        throw inputerror(rows[first].line, "the file has no row of locus names, so which of the " +
                                               num(width - std::min(width, static_cast<std::size_t>(named))) +
                                               " columns after the label and population are loci is not "
                                               "known: give the columns ahead of the "
                                               "loci (--extracols 0 if there are none; " +
                                               LEADOPTIONS + "), or --numloci N, or --mainparams FILE");
    }
    if (width <= static_cast<std::size_t>(lead) || (width - static_cast<std::size_t>(lead)) % k != 0)
        throw inputerror(rows[first].line, "expected " + std::to_string(lead) +
                                               " columns ahead of the loci and " + num(k) +
                                               " per locus, found " + count(width, "column", "columns"));
    if (!shortheader)
        nloci = (width - static_cast<std::size_t>(lead)) / k;
    if (p.numloci && static_cast<std::size_t>(*p.numloci) != nloci)
        throw inputerror(headerline, "NUMLOCI is " + std::to_string(*p.numloci) +
                                         ", and the row of locus names names " + num(nloci));
    const auto lead0 = static_cast<std::size_t>(lead);

    dataset data;
    data.format = "STRUCTURE";
    data.ploidy = static_cast<int>(ploidy);
    for (std::size_t l = 0; l < nloci; ++l) {
        if (shortheader)
            data.loci.push_back({std::string(header[l]), headerline, {}});
        else if (!header.empty())
            data.loci.push_back({std::string(header[lead0 + l * k]), headerline, {}});
        else
            data.loci.push_back({"locus" + num(l + 1), 0, {}});
    }

    // The code of a missing gene.
    long missing = -9;
    if (p.missing) {
        missing = *p.missing;
    } else {
        bool minus9 = false;
        const row* zero = nullptr;
        std::size_t zerocol = 0;
        for (std::size_t r = first; r < rows.size() && !minus9; ++r) {
            const auto cells = split(rows[r]);
            for (std::size_t c = lead0; c < cells.size(); ++c) {
                long v = 1;
                number(cells[c], v);
                minus9 = minus9 || v == -9;
                if (zero == nullptr && v == 0) {
                    zero = &rows[r];
                    zerocol = c;
                }
            }
        }
        if (zero != nullptr && !minus9)
            throw inputerror(zero->line,
                             "column " + num(zerocol + 1) +
                                 " holds 0, and no gene is coded -9: is 0 an allele or a missing "
                                 "gene? Give --missing 0 if 0 marks missing genes, --missing -9 if 0 "
                                 "is an allele");
    }

    alleletables alleles;
    std::map<std::string, std::size_t> popindex;
    const std::size_t rowlen = width;
    for (std::size_t r = first; r < rows.size(); r += static_cast<std::size_t>(rowsper)) {
        individual ind;
        ind.name = label ? std::string(rows[r].label) : std::string();
        ind.line = rows[r].line;
        ind.genes.assign(nloci * static_cast<std::size_t>(ploidy), MISSING);
        std::string pop = "all";
        for (std::size_t g = 0; g < static_cast<std::size_t>(rowsper); ++g) {
            const row& rw = rows[r + g];
            const auto cells = split(rw);
            if (cells.size() != rowlen)
                throw inputerror(rw.line,
                                 "expected " + num(rowlen) + " columns (" +
                                     (lead0 > 0 ? num(lead0) + " ahead of the loci, " : std::string()) +
                                     count(nloci, "locus", "loci") +
                                     (k > 1 ? " of " + num(k) + " columns" : std::string()) + "), found " +
                                     num(cells.size()));
            if (popdata) {
                std::string_view cell = cells[static_cast<std::size_t>(label)];
                long v = 0;
                std::string here = number(cell, v) ? codelabel(v) : std::string(cell);
                if (g > 0 && here != pop)
                    throw inputerror(rw.line, "population " + quote(here) + " differs from population " +
                                                  quote(pop) + " on the first row of individual " +
                                                  quote(ind.name) + " (line " + std::to_string(ind.line) +
                                                  ")");
                pop = here;
            }
            for (std::size_t l = 0; l < nloci; ++l)
                for (std::size_t c = 0; c < k; ++c) {
                    const std::size_t col = lead0 + l * k + c;
                    const std::string_view cell = cells[col];
                    long code = 0;
                    if (!number(cell, code) || (code < 0 && code != missing))
                        throw inputerror(rw.line,
                                         "column " + num(col + 1) + " " + quote(cell) +
                                             ": expected an allele code (a whole number, 0 or more) or " +
                                             std::to_string(missing) + " for a missing gene");
                    ind.genes[l * static_cast<std::size_t>(ploidy) + g + c] =
                        code == missing ? MISSING : alleles.index(data, l, codelabel(code));
                }
        }
        auto [at, added] = popindex.try_emplace(pop, data.pops.size());
        if (added)
            data.pops.push_back({pop, ind.line, {}});
        data.pops[at->second].members.push_back(std::move(ind));
    }
    if (p.numinds && static_cast<std::size_t>(*p.numinds) != nrows / static_cast<std::size_t>(rowsper))
        throw inputerror(0,
                         "NUMINDS is " + std::to_string(*p.numinds) + ", and the file holds " +
                             count(nrows / static_cast<std::size_t>(rowsper), "individual", "individuals"));

    // Codes that look like columns or a missing-data code read the wrong way.
    std::vector<long> top(nloci, -1);
    std::vector<bool> binary(nloci, true), zero(nloci, false);
    long highest = -1;
    for (std::size_t l = 0; l < nloci; ++l) {
        for (const std::string& a : data.loci[l].alleles) {
            long v = 0;
            number(a, v);
            top[l] = std::max(top[l], v);
            binary[l] = binary[l] && (v == 0 || v == 1);
            zero[l] = zero[l] || v == 0;
        }
        highest = std::max(highest, top[l]);
    }
    for (std::size_t l = 0; l < nloci && highest >= 100; ++l) {
        const std::string which = "locus " + num(l + 1) + " " + quote(data.loci[l].name) + " (column " +
                                  num(lead0 + l * k + 1) + ")";
        if (binary[l] && top[l] >= 0)
            data.warnings.push_back(
                {rows[first].line, which +
                                       " holds only 0 and 1, among loci with codes of 100 and "
                                       "more: if it is not a locus, give " +
                                       LEADOPTIONS});
        else if (zero[l] && top[l] >= 100)
            data.warnings.push_back(
                {rows[first].line, which +
                                       " has the code 0 among codes of 100 and more: if 0 marks a missing "
                                       "gene, give --missing 0"});
    }

    std::string layout = rowsper == 1 ? "one row per individual"
                                      : num(static_cast<std::size_t>(rowsper)) + " rows per individual";
    if (k > 1)
        layout += ", " + num(k) + " columns per locus";
    if (!proof.empty())
        layout += " (" + proof + ")";
    if (lead0 > static_cast<std::size_t>(named))
        layout += ", " + count(lead0 - static_cast<std::size_t>(named), "column", "columns") +
                  " skipped before the loci";
    if (!header.empty())
        layout += ", locus names on line " + std::to_string(headerline);
    data.layout = layout + ", missing " + std::to_string(missing);
    return data;
}

namespace {

struct parameter {
    std::string_view key;
    std::optional<int> structureparams::*field;
    long low, high;
};

constexpr long MANY = 1000000000;

const parameter PARAMETERS[] = {
    {"PLOIDY", &structureparams::ploidy, 1, 2000},
    {"ONEROWPERIND", &structureparams::onerowperind, 0, 1},
    {"LABEL", &structureparams::label, 0, 1},
    {"POPDATA", &structureparams::popdata, 0, 1},
    {"POPFLAG", &structureparams::popflag, 0, 1},
    {"LOCDATA", &structureparams::locdata, 0, 1},
    {"PHENOTYPE", &structureparams::phenotype, 0, 1},
    {"EXTRACOLS", &structureparams::extracols, 0, 100000},
    {"MARKERNAMES", &structureparams::markernames, 0, 1},
    {"RECESSIVEALLELES", &structureparams::recessivealleles, 0, 1},
    {"MAPDISTANCES", &structureparams::mapdistances, 0, 1},
    {"PHASEINFO", &structureparams::phaseinfo, 0, 1},
    {"NUMLOCI", &structureparams::numloci, 1, MANY},
    {"NUMINDS", &structureparams::numinds, 1, MANY},
};

}  // namespace

bool knownparam(std::string_view key)
{
    if (samewords(key, "MISSING"))
        return true;
    for (const parameter& p : PARAMETERS)
        if (samewords(key, p.key))
            return true;
    return false;
}

std::string setparam(structureparams& params, std::string_view key, std::string_view value, bool keep)
{
    long v = 0;
    if (samewords(key, "MISSING")) {
        if (!number(value, v))
            return "MISSING must be a whole number, not " + quote(value);
        if (!(keep && params.missing))
            params.missing = v;
        return {};
    }
    for (const parameter& p : PARAMETERS)
        if (samewords(key, p.key)) {
            if (!number(value, v) || v < p.low || v > p.high)
                return std::string(p.key) + " must be " +
                       (p.high == 1 ? std::string("0 or 1")
                                    : "a whole number from " + std::to_string(p.low) + " to " +
                                          std::to_string(p.high)) +
                       ", not " + quote(value);
            if (!(keep && params.*p.field))
                params.*p.field = static_cast<int>(v);
            return {};
        }
    return "unknown parameter " + quote(key);
}

void readmainparams(std::string_view text, const std::string& file, structureparams& params)
{
    linereader in(text);
    std::string_view line;
    bool any = false;
    try {
        while (in.next(line)) {
            const auto w = words(line.substr(0, line.find("//")));
            if (w.size() < 3 || w[0] != "#define")
                continue;
            any = true;
            if (!knownparam(w[1]))
                continue;
            if (const std::string why = setparam(params, w[1], w[2], true); !why.empty())
                throw inputerror(in.number, why);
        }
        if (!any)
            throw inputerror(0, "no line '#define KEY VALUE': not a STRUCTURE mainparams file");
    } catch (inputerror& e) {
        e.file = file;
        throw;
    }
}

}  // namespace formats
