// vornconvert: turns a Genepop, STRUCTURE, FSTAT, GenAlEx or Arlequin file,
// or a VCF or BCF file with a population map, into a vorn data file.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "convert/outfile.h"
#include "convert/vornfile.h"
#include "core/escape.h"
#include "formats/choose.h"
#include "formats/dataset.h"
#include "formats/text.h"
#include "formats/vcf.h"

#ifndef VORN_VERSION
#define VORN_VERSION "unknown"
#endif

namespace fs = std::filesystem;
using namespace convert;
using formats::quote;

namespace {

const char* const HELP = R"(Usage: vornconvert [OPTION]... INPUT
Turn a Genepop, STRUCTURE, FSTAT, GenAlEx or Arlequin file, or a VCF or BCF
file, into a vorn data file.

  --format NAME         genepop, structure, fstat, genalex, arlequin or vcf;
                        guessed from the content when not given
  -o, --output OUT      write the vorn data file to OUT (default and '-':
                        standard output)
  --map MAPFILE         write a tab-separated table of locus, allele and
                        symbol, one allele a line
  --loci LIST           write only these loci; --pops LIST: only these
                        populations. LIST: numbers (in the order of the
                        input) or names, separated by commas; ranges such as
                        1-20; '=NAME' for a name that is also a number
  -q, --quiet           no summary line
  --help                show this help and exit
  --version             show the version and exit

STRUCTURE files, named as in STRUCTURE's mainparams (each also read from
--mainparams FILE; an option given here wins over the file):
  --ploidy N            genes per individual and locus (1 or 2 for vorn)
  --onerowperind 0|1    1: the alleles of a locus side by side in one row;
                        0: one row per gene copy
  --missing N           the code of a missing gene (-9 when the file holds
                        -9)
  --label 0|1, --popdata 0|1
                        a label and a population column (default 1 each)
  --popflag 0|1, --locdata 0|1, --phenotype 0|1, --extracols N
                        columns between the population and the loci
                        (--extra-cols N is the same as --extracols N)
  --markernames 0|1     a first row of locus names (found by itself)
  --numloci N           the number of loci
  --mainparams FILE     read these settings from a STRUCTURE mainparams file
A file shows its layout where it can: labels that repeat in pairs are two
rows per individual; a row of locus names fixes the columns of the loci;
-9 among the codes makes 0 an allele. Where it cannot, vornconvert stops
and names the setting it needs. GenAlEx files with one locus may need
--ploidy.

VCF and BCF files (plain, bgzip-compressed or BCF; every site a locus):
  --popmap FILE         samples and their populations, two columns; needed
  --pass-only           only sites whose FILTER is PASS
  -r, --regions LIST    only these regions (chr, chr:from-to), through the
                        index; -R, --regions-file FILE: the regions in a file

INPUT '-' is standard input. A summary line goes to standard error, with
warnings where the data look read the wrong way. Exit status 0 on success,
1 on error. 'man vornconvert' describes each format and the names given to
populations.
)";

struct options {
    std::string format;  // empty: guess
    std::string input;
    std::string output;  // empty or "-": standard output
    std::string map;
    std::string mainparams;
    std::string loci, pops;  // empty: all
    bool quiet = false;
    formats::structureparams params;
    std::vector<std::string> layoutoptions;  // STRUCTURE settings given, as typed
    std::string popmap;
    formats::vcfoptions vcf;
};

struct usageerror {
    std::string what;
};

