#include "stat/input.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <sstream>

#include "core/failure.h"
#include "formats/vorndata.h"
#include "stat/sha256.h"

namespace {

std::string slurp(const std::string& file)
{
    std::string text;
    if (file == "-") {
        std::ostringstream s;
        s << std::cin.rdbuf();
        if (std::cin.bad())
            throw readerror(0, "could not read standard input");
        return s.str();
    }
    std::ifstream in(file, std::ios::binary);
    if (!in)
        throw readerror(0, "could not open the file");
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad())
        throw readerror(0, "could not read the file");
    return text;
}

// vorn's own files open with #nexus, in any letter case, after white space.
bool isnexus(const std::string& text)
{
    const std::size_t at = text.find_first_not_of(" \t\r\n");
    if (at == std::string::npos || text.size() - at < 6)
        return false;
    std::string head = text.substr(at, 6);
    std::transform(head.begin(), head.end(), head.begin(), [](unsigned char c) { return std::tolower(c); });
    return head == "#nexus";
}

counts readvorn(const std::string& text)
{
    auto record = std::make_unique<datastr>();
    source in;
    in.pos = reinterpret_cast<const unsigned char*>(text.data());
    in.end = in.pos + text.size();
    try {
        readdata(in, "", record.get());
    } catch (const failure& f) {
        // vorn's message, less its leading line break, at the line reached.
        std::string message = f.what();
        if (!message.empty() && message.front() == '\n')
            message.erase(0, 1);
        if (!message.empty() && message.back() == '\n')
            message.pop_back();
        // The byte that ended the last word read may be the line break after it.
        const std::size_t upto =
            f.offset <= 0 ? 0 : std::min(text.size(), static_cast<std::size_t>(f.offset - 1));
        const int line =
            1 + static_cast<int>(std::count(text.begin(), text.begin() + static_cast<long>(upto), '\n'));
        throw readerror(line, message);
    }
    return fromrecord(*record);
}

}  // namespace

counts tally(const formats::dataset& d)
{
    const std::size_t nloci = d.loci.size();
    const int ploidy = d.ploidy;
    // number[l][a]: the allele's number in the table, -1 until first met.
    std::vector<std::vector<int>> number(nloci);
    std::vector<int> nalleles(nloci, 0);
    for (std::size_t l = 0; l < nloci; ++l)
        number[l].assign(d.loci[l].alleles.size(), -1);
    for (const formats::population& pop : d.pops)
        for (const formats::individual& ind : pop.members)
            for (std::size_t l = 0; l < nloci; ++l)
                for (int g = 0; g < ploidy; ++g) {
                    const int a = ind.genes[l * ploidy + g];
                    if (a >= 0 && number[l][a] < 0)
                        number[l][a] = nalleles[l]++;
                }
    std::vector<std::string> pops, loci;
    for (const formats::population& pop : d.pops)
        pops.push_back(pop.name);
    for (const formats::locus& l : d.loci)
        loci.push_back(l.name);
    counts c = makecounts(std::move(pops), std::move(loci), nalleles);
    for (std::size_t p = 0; p < d.pops.size(); ++p)
        for (const formats::individual& ind : d.pops[p].members)
            for (std::size_t l = 0; l < nloci; ++l)
                for (int g = 0; g < ploidy; ++g) {
                    const int a = ind.genes[l * ploidy + g];
                    if (a >= 0)
                        ++c.at(static_cast<int>(p), static_cast<int>(l))[number[l][a]];
                }
    return c;
}

input readinput(const std::string& file, const formats::readoptions& options)
{
    input in;
    in.file = file;
    const std::string text = slurp(file);
    in.sha256 = sha256(text);
    if (options.format == "vorn" || (options.format.empty() && isnexus(text))) {
        in.format = "vorn";
        in.table = readvorn(text);
        return in;
    }
    try {
        formats::dataset d = formats::readany(text, file, options);
        in.format = d.format;
        in.layout = d.layout;
        in.warnings = d.warnings;
        in.table = tally(d);
    } catch (const formats::inputerror& e) {
        throw readerror(e.line, e.what());
    }
    return in;
}
