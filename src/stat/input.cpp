#include "stat/input.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <sstream>
#include <unordered_map>

#include "core/failure.h"
#include "formats/choose.h"
#include "formats/text.h"
#include "formats/vorndata.h"
#include "stat/sha256.h"

#ifdef VORN_VCF
const bool VCFREADER = true;
#else
const bool VCFREADER = false;
#endif

namespace {

// The whole file, read in large pieces; any failed read is an error, never
// an end of the input.
std::string slurp(const std::string& file)
{
    std::FILE* f = file == "-" ? stdin : std::fopen(file.c_str(), "rb");
    if (f == nullptr)
        throw readerror(0, "could not open the file");
    std::string text;
    std::size_t held = 0;
    for (;;) {
        text.resize(held + (std::size_t{1} << 20) + held / 2);
        const std::size_t got = std::fread(text.data() + held, 1, text.size() - held, f);
        held += got;
        if (got == 0 || std::ferror(f))
            break;
    }
    const bool failed = std::ferror(f) != 0;
    if (f != stdin)
        std::fclose(f);
    if (failed)
        throw readerror(0, file == "-" ? "could not read standard input" : "could not read the file");
    text.resize(held);
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
    for (const formats::population& pop : d.pops) {
        if (pop.members.size() > static_cast<std::size_t>(MAXCOUNT / std::max(ploidy, 1)))
            throw readerror(0, "population " + formats::quote(pop.name) + " has more than " +
                                   std::to_string(MAXCOUNT) + " genes at a locus");
        pops.push_back(pop.name);
    }
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

counts select(const counts& c, const std::vector<std::size_t>& loci, const std::vector<std::size_t>& pops)
{
    std::vector<std::string> popnames, locusnames;
    std::vector<std::vector<int>> kept(loci.size());
    std::vector<int> nalleles;
    for (const std::size_t p : pops)
        popnames.push_back(c.popnames[p]);
    for (std::size_t j = 0; j < loci.size(); ++j) {
        const int l = static_cast<int>(loci[j]);
        locusnames.push_back(c.locusnames[l]);
        for (int k = 0; k < c.nalleles[l]; ++k) {
            std::int64_t n = 0;
            for (const std::size_t p : pops)
                n += c.at(static_cast<int>(p), l)[k];
            if (n > 0)
                kept[j].push_back(k);
        }
        nalleles.push_back(static_cast<int>(kept[j].size()));
    }
    counts out = makecounts(std::move(popnames), std::move(locusnames), nalleles);
    for (std::size_t i = 0; i < pops.size(); ++i)
        for (std::size_t j = 0; j < loci.size(); ++j)
            for (std::size_t k = 0; k < kept[j].size(); ++k)
                out.at(static_cast<int>(i), static_cast<int>(j))[k] =
                    c.at(static_cast<int>(pops[i]), static_cast<int>(loci[j]))[kept[j][k]];
    return out;
}

namespace {

// The entries a LIST chooses; all when it is empty.
std::vector<std::size_t> pick(const std::string& list, const std::vector<std::string>& names,
                              const std::string& option, const std::string& what)
{
    if (list.empty()) {
        std::vector<std::size_t> all(names.size());
        for (std::size_t i = 0; i < all.size(); ++i)
            all[i] = i;
        return all;
    }
    try {
        return formats::choose(list, names, option, what);
    } catch (const std::invalid_argument& e) {
        throw readerror(0, e.what());
    }
}

// The data set with only the chosen loci and populations.
formats::dataset select(formats::dataset d, const choice& chosen)
{
    std::vector<std::string> names;
    for (const formats::locus& l : d.loci)
        names.push_back(l.name);
    const std::vector<std::size_t> loci = pick(chosen.loci, names, "--loci", "locus");
    names.clear();
    for (const formats::population& p : d.pops)
        names.push_back(p.name);
    const std::vector<std::size_t> pops = pick(chosen.pops, names, "--pops", "population");

    formats::dataset out;
    out.format = d.format;
    out.layout = d.layout;
    out.ploidy = d.ploidy;
    out.warnings = d.warnings;
    for (const std::size_t l : loci)
        out.loci.push_back(std::move(d.loci[l]));
    for (const std::size_t p : pops) {
        formats::population& pop = d.pops[p];
        for (formats::individual& ind : pop.members) {
            std::vector<int> genes;
            for (const std::size_t l : loci)
                for (int g = 0; g < d.ploidy; ++g)
                    genes.push_back(ind.genes[l * d.ploidy + g]);
            ind.genes = std::move(genes);
        }
        out.pops.push_back(std::move(pop));
    }
    return out;
}

}  // namespace

namespace {

// The first bytes of a regular file; empty for anything else (a pipe would
// lose them) or when it cannot be read.
std::string head(const std::string& file)
{
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec))
        return {};
    std::ifstream in(file, std::ios::binary);
    std::string h(32, '\0');
    in.read(h.data(), static_cast<std::streamsize>(h.size()));
    h.resize(static_cast<std::size_t>(in.gcount()));
    return h;
}

// A vorn data file read as vorn reads it, a block at a time, never held
// whole. On a failure the file is read again up to where it was found, to
// name the line.
counts readvornfile(const std::string& file)
{
    std::FILE* f = std::fopen(file.c_str(), "rb");
    if (f == nullptr)
        throw readerror(0, "could not open the file");
    std::vector<unsigned char> buf(1 << 16);
    source in;
    in.file = f;
    in.buf = buf.data();
    in.cap = buf.size();
    in.name = file.c_str();
    auto record = std::make_unique<datastr>();
    try {
        readdata(in, "", record.get());
    } catch (const failure& e) {
        std::fclose(f);
        std::string message = e.what();
        if (!message.empty() && message.front() == '\n')
            message.erase(0, 1);
        long long upto = e.offset - 1;  // the byte that ended a word may be the line break after it
        int line = 1;
        if (std::FILE* again = std::fopen(file.c_str(), "rb")) {
            for (int c; upto > 0 && (c = std::getc(again)) != EOF; --upto)
                line += c == '\n';
            std::fclose(again);
        }
        throw readerror(line, message);
    }
    std::fclose(f);
    return fromrecord(*record);
}

input readvcf(const std::string& file, const choice& chosen, const genomeoptions& g)
{
#ifndef VORN_VCF
    (void)file, (void)chosen, (void)g;
    throw readerror(0, "a VCF or BCF file, and this vornstat was built without htslib: install it "
                       "(apt-get install libhts-dev) and build vornstat again");
#else
    if (!chosen.loci.empty() || !chosen.pops.empty())
        throw readerror(0, "--loci and --pops choose from the other formats: for a VCF or BCF file, name "
                           "only the wanted populations in --popmap, and choose sites with -r or -R");
    if (g.map.samples.empty())
        throw readerror(0, "a VCF or BCF file needs --popmap FILE: two columns, sample and population");
    input in;
    in.file = file;
    in.passonly = g.vcf.passonly;
    counts& c = in.table;
    c.popnames = g.map.pops;
    positions& w = in.where;
    std::unordered_map<std::string, int> chromno;
    std::string chrom;
    int ch = -1;
    const auto each = [&](const formats::vcfsite& s) {
        if (s.chrom != chrom) {
            chrom = s.chrom;
            const auto [it, fresh] = chromno.try_emplace(chrom, static_cast<int>(w.chroms.size()));
            if (fresh)
                w.chroms.push_back(chrom);
            ch = it->second;
        }
        w.chrom.push_back(ch);
        w.pos.push_back(s.pos);
        c.addlocus(chrom + ":" + std::to_string(s.pos), static_cast<int>(s.allele.size()), s.n.data());
    };
    try {
        const formats::vcfstats st = formats::readvcf(file, g.map, g.vcf, false, each);
        in.format = st.format;
        in.layout = formats::vcflayout(st, g.map.pops.size());
        // The table grew by doubling: give back the room it did not fill.
        c.n.shrink_to_fit();
        c.offset.shrink_to_fit();
    } catch (const formats::inputerror& e) {
        throw readerror(0, e.what());
    }
    if (g.hash && file != "-")
        in.sha256 = sha256file({file});
    return in;
#endif
}

}  // namespace

