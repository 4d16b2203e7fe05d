#include "convert/vornfile.h"

#include <algorithm>
#include <map>
#include <set>

namespace convert {

namespace {

bool continuation(char c)
{
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// name with _n appended, n the smallest from 2 up that is not yet taken; the
// name is shortened to leave room.
std::string numbered(const std::string& name, const std::set<std::string>& taken)
{
    for (int n = 2;; ++n) {
        std::string suffix(1, '_');
        suffix += std::to_string(n);
        std::string candidate = name.substr(0, LABELMAX - suffix.size());
        while (!candidate.empty() && candidate.size() < name.size() && continuation(name[candidate.size()]))
            candidate.pop_back();
        candidate += suffix;
        if (!taken.contains(candidate))
            return candidate;
    }
}

}  // namespace

std::string safename(std::string_view text, std::size_t max)
{
    text = trim(text);
    std::string out;
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        const bool plain = u > 0x20 && u != 0x7f && c != ',' && c != ';' && c != ':' && c != '=';
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

naming makenames(const dataset& data)
{
    naming names;

    std::map<std::string_view, std::size_t> given;  // input name -> first locus of that name
    std::set<std::string> taken;
    for (std::size_t l = 0; l < data.loci.size(); ++l) {
        const locus& lc = data.loci[l];
        if (auto [at, added] = given.try_emplace(lc.name, l); !added)
            throw inputerror(lc.line, "locus " + std::to_string(l + 1) + " " + quote(lc.name) +
                                          " has the same name as locus " + std::to_string(at->second + 1) +
                                          " (line " + std::to_string(data.loci[at->second].line) +
                                          "): locus names must be unique");
        std::string name = safename(lc.name, LABELMAX);
        if (name.empty())
            name = "locus" + std::to_string(l + 1);
        if (taken.contains(name))
            name = numbered(name, taken);
        taken.insert(name);
        names.loci.push_back(name);
    }

    std::size_t count = 0;  // individuals so far, over all populations
    for (std::size_t p = 0; p < data.pops.size(); ++p) {
        const population& pop = data.pops[p];
        std::string name = safename(pop.name, NAMEMAX);
        if (name.empty())
            name = safename(pop.members.front().name, NAMEMAX);
        if (name.empty())
            name = "pop" + std::to_string(p + 1);
        names.pops.push_back(name);

        auto& members = names.members.emplace_back();
        for (const individual& ind : pop.members) {
            ++count;
            std::string iname = safename(ind.name, NAMEMAX);
            members.push_back(iname.empty() ? "ind" + std::to_string(count) : iname);
        }
    }
    return names;
}

std::vector<std::vector<int>> allelecodes(const dataset& data)
{
    std::vector<std::set<int>> seen(data.loci.size());
    const auto ploidy = static_cast<std::size_t>(data.ploidy);
    for (const population& pop : data.pops)
        for (const individual& ind : pop.members)
            for (std::size_t i = 0; i < ind.genes.size(); ++i)
                if (ind.genes[i] != MISSING)
                    seen[i / ploidy].insert(ind.genes[i]);

    std::vector<std::vector<int>> codes;
    for (const auto& s : seen)
        codes.emplace_back(s.begin(), s.end());
    return codes;
}

std::string vorntext(const dataset& data, const naming& names, const std::vector<std::vector<int>>& codes)
{
    const std::size_t nloci = data.loci.size();
    const auto ploidy = static_cast<std::size_t>(data.ploidy);
    auto symbol = [&](std::size_t l, int code) {
        if (code == MISSING)
            return '?';
        const auto& c = codes[l];
        return ALPHABET[static_cast<std::size_t>(std::lower_bound(c.begin(), c.end(), code) - c.begin())];
    };

    std::string out = "#nexus\nbegin vorndata;\n";
    out += "dimensions npops=" + std::to_string(data.pops.size()) + " nloci=" + std::to_string(nloci) + ";\n";
    out += ploidy == 2 ? "format diploid missing=? separator=/;\n" : "format haploid missing=?;\n";
    out += "locusallelelabels\n";
    for (std::size_t l = 0; l < nloci; ++l)
        out += "  " + std::to_string(l + 1) + " " + names.loci[l] + (l + 1 < nloci ? ",\n" : ";\n");
    out += "matrix\n";

    for (std::size_t p = 0; p < data.pops.size(); ++p) {
        const auto& members = data.pops[p].members;
        out += names.pops[p] + ":\n";
        for (std::size_t i = 0; i < members.size(); ++i) {
            out += "  " + names.members[p][i];
            const auto& genes = members[i].genes;
            for (std::size_t l = 0; l < nloci; ++l) {
                out += ' ';
                out += symbol(l, genes[l * ploidy]);
                if (ploidy == 2) {
                    out += '/';
                    out += symbol(l, genes[l * ploidy + 1]);
                }
            }
            // Only the last word of an individual closes its population or the matrix.
            if (i + 1 == members.size())
                out += p + 1 < data.pops.size() ? ',' : ';';
            out += '\n';
        }
    }
    out += "end;\n";
    return out;
}

std::string maptext(const naming& names, const std::vector<std::vector<int>>& codes)
{
    std::string out = "locus\tallele\tsymbol\n";
    for (std::size_t l = 0; l < codes.size(); ++l)
        for (std::size_t k = 0; k < codes[l].size(); ++k)
            out += names.loci[l] + '\t' + std::to_string(codes[l][k]) + '\t' + ALPHABET[k] + '\n';
    return out;
}

}  // namespace convert
