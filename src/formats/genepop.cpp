// Genepop: a title line; the locus names, one a line or separated by commas
// (or, when the genotypes confirm it, by blanks); then populations, each
// opened by a line "Pop" (any letter case, perhaps followed by a name), with
// one individual as "name , genotypes", the genotypes perhaps continued on the
// following lines. A genotype has 2 or 3 digits per allele, one allele
// (haploid) or two (diploid); each locus keeps the width of its first typed
// genotype, and haploid and diploid loci may share a file. Code 0 is a gene
// that was not typed.
#include <set>

#include "formats/text.h"

namespace formats {

bool popline(std::string_view line, std::string_view& name)
{
    line = trim(line);
    if (line.size() < 3 || !samewords(line.substr(0, 3), "pop"))
        return false;
    std::string_view rest = line.substr(3);
    if (!rest.empty() && !white(rest.front()) && rest.front() != ',')
        return false;
    rest = trim(rest);
    if (!rest.empty() && rest.front() == ',') {
        rest.remove_prefix(1);
        if (genotypes(rest))
            return false;
    }
    name = trim(rest);
    return true;
}

bool genotypes(std::string_view s)
{
    const auto w = words(s);
    for (const auto g : w)
        if (!alldigits(g))
            return false;
    return !w.empty();
}

namespace {

bool individualline(std::string_view line)
{
    const std::size_t comma = line.find(',');
    return comma != std::string_view::npos && genotypes(line.substr(comma + 1));
}

// Locus names of lines as commas separate them, or as commas and blanks do.
std::vector<std::string_view> splitnames(std::string_view line, bool blanks)
{
    std::vector<std::string_view> out;
    for (const std::string_view piece : cells(line, ','))
        if (blanks) {
            for (const auto w : words(piece))
                out.push_back(w);
        } else if (!piece.empty()) {
            out.push_back(piece);
        }
    return out;
}

struct nameline {
    int line;
    std::string text;
};

// Digits of each locus's genotypes (2, 3, 4 or 6), set by the first typed one.
struct width {
    std::size_t digits = 0;
    int line = 0;
};

std::string describe(std::size_t digits)
{
    return num(digits) + " digits (" +
           (digits <= 3 ? "haploid, one allele of " : "diploid, two alleles of ") +
           num(digits <= 3 ? digits : digits / 2) + " digits)";
}

class reader {
public:
    dataset data;

    void locusnames(std::vector<nameline> lines, std::string title)
    {
        names = std::move(lines);
        titletext = std::move(title);
    }

    void startpop(std::string_view name, int line)
    {
        if (data.pops.empty() && names.empty())
            throw inputerror(line,
                             "expected the locus names between the title line and the first 'Pop' line" +
                                 (titletext.empty() ? std::string()
                                                    : "; if line 1 " + quote(titletext) +
                                                          " names the loci, the title line is missing"));
        finish();
        closepop();
        data.pops.push_back({std::string(name), line, {}});
    }

    void startindividual(std::string_view text, int line)
    {
        finish();
        const std::size_t comma = text.find(',');
        pending = true;
        current = {std::string(trim(text.substr(0, comma))), line, {}};
        genotext.assign(text.substr(comma + 1));
    }

    bool continuation(std::string_view text)
    {
        if (!pending || !genotypes(text))
            return false;
        genotext += ' ';
        genotext += text;
        return true;
    }

    void end()
    {
        finish();
        closepop();
        shape();
    }

private:
    std::vector<nameline> names;
    std::string titletext;
    bool pending = false;
    individual current;
    std::string genotext;  // the genotypes of current, its lines joined
    std::vector<width> widths;
    alleletables alleles;

    void closepop() const
    {
        if (!data.pops.empty() && data.pops.back().members.empty())
            throw inputerror(data.pops.back().line, "population " + num(data.pops.size()) +
                                                        " (the 'Pop' line here) has no individuals");
    }

