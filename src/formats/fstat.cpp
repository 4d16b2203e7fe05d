// FSTAT (.dat): a first line of four numbers (samples, loci, highest allele
// code, digits per allele); one locus name a line; then one row per
// individual: its sample number and one diploid genotype per locus, the two
// codes written together as one number (0101, or 101 without the leading
// zero). A genotype with a code 0 is missing as a whole, as FSTAT has it.
#include <map>

#include "formats/text.h"

namespace formats {

dataset readfstat(std::string_view text)
{
    linereader in(text);
    std::string_view line;
    while (in.next(line) && trim(line).empty()) {
    }
    const auto head = words(line);
    long np = 0, nl = 0, nu = 0, nd = 0;
    if (head.size() != 4 || !number(head[0], np, false) || !number(head[1], nl, false) ||
        !number(head[2], nu, false) || !number(head[3], nd, false) || np < 1 || nl < 1 || nd < 1 || nd > 3)
        throw inputerror(in.number,
                         "expected 4 numbers: samples, loci, highest allele code and digits per allele "
                         "(1, 2 or 3), found " +
                             quote(trim(line)));
    const int headline = in.number;

    dataset data;
    data.format = "FSTAT";
    data.ploidy = 2;
    data.layout = count(static_cast<std::size_t>(nd), "digit", "digits") + " per allele";
    while (data.loci.size() < static_cast<std::size_t>(nl) && in.next(line))
        if (!trim(line).empty())
            data.loci.push_back({std::string(trim(line)), in.number, {}});
    if (data.loci.size() < static_cast<std::size_t>(nl))
        throw inputerror(in.number, "end of file after " +
                                        count(data.loci.size(), "locus name", "locus names") + ": line " +
                                        std::to_string(headline) + " gives " +
                                        count(static_cast<std::size_t>(nl), "locus", "loci"));

    long scale = 1;
    for (long d = 0; d < nd; ++d)
        scale *= 10;
    const auto nloci = static_cast<std::size_t>(nl);
    alleletables alleles;
    std::map<long, std::size_t> popindex;
    bool above = false;
    while (in.next(line)) {
        const auto w = words(line);
        if (w.empty())
            continue;
        if (w.size() != nloci + 1)
            throw inputerror(in.number, "expected " + num(nloci + 1) + " numbers (the sample, then " +
                                            count(nloci, "genotype", "genotypes") + "), found " +
                                            num(w.size()));
        long sample = 0;
        if (!number(w[0], sample, false) || sample < 1 || sample > np)
            throw inputerror(in.number, "sample " + quote(w[0]) + ": expected a number from 1 to " +
                                            std::to_string(np) + " (the samples given on line " +
                                            std::to_string(headline) + ")");
        individual ind{{}, in.number, std::vector<int>(2 * nloci, MISSING)};
        for (std::size_t l = 0; l < nloci; ++l) {
            long g = 0;
            if (w[l + 1] == "NA")
                continue;
            if (!number(w[l + 1], g, false) || g >= scale * scale)
                throw inputerror(in.number, "genotype " + num(l + 1) + " " + quote(w[l + 1]) +
                                                ": expected two codes of " +
                                                count(static_cast<std::size_t>(nd), "digit", "digits") +
                                                " written together, or 0 for a missing genotype");
            const long a = g / scale, b = g % scale;
            if (a == 0 || b == 0)
                continue;
            above = above || a > nu || b > nu;
            ind.genes[2 * l] = alleles.index(data, l, codelabel(a));
            ind.genes[2 * l + 1] = alleles.index(data, l, codelabel(b));
        }
        auto [at, added] = popindex.try_emplace(sample, data.pops.size());
        if (added)
            data.pops.push_back({codelabel(sample), in.number, {}});
        data.pops[at->second].members.push_back(std::move(ind));
    }
    if (data.pops.empty())
        throw inputerror(in.number, "end of file: expected rows of individuals after the locus names");
    if (above)
        data.warnings.push_back({headline, "allele codes above " + std::to_string(nu) +
                                               ", the highest code that this line gives"});
    return data;
}

}  // namespace formats