options parseargs(int argc, char** argv)
{
    options opt;
    std::vector<std::string> args(argv + 1, argv + argc);
    bool inputgiven = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        std::optional<std::string> inlined;
        if (arg.starts_with("--") && arg.find('=') != std::string::npos) {
            inlined = arg.substr(arg.find('=') + 1);
            arg = arg.substr(0, arg.find('='));
        }
        auto value = [&]() -> std::string {
            if (inlined)
                return *inlined;
            if (i + 1 >= args.size())
                throw usageerror{"option " + arg + " needs a value"};
            return args[++i];
        };
        const std::string key = arg == "--extra-cols" ? "extracols" : arg.size() > 2 ? arg.substr(2) : "";

        if (arg == "--help") {
            std::cout << HELP;
            std::exit(0);
        } else if (arg == "--version") {
            std::cout << "vornconvert " VORN_VERSION "\n";
            std::exit(0);
        } else if (arg == "--format") {
            opt.format = value();
            if (std::find(formats::FORMATS.begin(), formats::FORMATS.end(), opt.format) ==
                    formats::FORMATS.end() &&
                opt.format != "vcf")
                throw usageerror{
                    "--format must be genepop, structure, fstat, genalex, arlequin or vcf, not " +
                    quote(opt.format)};
        } else if (arg == "-o" || arg == "--output" || arg == "--map") {
            (arg == "--map" ? opt.map : opt.output) = value();
            if ((arg == "--map" ? opt.map : opt.output).empty())
                throw usageerror{"option " + arg + " needs a file name, not ''"};
        } else if (arg == "--loci") {
            opt.loci = value();
        } else if (arg == "--pops") {
            opt.pops = value();
        } else if (arg == "-q" || arg == "--quiet") {
            opt.quiet = true;
        } else if (arg == "--popmap") {
            opt.popmap = value();
        } else if (arg == "--pass-only") {
            opt.vcf.passonly = true;
        } else if (arg == "-r" || arg == "--regions") {
            opt.vcf.regions = value();
        } else if (arg == "-R" || arg == "--regions-file") {
            opt.vcf.regionsfile = value();
        } else if (arg == "--mainparams") {
            opt.mainparams = value();
        } else if (arg.starts_with("--") && formats::knownparam(key)) {
            const std::string v = value();
            if (const std::string why = formats::setparam(opt.params, key, v, false); !why.empty())
                throw usageerror{arg + ": " + why};
            opt.layoutoptions.push_back(arg);
        } else if (arg.size() > 1 && arg[0] == '-' && arg != "-") {
            throw usageerror{"unknown option " + quote(arg)};
        } else if (inputgiven) {
            throw usageerror{"only one INPUT file can be given; " + quote(arg) + " is a second"};
        } else {
            opt.input = arg;
            inputgiven = true;
        }
    }
    if (!inputgiven)
        throw usageerror{"no INPUT file given"};
    if (opt.output.empty())
        opt.output = "-";
    return opt;
}

// The input file, open; "-" is standard input.
struct infile {
    std::FILE* f = stdin;
    explicit infile(const std::string& name)
    {
        if (name == "-")
            return;
        std::error_code ec;
        if (fs::is_directory(name, ec))
            throw fileerror{"cannot read " + quote(name) + ": it is a directory"};
        f = std::fopen(name.c_str(), "rb");
        if (f == nullptr)
            throw fileerror{"cannot open " + quote(name) + ": " + std::strerror(errno)};
    }
    infile(const infile&) = delete;
    infile& operator=(const infile&) = delete;
    ~infile()
    {
        if (f != stdin)
            std::fclose(f);
    }
};

// The whole text of a small file: a mainparams file.
std::string slurp(const std::string& name)
{
    const infile in(name);
    formats::input text(in.f);
    try {
        return std::string(text.whole());
    } catch (formats::inputerror& e) {
        e.file = name;
        throw;
    }
}

// Whether two names given on the command line are one file, existing or not.
bool samefile(const std::string& a, const std::string& b)
{
    if (a == "-" || b == "-" || a.empty() || b.empty())
        return false;
    std::error_code ec;
    if (fs::equivalent(a, b, ec))
        return true;
    const fs::path ca = fs::weakly_canonical(a, ec);
    if (ec)
        return false;
    const fs::path cb = fs::weakly_canonical(b, ec);
    return !ec && ca == cb;
}

// formats::choose, its complaint as a fileerror.
std::vector<std::size_t> choose(const std::string& list, const std::vector<std::string>& names,
                                const std::string& option, const std::string& what)
{
    try {
        return formats::choose(list, names, option, what);
    } catch (const std::invalid_argument& e) {
        throw fileerror{e.what()};
    }
}

std::vector<std::size_t> everything(std::size_t n)
{
    std::vector<std::size_t> out(n);
    for (std::size_t i = 0; i < n; ++i)
        out[i] = i;
    return out;
}

std::string formatname(const std::string& format)
{
    static const char* const shown[] = {"Genepop", "STRUCTURE", "FSTAT", "GenAlEx", "Arlequin"};
    for (std::size_t f = 0; f < formats::FORMATS.size(); ++f)
        if (formats::FORMATS[f] == format)
            return shown[f];
    return format;
}