formats::popmap loadpopmap(const std::string& text)
{
#ifdef VORN_VCF
    return formats::readpopmap(text);
#else
    (void)text;
    throw formats::inputerror(0,
                              "this vornstat was built without htslib and reads no VCF or BCF file: install "
                              "it (apt-get install libhts-dev) and build vornstat again");
#endif
}

input readcountfiles(const std::vector<std::string>& files, bool hash, std::istream& standard)
{
    countstable t = readcounts(files, standard);
    input in;
    for (const std::string& f : files)
        in.file += (in.file.empty() ? "" : " + ") + f;
    in.format = "count file";
    in.layout = files.size() == 1 ? "" : std::to_string(files.size()) + " count files, one table";
    in.table = std::move(t.table);
    in.where = std::move(t.where);
    in.passonly = t.passonly;
    if (hash)
        in.sha256 = sha256file(files);
    return in;
}

input readinput(const std::string& file, const formats::readoptions& options, const choice& chosen,
                const genomeoptions& genome)
{
    if (options.format == "vcf" || (options.format.empty() && file != "-" && formats::looksvcf(head(file))))
        return readvcf(file, chosen, genome);
    input in;
    in.file = file;
    if (file != "-" && (options.format == "vorn" || (options.format.empty() && isnexus(head(file))))) {
        in.format = "vorn";
        in.table = readvornfile(file);
        if (!chosen.loci.empty() || !chosen.pops.empty()) {
            const counts& c = in.table;
            in.table = select(c, pick(chosen.loci, c.locusnames, "--loci", "locus"),
                              pick(chosen.pops, c.popnames, "--pops", "population"));
        }
        if (genome.hash)
            in.sha256 = sha256file({file});
        return in;
    }
    const std::string text = slurp(file);
    if (options.format.empty() && formats::looksvcf(text))
        throw readerror(
            0, "a VCF or BCF file from standard input or a pipe: add --format vcf, so that htslib reads it");
    if (options.format.empty() && iscountfile(text)) {
        std::istringstream s(text);
        in = readcountfiles({file}, false, s);
        if (genome.hash)
            in.sha256 = sha256(text);
        return in;
    }
    // The digest is for the JSON record; other outputs do not pay for it.
    if (genome.hash)
        in.sha256 = sha256(text);
    if (options.format == "vorn" || (options.format.empty() && isnexus(text))) {
        in.format = "vorn";
        in.table = readvorn(text);
        if (!chosen.loci.empty() || !chosen.pops.empty()) {
            const counts& c = in.table;
            in.table = select(c, pick(chosen.loci, c.locusnames, "--loci", "locus"),
                              pick(chosen.pops, c.popnames, "--pops", "population"));
        }
        return in;
    }
    try {
        formats::dataset d = select(formats::readany(text, file, options), chosen);
        in.format = d.format;
        in.layout = d.layout;
        in.warnings = d.warnings;
        in.table = tally(d);
    } catch (const formats::inputerror& e) {
        throw readerror(e.line, e.what());
    }
    return in;
}