    // The locus names, once the first individual shows how many loci there are.
    void resolveloci(std::size_t found)
    {
        std::vector<std::string_view> bycomma, byblank;
        std::vector<int> commaline, blankline;
        for (const nameline& n : names) {
            for (const auto s : splitnames(n.text, false)) {
                bycomma.push_back(s);
                commaline.push_back(n.line);
            }
            for (const auto s : splitnames(n.text, true)) {
                byblank.push_back(s);
                blankline.push_back(n.line);
            }
        }
        const bool blanks = found != bycomma.size() && found == byblank.size();
        if (found != bycomma.size() && !blanks) {
            std::string why = "individual " + quote(current.name) + " has " +
                              count(found, "genotype", "genotypes") + ", but the locus names give " +
                              count(bycomma.size(), "locus", "loci");
            if (byblank.size() != bycomma.size())
                why += " (" + num(byblank.size()) + " if blanks separate names)";
            const std::size_t intitle = splitnames(titletext, false).size();
            const std::size_t intitleblank = splitnames(titletext, true).size();
            if (intitle > 0 && (found == bycomma.size() + intitle || found == byblank.size() + intitleblank))
                why += "; with line 1 " + quote(titletext) + " as locus names they would give " + num(found) +
                       ": a Genepop file begins with a title line; if this one has none, add one";
            throw inputerror(current.line, why);
        }
        if (found == 0)
            throw inputerror(current.line, "individual " + quote(current.name) +
                                               " has no genotypes, and no locus is named");
        const auto& chosen = blanks ? byblank : bycomma;
        const auto& lines = blanks ? blankline : commaline;
        for (std::size_t l = 0; l < chosen.size(); ++l)
            data.loci.push_back({std::string(chosen[l]), lines[l], {}});
        widths.resize(chosen.size());
        if (blanks)
            data.layout = "locus names separated by blanks";
    }

    void finish()
    {
        if (!pending)
            return;
        pending = false;
        const auto tokens = words(genotext);
        if (data.loci.empty())
            resolveloci(tokens.size());
        const std::size_t nloci = data.loci.size();
        if (tokens.size() != nloci)
            throw inputerror(current.line, "expected " + count(nloci, "genotype", "genotypes") +
                                               " (one per locus) after the name, found " +
                                               num(tokens.size()));
        current.genes.assign(2 * nloci, MISSING);
        for (std::size_t l = 0; l < nloci; ++l)
            decode(tokens[l], l);
        data.pops.back().members.push_back(std::move(current));
    }

    void decode(std::string_view g, std::size_t l)
    {
        const std::string which = "genotype " + num(l + 1) + " " + quote(g);
        width& w = widths[l];
        const std::string expected =
            w.digits ? describe(w.digits) : std::string("2 or 3 digits per allele, one allele or two");
        if (!alldigits(g))
            throw inputerror(current.line, which + " is not a number: expected " + expected);
        if (g.size() != 2 && g.size() != 3 && g.size() != 4 && g.size() != 6)
            throw inputerror(
                current.line,
                which + " has " + num(g.size()) +
                    " digits: expected 2 or 3 (haploid, one allele) or 4 or 6 (diploid, two alleles)");
        if (g.find_first_not_of('0') == std::string_view::npos)
            return;  // not typed, whatever its width
        if (w.digits == 0) {
            w = {g.size(), current.line};
        } else if (g.size() != w.digits) {
            throw inputerror(current.line, which + " has " + num(g.size()) + " digits, expected " + expected +
                                               " as this locus has on line " + std::to_string(w.line));
        }
        const std::size_t step = g.size() == 4 ? 2 : g.size() == 6 ? 3 : g.size();
        for (std::size_t a = 0; a * step < g.size(); ++a) {
            long code = 0;
            number(g.substr(a * step, step), code, false);
            current.genes[2 * l + a] = code == 0 ? MISSING : alleles.index(data, l, codelabel(code));
        }
    }