// Whether the input goes to htslib: by --format vcf, or by the first bytes
// of a regular file (a pipe would lose them).
bool isvcf(const options& opt)
{
    if (opt.format == "vcf")
        return true;
    std::error_code ec;
    if (!opt.format.empty() || opt.input == "-" || !fs::is_regular_file(opt.input, ec))
        return false;
    char head[16] = {};
    std::FILE* f = std::fopen(opt.input.c_str(), "rb");
    const std::size_t n = f == nullptr ? 0 : std::fread(head, 1, sizeof head, f);
    if (f != nullptr)
        std::fclose(f);
    return formats::looksvcf(std::string_view(head, n));
}

formats::dataset readvcf(const options& opt)
{
    if (!opt.layoutoptions.empty() || !opt.mainparams.empty())
        throw fileerror{
            (opt.layoutoptions.empty() ? std::string("--mainparams") : opt.layoutoptions.front()) +
            " applies to STRUCTURE files only, and " + quote(opt.input) + " is read as VCF"};
    if (opt.popmap.empty())
        throw fileerror{quote(opt.input) + ": a VCF or BCF file needs --popmap FILE: two columns, sample and "
                                           "population"};
#ifdef VORN_VCF
    formats::popmap map;
    try {
        map = formats::readpopmap(slurp(opt.popmap));
    } catch (formats::inputerror& e) {
        e.file = opt.popmap;
        throw;
    }
    return formats::readvcfdataset(opt.input, map, opt.vcf);
#else
    throw fileerror{quote(opt.input) +
                    " is a VCF or BCF file, and this vornconvert was built without htslib: "
                    "install it (apt-get install libhts-dev) and build vornconvert again"};
#endif
}

// The other formats, read as the reader reaches them; a Genepop file is
// never held whole.
formats::dataset readother(const options& opt, const std::string& shown)
{
    if (!opt.popmap.empty() || opt.vcf.passonly || !opt.vcf.regions.empty() || !opt.vcf.regionsfile.empty())
        throw fileerror{"--popmap, --pass-only, -r and -R apply to VCF and BCF files only, and " +
                        quote(shown) + " is not one"};
    const infile file(opt.input);
    formats::input text(file.f);
    formats::readoptions how;
    how.format = opt.format.empty() ? formats::guessformat(text) : opt.format;
    how.structure = opt.params;
    if (how.format != "structure" && !how.format.empty()) {
        std::vector<std::string> misplaced = opt.layoutoptions;
        if (!opt.mainparams.empty())
            misplaced.push_back("--mainparams");
        if (how.format == "genalex")
            std::erase(misplaced, "--ploidy");
        if (!misplaced.empty())
            throw fileerror{misplaced.front() + " applies to STRUCTURE files only, and " + quote(shown) +
                            " is read as " + formatname(how.format)};
    }
    if (!opt.mainparams.empty())
        formats::readmainparams(slurp(opt.mainparams), opt.mainparams, how.structure);
    return formats::readany(text, shown, how);
}

// One line: what was read, and what was written where.
std::string summary(const formats::dataset& data, const selection& chosen, const std::string& written)
{
    const auto ploidy = static_cast<std::size_t>(data.ploidy);
    std::size_t individuals = 0, genotypes = 0, missing = 0;
    std::vector<char> haploid(data.loci.size(), ploidy == 2);
    for (const formats::population& p : data.pops)
        for (const formats::individual& ind : p.members) {
            ++individuals;
            for (std::size_t l = 0; l < data.loci.size(); ++l) {
                ++genotypes;
                bool gap = false;
                for (std::size_t g = 0; g < ploidy; ++g)
                    gap = gap || ind.genes[l * ploidy + g] == formats::MISSING;
                missing += gap ? 1 : 0;
                if (ploidy == 2 && ind.genes[l * 2 + 1] != formats::ABSENT)
                    haploid[l] = 0;
            }
        }
    const auto nhaploid = static_cast<std::size_t>(std::count(haploid.begin(), haploid.end(), 1));
    std::string kind = ploidy == 1 ? "haploid" : ploidy == 2 ? "diploid" : "ploidy " + formats::num(ploidy);
    if (nhaploid > 0)
        kind += " (" + formats::count(nhaploid, "haploid locus", "haploid loci") + ")";

    std::string line = formats::count(data.pops.size(), "population", "populations") + ", " +
                       formats::count(individuals, "individual", "individuals") + ", " +
                       formats::count(data.loci.size(), "locus", "loci") + ", " + kind + ", " +
                       formats::num(missing) + " of " + formats::count(genotypes, "genotype", "genotypes") +
                       " missing or partly missing; wrote ";
    if (chosen.pops.size() != data.pops.size() || chosen.loci.size() != data.loci.size()) {
        std::size_t kept = 0;
        for (const std::size_t p : chosen.pops)
            kept += data.pops[p].members.size();
        line += formats::count(chosen.pops.size(), "population", "populations") + ", " +
                formats::count(kept, "individual", "individuals") + ", " +
                formats::count(chosen.loci.size(), "locus", "loci") + " to ";
    }
    return data.format + " (" + data.layout + "): " + line + written;
}

