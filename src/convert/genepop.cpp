// Genepop files: a title line; the locus names, one per line or separated by
// commas; then populations, each opened by a line "Pop" (any letter case) and
// holding one individual per line as "name , genotypes". A genotype has 2 or
// 3 digits per allele, one allele (haploid) or two (diploid); code 0 is a
// gene that was not typed.
#include <string>

#include "convert/dataset.h"

namespace convert {

namespace {

std::string num(std::size_t n)
{
    return std::to_string(n);
}

// A "Pop" line: its first word is pop in any letter case and it has no comma
// (which would make it an individual named pop). Text after the word names
// the population.
bool popline(std::string_view line, std::string_view& rest)
{
    if (line.find(',') != std::string_view::npos)
        return false;
    line = trim(line);
    std::size_t end = 0;
    while (end < line.size() && !white(line[end]))
        ++end;
    if (!popword(line.substr(0, end)))
        return false;
    rest = trim(line.substr(end));
    return true;
}

// An individual's line where a locus name was expected: text, a comma, then
// nothing but digit words.
bool looksindividual(std::string_view line)
{
    const std::size_t comma = line.find(',');
    if (comma == std::string_view::npos)
        return false;
    const std::string_view rest = line.substr(comma + 1);
    if (rest.find(',') != std::string_view::npos)
        return false;
    const auto w = words(rest);
    for (const auto g : w)
        for (const char c : g)
            if (c < '0' || c > '9')
                return false;
    return !w.empty();
}

// What the first genotype of the file says about all others.
struct coding {
    std::size_t width = 0;  // digits in a genotype; 0 until the first is read
    int ploidy = 0;
    int line = 0;  // where it was set

    std::string describe() const
    {
        return num(width) + " digits (" +
               (ploidy == 1 ? "haploid, one allele of " : "diploid, two alleles of ") +
               num(width / static_cast<std::size_t>(ploidy)) + " digits)";
    }
};

void readindividual(std::string_view text, int line, dataset& data, coding& code, allelecheck& alleles)
{
    const std::size_t comma = text.find(',');
    if (comma == std::string_view::npos)
        throw inputerror(line, "expected an individual as 'name , genotypes' or a 'Pop' line, found " +
                                   quote(trim(text)));

    individual ind;
    ind.name = std::string(trim(text.substr(0, comma)));
    ind.line = line;
    const auto genotypes = words(text.substr(comma + 1));
    const std::size_t nloci = data.loci.size();
    if (genotypes.size() != nloci)
        throw inputerror(line, "expected " + num(nloci) + (nloci == 1 ? " genotype" : " genotypes") +
                                   " (one per locus) after the name, found " + num(genotypes.size()));

    for (std::size_t l = 0; l < nloci; ++l) {
        const std::string_view g = genotypes[l];
        const std::string which = "genotype " + num(l + 1) + " " + quote(g);
        int value = 0;
        for (const char c : g)
            if (c < '0' || c > '9')
                throw inputerror(line, which + " is not a number: expected " +
                                           (code.width ? code.describe() : "2, 3, 4 or 6 digits"));
        if (code.width == 0) {
            if (g.size() != 2 && g.size() != 3 && g.size() != 4 && g.size() != 6)
                throw inputerror(line,
                                 which + " has " + num(g.size()) +
                                     " digits: expected 2 or 3 (haploid, one allele) or 4 or 6 (diploid, "
                                     "two alleles)");
            code.width = g.size();
            code.ploidy = g.size() <= 3 ? 1 : 2;
            code.line = line;
            data.ploidy = code.ploidy;
        } else if (g.size() != code.width) {
            throw inputerror(line, which + " has " + num(g.size()) + " digits, expected " + code.describe() +
                                       " as set by the first genotype on line " +
                                       num(static_cast<std::size_t>(code.line)));
        }
        const std::size_t step = code.width / static_cast<std::size_t>(code.ploidy);
        for (std::size_t a = 0; a < code.width; a += step) {
            digits(g.substr(a, step), value);
            const int allele = value == 0 ? MISSING : value;
            alleles.note(data, l, allele, line);
            ind.genes.push_back(allele);
        }
    }
    data.pops.back().members.push_back(std::move(ind));
}

void closepopulation(const dataset& data)
{
    if (!data.pops.empty() && data.pops.back().members.empty())
        throw inputerror(data.pops.back().line,
                         "population " + num(data.pops.size()) + " (the 'Pop' line here) has no individuals");
}

}  // namespace

dataset readgenepop(const std::vector<std::string>& lines)
{
    if (lines.empty())
        throw inputerror(0, "the file is empty: expected a title line, locus names and populations");

    dataset data;
    coding code;
    allelecheck alleles;
    // Line 1 is the title, whatever it says.
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const std::string_view text = lines[i];
        const int line = static_cast<int>(i + 1);
        if (trim(text).empty())
            continue;

        std::string_view popname;
        if (popline(text, popname)) {
            if (data.loci.empty())
                throw inputerror(line, "expected the locus names before the first 'Pop' line");
            closepopulation(data);
            if (data.pops.size() == MAXUSEDPOPS)
                throw inputerror(line, "population " + num(data.pops.size() + 1) + " begins here: at most " +
                                           num(MAXUSEDPOPS) + " populations fit in a vorn data file");
            data.pops.push_back({std::string(popname), line, {}});
            continue;
        }

        if (!data.pops.empty()) {
            readindividual(text, line, data, code, alleles);
            continue;
        }

        // Locus names, up to the first 'Pop' line.
        if (looksindividual(text))
            throw inputerror(line, "expected a locus name or a 'Pop' line, found an individual " +
                                       quote(trim(text)) +
                                       ": the 'Pop' line before the first population is missing");
        std::string_view rest = text;
        while (true) {
            const std::size_t comma = rest.find(',');
            const std::string_view name = trim(rest.substr(0, comma));
            if (!name.empty()) {
                if (data.loci.size() == MAXUSEDLOCI)
                    throw inputerror(line, "locus " + num(data.loci.size() + 1) + " " + quote(name) +
                                               ": at most " + num(MAXUSEDLOCI) +
                                               " loci fit in a vorn data file");
                data.loci.push_back({std::string(name), line});
            }
            if (comma == std::string_view::npos)
                break;
            rest.remove_prefix(comma + 1);
        }
    }

    if (data.pops.empty())
        throw inputerror(static_cast<int>(lines.size()),
                         "end of file: expected a 'Pop' line and a population");
    closepopulation(data);
    return data;
}

}  // namespace convert
