#include "convert/vornfile.h"

#include <algorithm>
#include <set>

#include "formats/text.h"

namespace convert {

using formats::ABSENT;
using formats::inputerror;
using formats::MISSING;

namespace {

bool continuation(char c)
{
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

std::string num(std::size_t n)
{
    return std::to_string(n);
}

// name, or name with _n appended (n the smallest from 2 up) when it is taken;
// shortened to leave room, never inside a UTF-8 character.
std::string unique(const std::string& name, std::size_t max, std::set<std::string>& taken)
{
    std::string candidate = name;
    for (int n = 2; taken.contains(candidate); ++n) {
        std::string suffix(1, '_');
        suffix += std::to_string(n);
        candidate = name.substr(0, max - std::min(max, suffix.size()));
        while (!candidate.empty() && candidate.size() < name.size() && continuation(name[candidate.size()]))
            candidate.pop_back();
        candidate += suffix;
    }
    taken.insert(candidate);
    return candidate;
}

// Alleles in symbol order: numbers by value, before any other label, which
// go by their bytes.
bool before(const std::string& a, const std::string& b)
{
    long x = 0, y = 0;
    const bool na = formats::number(a, x), nb = formats::number(b, y);
    if (na != nb)
        return na;
    return na ? x < y : a < b;
}

}  // namespace

std::string safename(std::string_view text, std::size_t max)
{
    text = formats::trim(text);
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const auto u = static_cast<unsigned char>(c);
        // A C1 control, C2 80 to C2 9F in UTF-8, is one character.
        const bool c1 =
            u == 0xc2 && i + 1 < text.size() && (static_cast<unsigned char>(text[i + 1]) & 0xe0) == 0x80;
        i += c1 ? 1 : 0;
        const bool plain = u > 0x20 && u != 0x7f && !c1 && c != ',' && c != ';' && c != ':' && c != '=';
        out += plain ? c : '_';
    }
    if (out.size() > max) {
        std::size_t cut = max;
        while (cut > 0 && continuation(out[cut]))
            --cut;
        out.resize(cut);
    }
    return out;
}

vornplan plan(const formats::dataset& data, const selection& chosen)
{
    const std::string how = " (numbers or names, ranges such as 1-" + num(MAXUSEDLOCI) + ")";
    if (chosen.loci.size() > MAXUSEDLOCI)
        throw inputerror(0, num(chosen.loci.size()) + " loci: at most " + num(MAXUSEDLOCI) +
                                " fit in a vorn data file; choose which with --loci LIST" + how);
    if (chosen.pops.size() > MAXUSEDPOPS)
        throw inputerror(0, num(chosen.pops.size()) + " populations: at most " + num(MAXUSEDPOPS) +
                                " fit in a vorn data file; choose which with --pops LIST" + how);
    if (data.ploidy > 2)
        throw inputerror(0, "ploidy " + std::to_string(data.ploidy) +
                                ": a vorn data file holds haploid or diploid genotypes only");

    vornplan p;
    const auto ploidy = static_cast<std::size_t>(data.ploidy);
    // Which chosen loci are haploid: in a diploid data set, those whose second
    // gene copy is absent throughout.
    std::size_t haploid = 0;
    std::size_t firsthaploid = 0;
    for (std::size_t i = 0; i < chosen.loci.size(); ++i) {
        const std::size_t l = chosen.loci[i];
        std::size_t absent = 0, present = 0;
        for (const std::size_t pop : chosen.pops)
            for (const formats::individual& ind : data.pops[pop].members)
                (ploidy == 2 && ind.genes[l * 2 + 1] == ABSENT ? absent : present) += 1;
        const std::string which = "locus " + num(l + 1) + " " + formats::quote(data.loci[l].name);
        if (absent > 0 && present > 0)
            throw inputerror(data.loci[l].line, which +
                                                    " holds haploid and diploid genotypes: a vorn data file "
                                                    "is haploid or diploid throughout; leave the locus out "
                                                    "with --loci");
        if (absent > 0 && haploid++ == 0)
            firsthaploid = l;
    }
    if (haploid > 0 && haploid < chosen.loci.size())
        throw inputerror(
            data.loci[firsthaploid].line,
            "locus " + num(firsthaploid + 1) + " " + formats::quote(data.loci[firsthaploid].name) +
                " is haploid, and other loci are diploid: a vorn data file is haploid or diploid "
                "throughout; choose loci of one kind with --loci");
    p.ploidy = ploidy == 2 && haploid == 0 ? 2 : 1;

    for (const std::size_t l : chosen.loci) {
        const formats::locus& lc = data.loci[l];
        std::vector<char> seen(lc.alleles.size(), 0);
        for (const std::size_t pop : chosen.pops)
            for (const formats::individual& ind : data.pops[pop].members)
                for (std::size_t g = 0; g < ploidy; ++g)
                    if (const int a = ind.genes[l * ploidy + g]; a >= 0)
                        seen[static_cast<std::size_t>(a)] = 1;
        std::vector<int> order;
        for (std::size_t a = 0; a < seen.size(); ++a)
            if (seen[a])
                order.push_back(static_cast<int>(a));
        if (order.size() > MAXUSEDALLELES)
            throw inputerror(lc.line, "locus " + num(l + 1) + " " + formats::quote(lc.name) + " has " +
                                          num(order.size()) + " alleles: at most " + num(MAXUSEDALLELES) +
                                          " fit at one locus of a vorn data file; leave the locus out with "
                                          "--loci, or pool rare alleles");
        std::sort(order.begin(), order.end(), [&](int a, int b) {
            return before(lc.alleles[static_cast<std::size_t>(a)], lc.alleles[static_cast<std::size_t>(b)]);
        });
        std::vector<int> symbol(lc.alleles.size(), -1);
        for (std::size_t k = 0; k < order.size(); ++k)
            symbol[static_cast<std::size_t>(order[k])] = static_cast<int>(k);
        p.order.push_back(std::move(order));
        p.symbol.push_back(std::move(symbol));
    }

    std::set<std::string> taken;
    for (const std::size_t l : chosen.loci) {
        // Names of a data set are never empty, nor made empty here.
        p.loci.push_back(unique(safename(data.loci[l].name, LABELMAX), LABELMAX, taken));
    }
    taken.clear();
    std::size_t count = 0;  // individuals so far, over all populations
    for (const std::size_t pop : chosen.pops) {
        p.pops.push_back(unique(safename(data.pops[pop].name, NAMEMAX), NAMEMAX, taken));
        auto& members = p.members.emplace_back();
        for (const formats::individual& ind : data.pops[pop].members) {
            ++count;
            std::string iname = safename(ind.name, NAMEMAX);
            members.push_back(iname.empty() ? "ind" + num(count) : iname);
        }
    }
    return p;
}

std::string vorntext(const formats::dataset& data, const selection& chosen, const vornplan& p)
{
    const std::size_t nloci = chosen.loci.size();
    const auto ploidy = static_cast<std::size_t>(data.ploidy);
    auto symbol = [&](std::size_t i, int gene) {
        return gene < 0 ? '?'
                        : ALPHABET[static_cast<std::size_t>(p.symbol[i][static_cast<std::size_t>(gene)])];
    };

    std::string out = "#nexus\nbegin vorndata;\n";
    out += "dimensions npops=" + num(chosen.pops.size()) + " nloci=" + num(nloci) + ";\n";
    out += p.ploidy == 2 ? "format diploid missing=? separator=/;\n" : "format haploid missing=?;\n";
    out += "locusallelelabels\n";
    for (std::size_t i = 0; i < nloci; ++i)
        out += "  " + num(i + 1) + " " + p.loci[i] + (i + 1 < nloci ? ",\n" : ";\n");
    out += "matrix\n";

    // The whole text at once, so that it is never held twice while it grows:
    // each individual's line is its name, a word per locus and at most 4
    // more bytes.
    std::size_t size = out.size() + 5;
    const std::size_t word = p.ploidy == 2 ? 4 : 2;
    for (std::size_t j = 0; j < chosen.pops.size(); ++j) {
        size += p.pops[j].size() + 2;
        for (const std::string& name : p.members[j])
            size += name.size() + 4 + nloci * word;
    }
    out.reserve(size);

    for (std::size_t j = 0; j < chosen.pops.size(); ++j) {
        const auto& members = data.pops[chosen.pops[j]].members;
        out += p.pops[j] + ":\n";
        for (std::size_t m = 0; m < members.size(); ++m) {
            out += "  " + p.members[j][m];
            const auto& genes = members[m].genes;
            for (std::size_t i = 0; i < nloci; ++i) {
                const std::size_t at = chosen.loci[i] * ploidy;
                out += ' ';
                out += symbol(i, genes[at]);
                if (p.ploidy == 2) {
                    out += '/';
                    out += symbol(i, genes[at + 1]);
                }
            }
            // Only the last word of an individual closes its population or the matrix.
            if (m + 1 == members.size())
                out += j + 1 < chosen.pops.size() ? ',' : ';';
            out += '\n';
        }
    }
    out += "end;\n";
    return out;
}

std::string maptext(const formats::dataset& data, const selection& chosen, const vornplan& p)
{
    std::string out = "locus\tallele\tsymbol\n";
    for (std::size_t i = 0; i < chosen.loci.size(); ++i)
        for (std::size_t k = 0; k < p.order[i].size(); ++k)
            out +=
                p.loci[i] + '\t' +
                safename(data.loci[chosen.loci[i]].alleles[static_cast<std::size_t>(p.order[i][k])], 1000) +
                '\t' + ALPHABET[k] + '\n';
    return out;
}

}  // namespace convert