int run(const options& opt)
{
    const std::string shown = opt.input == "-" ? "(standard input)" : opt.input;
    try {
        for (const std::string& in : {opt.input, opt.mainparams})
            if (samefile(opt.output, in) || samefile(opt.map, in))
                throw fileerror{"will not write over the input file " + quote(in)};
        // Where the outputs go is settled before anything is read.
        const std::string apart = "--map needs a file of its own, apart from the output";
        if (opt.map == "-")
            throw fileerror{apart};
        std::optional<outfile> output, map;
        if (opt.output != "-")
            output.emplace(opt.output);
        if (!opt.map.empty())
            map.emplace(opt.map);
        if (map && (output ? map->same(*output) : map->isstdout()))
            throw fileerror{apart};

        const formats::dataset data = isvcf(opt) ? readvcf(opt) : readother(opt, shown);
        constexpr std::size_t shownwarnings = 10;
        for (std::size_t i = 0; i < data.warnings.size() && i < shownwarnings; ++i) {
            std::cerr << "vornconvert: " << escaped(shown);
            if (data.warnings[i].line > 0)
                std::cerr << ':' << data.warnings[i].line;
            std::cerr << ": warning: " << data.warnings[i].text << '\n';
        }
        if (data.warnings.size() > shownwarnings)
            std::cerr << "vornconvert: " << escaped(shown) << ": " << data.warnings.size() - shownwarnings
                      << " more warnings like these\n";

        std::vector<std::string> locusnames, popnames;
        for (const auto& l : data.loci)
            locusnames.push_back(l.name);
        for (const auto& p : data.pops)
            popnames.push_back(p.name);
        selection chosen;
        chosen.loci = opt.loci.empty() ? everything(locusnames.size())
                                       : choose(opt.loci, locusnames, "--loci", "locus");
        chosen.pops = opt.pops.empty() ? everything(popnames.size())
                                       : choose(opt.pops, popnames, "--pops", "population");

        const vornplan p = plan(data, chosen);

        // Both files are whole and on disk before either takes its name; the
        // map takes its name only once the data are on standard output.
        if (output)
            output->write(vorntext(data, chosen, p));
        if (map)
            map->write(maptext(data, chosen, p));
        if (!output && !(std::cout << vorntext(data, chosen, p) << std::flush))
            throw fileerror{"cannot write to standard output"};
        // What is written in place goes first: it can fail part way, where a
        // rename hardly can.
        for (const bool inplace : {true, false}) {
            if (map && map->inplace() == inplace)
                map->commit();
            if (output && output->inplace() == inplace)
                output->commit();
        }
        if (!opt.quiet)
            std::cerr << "vornconvert: " << escaped(shown) << ": "
                      << summary(data, chosen, opt.output == "-" ? "standard output" : escaped(opt.output))
                      << '\n';
        return 0;
    } catch (const formats::inputerror& e) {
        std::cerr << "vornconvert: " << escaped(e.file.empty() ? shown : e.file);
        if (e.line > 0)
            std::cerr << ':' << e.line;
        std::cerr << ": " << e.what() << '\n';
    } catch (const fileerror& e) {
        std::cerr << "vornconvert: " << e.what << '\n';
    } catch (const std::bad_alloc&) {
        std::cerr << "vornconvert: " << escaped(shown) << ": out of memory\n";
    } catch (const std::exception& e) {
        std::cerr << "vornconvert: " << escaped(shown) << ": " << e.what() << '\n';
    }
    return 1;
}

}  // namespace

int main(int argc, char** argv)
{
    options opt;
    try {
        opt = parseargs(argc, argv);
    } catch (const usageerror& e) {
        std::cerr << "vornconvert: " << e.what << "\nTry 'vornconvert --help' for more information.\n";
        return 1;
    }
    return run(opt);
}
