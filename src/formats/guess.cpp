// Telling the formats apart by their content, and what every reader's data
// set gets on the way out: the file's name on errors, distinct names.
#include <map>
#include <set>

#include "formats/text.h"

namespace formats {

const std::vector<std::string_view> FORMATS = {"genepop", "structure", "fstat", "genalex", "arlequin"};

namespace {

// First line "[Profile]", comments and blank lines aside.
bool arlequin(input& text)
{
    linereader in(text);
    std::string_view line;
    while (in.next(line)) {
        const std::string_view t = trim(line.substr(0, line.find('#')));
        if (!t.empty())
            return samewords(t, "[profile]");
    }
    return false;
}

// Four numbers, the last 1 to 3, then as many locus names as the second says,
// then a row of a sample and one genotype per locus.
bool fstat(input& text)
{
    linereader in(text);
    std::string_view line;
    while (in.next(line) && trim(line).empty()) {
    }
    const auto w = words(line);
    long np = 0, nl = 0, nu = 0, nd = 0;
    if (w.size() != 4 || !number(w[0], np, false) || !number(w[1], nl, false) || !number(w[2], nu, false) ||
        !number(w[3], nd, false) || nl < 1 || nd < 1 || nd > 3)
        return false;
    for (long l = 0; l < nl;)
        if (!in.next(line))
            return false;
        else if (!trim(line).empty())
            ++l;
    while (in.next(line))
        if (const auto row = words(line); !row.empty())
            return row.size() == static_cast<std::size_t>(nl) + 1 && number(row[0], np, false);
    return false;
}

// Row 1: loci, samples, populations and the population sizes, which add up to
// the samples.
bool genalex(input& text)
{
    linereader in(text);
    std::string_view line;
    while (in.next(line) && trim(line).empty()) {
    }
    const char sep = separator(line);
    if (sep == '\0')
        return false;
    const auto c = cells(line, sep);
    long nloci = 0, nsamples = 0, npops = 0;
    if (c.size() < 4 || !number(c[0], nloci, false) || !number(c[1], nsamples, false) ||
        !number(c[2], npops, false) || nloci < 1 || npops < 1 ||
        c.size() < 3 + static_cast<std::size_t>(npops))
        return false;
    long sum = 0;
    for (std::size_t p = 0; p < static_cast<std::size_t>(npops); ++p) {
        long size = 0;
        if (!number(c[3 + p], size, false))
            return false;
        sum += size;
    }
    return sum == nsamples;
}

// A "Pop" line after the first line.
bool genepop(input& text)
{
    linereader in(text);
    std::string_view line, name;
    in.next(line);
    while (in.next(line))
        if (popline(line, name))
            return true;
    return false;
}

// A table: every row of 3 cells or more, the last a number; the first row
// may be a row of names.
bool structure(input& text)
{
    linereader in(text);
    std::string_view line;
    char sep = 0;
    std::size_t rows = 0;
    bool firstfits = false;
    long v = 0;
    while (in.next(line)) {
        if (trim(line).empty())
            continue;
        if (rows == 0) {
            const char s = separator(line);
            sep = s == ',' || s == ';' ? s : '\0';
        }
        const auto c = sep ? cells(line, sep) : words(line);
        const bool fits = c.size() >= 3 && number(c.back(), v);
        if (rows++ == 0)
            firstfits = fits;
        else if (!fits)
            return false;
    }
    return rows >= 2 || firstfits;
}

std::string firstline(input& text)
{
    linereader in(text);
    std::string_view line;
    while (in.next(line))
        if (!trim(line).empty())
            return quote(trim(line));
    return "empty";
}

// Names made distinct: the second of two equal names gets _2, or the next
// free number, and a warning says so.
void distinct(dataset& data)
{
    std::map<std::string, int> next;  // the number to try next for a name
    auto rename = [&](std::string& name, int line, std::set<std::string>& taken, const std::string& what) {
        if (taken.insert(name).second)
            return;
        std::string renamed;
        int& n = next.try_emplace(name, 2).first->second;
        while (!taken.insert(renamed = name + "_" + std::to_string(n)).second)
            ++n;
        data.warnings.push_back(
            {line, what + " " + quote(name) + " has the name of another: renamed " + quote(renamed)});
        name = renamed;
    };
    std::set<std::string> loci, pops;
    for (std::size_t l = 0; l < data.loci.size(); ++l)
        rename(data.loci[l].name, data.loci[l].line, loci, "locus " + num(l + 1));
    next.clear();
    for (std::size_t p = 0; p < data.pops.size(); ++p)
        rename(data.pops[p].name, data.pops[p].line, pops, "population " + num(p + 1));
}

}  // namespace

std::string guessformat(std::string_view text)
{
    input in(text);
    return guessformat(in);
}

// Each guess reads the lines it needs from the start.
std::string guessformat(input& text)
{
    if (arlequin(text))
        return "arlequin";
    if (genalex(text))
        return "genalex";
    if (fstat(text))
        return "fstat";
    if (genepop(text))
        return "genepop";
    if (structure(text))
        return "structure";
    return {};
}

dataset readany(std::string_view text, const std::string& file, const readoptions& options)
{
    input in(text);
    return readany(in, file, options);
}

dataset readany(input& in, const std::string& file, const readoptions& options)
{
    try {
        const std::string format = options.format.empty() ? guessformat(in) : options.format;
        dataset data;
        // Genepop is read as it comes; the other readers take the whole text.
        const std::string_view text = format == "genepop" ? std::string_view() : in.whole();
        if (format == "genepop")
            data = readgenepop(in);
        else if (format == "structure")
            data = readstructure(text, options.structure);
        else if (format == "fstat")
            data = readfstat(text);
        else if (format == "genalex")
            data = readgenalex(text, options.structure);
        else if (format == "arlequin")
            data = readarlequin(text);
        else
            throw inputerror(
                0, "not a Genepop, STRUCTURE, FSTAT, GenAlEx or Arlequin file as far as its content "
                   "shows (its first line: " +
                       firstline(in) + "); --format NAME reads it as one of them");
        if (data.loci.empty() || data.pops.empty())
            throw inputerror(0, data.loci.empty() ? "no loci" : "no individuals");
        distinct(data);
        return data;
    } catch (inputerror& e) {
        e.file = file;
        throw;
    }
}

}  // namespace formats
