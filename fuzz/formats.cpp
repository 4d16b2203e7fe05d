// Fuzz target: the readers of src/formats on arbitrary bytes, from memory.
//
// Every input is read as its content suggests, then as each format in turn
// (STRUCTURE with layout settings drawn from the input's length), and as a
// STRUCTURE mainparams file. Each read must end in a data set that keeps the
// promises of formats/dataset.h, or in an inputerror with a message, the
// file name and a line within the input. Any other exception aborts;
// crashes, hangs and undefined behaviour are caught by the sanitizers.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <string_view>

#include "formats/dataset.h"

namespace {

[[noreturn]] void broken(const std::string& what)
{
    std::fprintf(stderr, "\nfuzz check failed: %s\n", what.c_str());
    std::fflush(stderr);
    std::abort();
}

void require(bool ok, const std::string& what)
{
    if (!ok)
        broken(what);
}

void checkdata(const formats::dataset& d)
{
    require(d.ploidy >= 1, "ploidy " + std::to_string(d.ploidy));
    require(!d.loci.empty() && !d.pops.empty(), "no loci or no populations");
    require(!d.format.empty() && !d.layout.empty(), "format or layout not told");
    std::set<std::string> names;
    for (const formats::locus& l : d.loci) {
        require(!l.name.empty() && names.insert(l.name).second, "locus name empty or twice: " + l.name);
        std::set<std::string> alleles(l.alleles.begin(), l.alleles.end());
        require(alleles.size() == l.alleles.size(), "an allele twice at locus " + l.name);
        require(!alleles.contains(""), "an empty allele at locus " + l.name);
    }
    names.clear();
    const std::size_t genes = d.loci.size() * static_cast<std::size_t>(d.ploidy);
    for (const formats::population& p : d.pops) {
        require(!p.name.empty() && names.insert(p.name).second, "population name empty or twice: " + p.name);
        require(!p.members.empty(), "population without individuals: " + p.name);
        for (const formats::individual& ind : p.members) {
            require(ind.genes.size() == genes,
                    "individual with " + std::to_string(ind.genes.size()) + " genes");
            for (std::size_t i = 0; i < genes; ++i) {
                const int g = ind.genes[i];
                const auto& alleles = d.loci[i / static_cast<std::size_t>(d.ploidy)].alleles;
                require(g == formats::MISSING || g == formats::ABSENT ||
                            (g >= 0 && static_cast<std::size_t>(g) < alleles.size()),
                        "gene " + std::to_string(g) + " out of range");
            }
        }
    }
}

void checkerror(const formats::inputerror& e, std::size_t lines)
{
    require(e.what()[0] != '\0', "an error without a message");
    require(e.file == "fuzz", "an error without the file name: '" + e.file + "'");
    require(e.line >= 0 && static_cast<std::size_t>(e.line) <= lines + 1,
            "line " + std::to_string(e.line) + " of " + std::to_string(lines));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(bytes), size);
    std::size_t lines = 0;
    for (const char c : text)
        lines += c == '\n' || c == '\r';

    formats::readoptions how;
    if (size % 3 == 1) {
        how.structure.extracols = static_cast<int>(size % 2);
        how.structure.ploidy = 1 + static_cast<int>(size / 3 % 2);
    } else if (size % 3 == 2) {
        how.structure.onerowperind = static_cast<int>(size / 3 % 2);
        how.structure.ploidy = 2;
        how.structure.missing = 0;
        how.structure.numloci = 1 + static_cast<int>(size / 6 % 3);
    }
    for (std::size_t f = 0; f <= formats::FORMATS.size(); ++f) {
        how.format = f == 0 ? std::string() : std::string(formats::FORMATS[f - 1]);
        try {
            checkdata(formats::readany(text, "fuzz", how));
        } catch (const formats::inputerror& e) {
            checkerror(e, lines);
        }
    }
    try {
        formats::structureparams params;
        formats::readmainparams(text, "fuzz", params);
    } catch (const formats::inputerror& e) {
        checkerror(e, lines);
    }
    return 0;
}