    // Ploidy of the data set from the widths of its loci; names of the
    // populations that the file does not name.
    void shape()
    {
        std::set<std::size_t> digits;
        std::size_t haploid = 0, diploid = 0;
        for (const width& w : widths) {
            if (w.digits == 0)
                continue;
            digits.insert(w.digits <= 3 ? w.digits : w.digits / 2);
            (w.digits <= 3 ? haploid : diploid) += 1;
        }
        data.ploidy = diploid > 0 ? 2 : 1;
        for (population& p : data.pops)
            for (individual& ind : p.members) {
                if (data.ploidy == 1) {
                    for (std::size_t l = 0; l < widths.size(); ++l)
                        ind.genes[l] = ind.genes[2 * l];
                    ind.genes.resize(widths.size());
                    continue;
                }
                for (std::size_t l = 0; l < widths.size(); ++l)
                    if (widths[l].digits == 2 || widths[l].digits == 3)
                        ind.genes[2 * l + 1] = ABSENT;
            }

        std::string layout = digits.size() == 2     ? "2 and 3 digits per allele"
                             : digits.empty()       ? "no genotype typed"
                             : *digits.begin() == 2 ? "2 digits per allele"
                                                    : "3 digits per allele";
        if (diploid > 0 && haploid > 0)
            layout += ", " + count(haploid, "haploid locus", "haploid loci") + " among diploid ones";
        data.layout = layout + (data.layout.empty() ? "" : ", " + data.layout);

        // Genepop names a population after its last individual; where that
        // leaves a name empty or shared, unnamed populations go by their place.
        std::set<std::string> taken, last;
        bool usable = true;
        for (const population& p : data.pops) {
            if (!p.name.empty()) {
                taken.insert(p.name);
                continue;
            }
            const std::string& name = p.members.back().name;
            usable = usable && !name.empty() && last.insert(name).second;
        }
        for (const std::string& name : last)
            usable = usable && !taken.contains(name);
        for (std::size_t p = 0; p < data.pops.size(); ++p)
            if (data.pops[p].name.empty())
                data.pops[p].name = usable ? data.pops[p].members.back().name : "pop" + num(p + 1);
    }
};

}  // namespace

dataset readgenepop(std::string_view text)
{
    input whole(text);
    return readgenepop(whole);
}

// Line by line, letting go of each line once read: only the locus names and
// the current individual's lines are kept as text.
dataset readgenepop(input& source)
{
    linereader in(source, true);
    std::string_view line;
    if (!in.next(line))
        throw inputerror(0, "the file is empty: expected a title line, locus names and populations");
    std::string title(trim(line));

    reader r;
    r.data.format = "Genepop";
    std::vector<nameline> names;
    bool inpops = false;
    std::string_view popname;
    while (!inpops && in.next(line)) {
        if (trim(line).empty())
            continue;
        if (popline(line, popname)) {
            inpops = true;
        } else if (individualline(line)) {
            throw inputerror(in.number, "expected a locus name or a 'Pop' line, found an individual " +
                                            quote(trim(line)) +
                                            ": the 'Pop' line before the first population is missing");
        } else {
            names.push_back({in.number, std::string(line)});
        }
    }
    if (!inpops)
        throw inputerror(in.number, "end of file: expected a 'Pop' line and a population");
    r.locusnames(std::move(names), std::move(title));
    r.startpop(popname, in.number);

    while (in.next(line)) {
        if (trim(line).empty())
            continue;
        if (popline(line, popname))
            r.startpop(popname, in.number);
        else if (line.find(',') != std::string_view::npos)
            r.startindividual(line, in.number);
        else if (!r.continuation(line))
            throw inputerror(in.number,
                             "expected an individual as 'name , genotypes' or a 'Pop' line, found " +
                                 quote(trim(line)));
    }
    r.end();
    return std::move(r.data);
}

}  // namespace formats
