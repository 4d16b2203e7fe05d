// vornstat: the batch analysis program. Reads vorn data files and every
// format the readers know, and writes theta with its intervals, a test of no
// differentiation, and estimates per locus, per population and per pair.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

#include "core/escape.h"
#include "formats/dataset.h"
#include "stat/analysis.h"
#include "stat/input.h"
#include "stat/plot.h"
#include "stat/report.h"
#include "stat/windows.h"

namespace {

const char* const HELP = R"(Usage: vornstat [OPTION]... FILE...
Estimate the gene-flow parameter theta (F_ST = 1/(1 + theta)) of each FILE
by maximum likelihood, with its intervals and a test of no differentiation.
FILE is a vorn data file, a Genepop, STRUCTURE, FSTAT, GenAlEx or
Arlequin file, a VCF or BCF file, or a count file; '-' is standard input.

Analyses (the global estimate, its intervals and the test are always given):
  --level X             level of every interval (default 0.95)
  --per-locus           each locus alone, against the pooled frequencies
  --per-pop             each population alone, against the pooled frequencies
  --pairwise            each pair of populations, frequencies pooled over the pair
  --matrix              the F_ST matrix of the pairs (implies --pairwise)
  --bootstrap N         percentile interval over N replicates resampling loci
  --seed S              seed of the bootstrap (default 1)
  --window BP           each window of BP bases along each chromosome (VCF,
                        BCF and count files)
  --step BP             windows start every BP bases (default: the width)

Output (default: aligned tables for reading):
  --tsv                 one header row, then one row per estimate
  --json                one JSON document for the whole run
  --plot DIR            also draw SVG plots of each input into DIR: the profile
                        log-likelihood; the loci, the pairs and the scan
                        with --per-locus, --pairwise and --window

Input:
  --loci LIST           analyse only these loci; --pops LIST: only these
                        populations. LIST: numbers (in the order of the
                        input) or names, separated by commas; ranges such as
                        1-20; '=NAME' for a name that is also a number
  --format NAME         vorn, genepop, structure, fstat, genalex or arlequin;
                        guessed from the content when not given
  STRUCTURE settings as vornconvert takes them: --ploidy N, --onerowperind
  0|1, --missing N, --label 0|1, --popdata 0|1, --popflag 0|1, --locdata
  0|1, --phenotype 0|1, --extracols N, --markernames 0|1, --numloci N,
  --mainparams FILE

VCF and BCF files (plain, bgzip-compressed or BCF; every site a locus):
  --popmap FILE         samples and their populations, two columns; needed
  --pass-only           only sites whose FILTER is PASS
  -r, --regions LIST    only these regions (chr, chr:from-to), through the
                        index; a site belongs to the region its POS lies in
  -R, --regions-file FILE  the regions, one a line, as bcftools reads them
  --threads N           N more threads to decompress
  --save-counts FILE    write the count table; count files named together
                        on one command line are analysed as one table

  --help                show this help and exit
  --version             show the version and exit

Exit status 0 when every file was analysed, 1 when a file could not be read
(the others are still analysed), 2 on a usage error. 'man vornstat' tells
what each column means.
)";

struct options {
    settings s;
    bool tsv = false, json = false, matrix = false;
    std::string plotdir;  // --plot: where the SVG plots go
    formats::readoptions read;
    std::string mainparams;
    std::string loci, pops;  // --loci and --pops; empty: all
    genomeoptions genome;
    std::string popmap, savecounts;
    std::int64_t window = 0, step = 0;  // 0: no windows
    std::vector<std::string> files;
    std::string asjson;  // the options as a JSON object
};

struct usageerror {
    std::string what;
};

double number(const std::string& opt, const std::string& text)
{
    char* stop = nullptr;
    const double x = std::strtod(text.c_str(), &stop);
    if (text.empty() || *stop != '\0')
        throw usageerror{opt + " needs a number, not '" + text + "'"};
    return x;
}

options parseargs(int argc, char** argv)
{
    options o;
    std::vector<std::string> args(argv + 1, argv + argc);
    std::ostringstream given;
    bool seedgiven = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        std::string value;
        bool hasvalue = false;
        if (arg.starts_with("--") && arg.find('=') != std::string::npos) {
            value = arg.substr(arg.find('=') + 1);
            arg = arg.substr(0, arg.find('='));
            hasvalue = true;
        }
        auto next = [&]() {
            if (hasvalue)
                return value;
            if (i + 1 >= args.size())
                throw usageerror{arg + " needs a value"};
            return args[++i];
        };
        if (arg == "--help") {
            std::cout << HELP;
            std::exit(0);
        } else if (arg == "--version") {
            std::cout << "vornstat " << VORN_VERSION << '\n';
            std::exit(0);
        } else if (arg == "--level") {
            o.s.level = number(arg, next());
            if (!(o.s.level > 0.0 && o.s.level < 1.0))
                throw usageerror{"--level must lie between 0 and 1"};
        } else if (arg == "--per-locus") {
            o.s.perlocus = true;
        } else if (arg == "--per-pop") {
            o.s.perpop = true;
        } else if (arg == "--pairwise") {
            o.s.pairwise = true;
        } else if (arg == "--matrix") {
            o.matrix = o.s.pairwise = true;
        } else if (arg == "--bootstrap") {
            const double n = number(arg, next());
            if (n < 1 || n > 1e7 || n != static_cast<int>(n))
                throw usageerror{"--bootstrap needs a whole number of replicates from 1 to 10000000"};
            o.s.bootstrap = static_cast<int>(n);
        } else if (arg == "--seed") {
            const std::string v = next();
            char* stop = nullptr;
            o.s.seed = std::strtoull(v.c_str(), &stop, 10);
            if (v.empty() || *stop != '\0' || v[0] == '-')
                throw usageerror{"--seed needs a whole number, not '" + v + "'"};
            seedgiven = true;
        } else if (arg == "--tsv") {
            o.tsv = true;
        } else if (arg == "--json") {
            o.json = true;
        } else if (arg == "--plot") {
            o.plotdir = next();
            if (o.plotdir.empty())
                throw usageerror{"--plot needs a folder"};
        } else if (arg == "--format") {
            o.read.format = next();
            bool known = o.read.format == "vorn" || o.read.format == "vcf";
            for (const std::string_view f : formats::FORMATS)
                known = known || f == o.read.format;
            if (!known)
                throw usageerror{
                    "--format must be vorn, vcf, genepop, structure, fstat, genalex or arlequin, not '" +
                    o.read.format + "'"};
        } else if (arg == "--loci") {
            o.loci = next();
        } else if (arg == "--pops") {
            o.pops = next();
        } else if (arg == "--popmap") {
            o.popmap = next();
        } else if (arg == "--pass-only") {
            o.genome.vcf.passonly = true;
        } else if (arg == "-r" || arg == "--regions") {
            o.genome.vcf.regions = next();
        } else if (arg == "-R" || arg == "--regions-file") {
            o.genome.vcf.regionsfile = next();
        } else if (arg == "--threads") {
            const double n = number(arg, next());
            if (n < 0 || n > 1024 || n != static_cast<int>(n))
                throw usageerror{"--threads needs a whole number from 0 to 1024"};
            o.genome.vcf.threads = static_cast<int>(n);
        } else if (arg == "--window" || arg == "--step") {
            const double n = number(arg, next());
            if (n < 1 || n > 1e15 || n != static_cast<double>(static_cast<std::int64_t>(n)))
                throw usageerror{arg + " needs a whole number of bases from 1"};
            (arg == "--window" ? o.window : o.step) = static_cast<std::int64_t>(n);
        } else if (arg == "--save-counts") {
            o.savecounts = next();
        } else if (arg == "--mainparams") {
            o.mainparams = next();
        } else if (arg.starts_with("--") && formats::knownparam(arg.substr(2))) {
            const std::string v = next();
            const std::string why = formats::setparam(o.read.structure, arg.substr(2), v, false);
            if (!why.empty())
                throw usageerror{arg + ": " + why};
            given << ", " << jsonstring(arg.substr(2)) << ": " << jsonstring(v);
        } else if (arg.starts_with("-") && arg != "-") {
            throw usageerror{"unknown option " + arg + " (vornstat --help lists them)"};
        } else {
            o.files.push_back(arg);
        }
    }
    if (o.files.empty())
        throw usageerror{"no input file (vornstat --help)"};
    if (o.tsv && o.json)
        throw usageerror{"--tsv and --json: choose one"};
    if (o.matrix && (o.tsv || o.json))
        throw usageerror{"--matrix writes the matrix alone: leave out --tsv and --json"};
    if (seedgiven && o.s.bootstrap == 0)
        throw usageerror{"--seed is for --bootstrap"};
    if (o.step > 0 && o.window == 0)
        throw usageerror{"--step is for --window"};
    if (o.step == 0)
        o.step = o.window;
    if (!o.genome.vcf.regions.empty() && !o.genome.vcf.regionsfile.empty())
        throw usageerror{"-r and -R: choose one"};
    const formats::vcfoptions& v = o.genome.vcf;
    if (!VCFREADER && (!o.popmap.empty() || v.passonly || !v.regions.empty() || !v.regionsfile.empty()))
        throw usageerror{"this vornstat was built without htslib and reads no VCF or BCF file: install it "
                         "(apt-get install libhts-dev) and build vornstat again"};
    o.genome.hash = o.json;

    std::ostringstream j;
    j << "{\"level\": " << doubletext(o.s.level) << ", \"per_locus\": " << (o.s.perlocus ? "true" : "false")
      << ", \"per_pop\": " << (o.s.perpop ? "true" : "false")
      << ", \"pairwise\": " << (o.s.pairwise ? "true" : "false") << ", \"bootstrap\": " << o.s.bootstrap
      << ", \"seed\": " << o.s.seed << ", \"format\": " << jsonstring(o.read.format)
      << ", \"loci\": " << jsonstring(o.loci) << ", \"pops\": " << jsonstring(o.pops)
      << ", \"mainparams\": " << jsonstring(o.mainparams) << ", \"popmap\": " << jsonstring(o.popmap)
      << ", \"pass_only\": " << (v.passonly ? "true" : "false") << ", \"regions\": " << jsonstring(v.regions)
      << ", \"regions_file\": " << jsonstring(v.regionsfile) << ", \"window\": " << o.window
      << ", \"step\": " << o.step << ", \"plot\": " << jsonstring(o.plotdir) << given.str() << "}";
    o.asjson = j.str();
    return o;
}

// The count table of an input, written whole under a temporary name and then
// renamed, so that a job stopped half way leaves no count file behind.
void savecounts(const std::string& file, const input& in)
{
    const std::string temp = file + ".tmp" + std::to_string(getpid());
    {
        std::ofstream out(temp, std::ios::binary);
        try {
            writecounts(out, {in.table, in.where, in.passonly});
        } catch (const std::invalid_argument& e) {
            std::remove(temp.c_str());
            throw readerror(0, std::string("--save-counts: ") + e.what());
        }
        out.close();
        if (!out) {
            std::remove(temp.c_str());
            readerror e(0, "could not write the count file");
            e.file = file;
            throw e;
        }
    }
    if (std::rename(temp.c_str(), file.c_str()) != 0) {
        std::remove(temp.c_str());
        readerror e(0, "could not write the count file");
        e.file = file;
        throw e;
    }
}

std::string slurpfile(const std::string& file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in)
        throw readerror(0, "could not open the file");
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace

int main(int argc, char** argv)
{
    options o;
    try {
        o = parseargs(argc, argv);
        if (!o.mainparams.empty()) {
            try {
                formats::readmainparams(slurpfile(o.mainparams), o.mainparams, o.read.structure);
            } catch (const readerror& e) {
                std::cerr << "vornstat: " << escaped(o.mainparams) << ": " << e.what() << '\n';
                return 2;
            } catch (const formats::inputerror& e) {
                std::cerr << "vornstat: " << escaped(o.mainparams) << ':' << e.line << ": " << e.what()
                          << '\n';
                return 2;
            }
        }
        if (!o.popmap.empty()) {
            try {
                o.genome.map = loadpopmap(slurpfile(o.popmap));
            } catch (const readerror& e) {
                std::cerr << "vornstat: " << escaped(o.popmap) << ": " << e.what() << '\n';
                return 2;
            } catch (const formats::inputerror& e) {
                std::cerr << "vornstat: " << escaped(o.popmap) << ':'
                          << (e.line > 0 ? std::to_string(e.line) + ":" : "") << ' ' << e.what() << '\n';
                return 2;
            }
        }
    } catch (const usageerror& e) {
        std::cerr << "vornstat: " << escaped(e.what) << '\n';
        return 2;
    }

    // Count files named on the command line are one table, read where the
    // first of them stands.
    std::vector<std::vector<std::string>> inputs;
    std::size_t countfiles = o.files.size();
    for (const std::string& file : o.files) {
        if (file == "-" || !iscountfilenamed(file)) {
            inputs.push_back({file});
        } else if (countfiles == o.files.size()) {
            countfiles = inputs.size();
            inputs.push_back({file});
        } else {
            inputs[countfiles].push_back(file);
        }
    }
    if (!o.savecounts.empty() && inputs.size() > 1) {
        std::cerr << "vornstat: --save-counts writes the table of one input: give one file (or the count "
                     "files of one table)\n";
        return 2;
    }

    std::vector<analysed> done;
    std::vector<failedinput> failed;
    bool header = false;
    std::set<std::string> stems;  // of the plot files written so far
    bool plotfailed = false;
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        const std::vector<std::string>& named = inputs[i];
        analysed a;
        std::string file = named.front();
        try {
            if (i == countfiles)
                a.in = readcountfiles(named, o.genome.hash);
            else
                a.in = readinput(file, o.read, {o.loci, o.pops}, o.genome);
            file = a.in.file;
            if (o.window > 0 && a.in.where.chrom.size() != static_cast<std::size_t>(a.in.table.nloci()))
                throw readerror(0, "--window needs the positions of the sites: a VCF or BCF file, or count "
                                   "files saved from one");
            if (o.window > 0 && windowcount(a.in.where, o.window, o.step) > MAXWINDOWS)
                throw readerror(0, "--window " + std::to_string(o.window) + " --step " +
                                       std::to_string(o.step) + " gives more than " +
                                       std::to_string(MAXWINDOWS) +
                                       " windows over these positions: choose a larger step");
            if (!o.savecounts.empty())
                savecounts(o.savecounts, a.in);
        } catch (const readerror& e) {
            const std::string& at = e.file.empty() ? file : e.file;
            std::cerr << "vornstat: " << escaped(at) << ':';
            if (e.line > 0)
                std::cerr << e.line << ':';
            std::cerr << ' ' << e.what() << '\n';
            failed.push_back({at, e.line, e.what()});
            continue;
        }
        for (const formats::warning& w : a.in.warnings)
            std::cerr << "vornstat: " << escaped(file) << ':'
                      << (w.line > 0 ? std::to_string(w.line) + ":" : "") << " warning: " << w.text << '\n';
        // A progress line on a terminal, once the work has taken a second.
        const auto start = std::chrono::steady_clock::now();
        bool shown = false;
        if (isatty(STDERR_FILENO))
            o.s.progress = [&](std::size_t done, std::size_t total) {
                if (std::chrono::steady_clock::now() - start < std::chrono::seconds(1))
                    return;
                std::cerr << "\rvornstat: " << escaped(file) << ": " << done << " of " << total
                          << " estimates";
                shown = true;
            };
        a.results = analyse(a.in.table, o.s);
        if (o.window > 0) {
            hugevector<result> w = windows(a.in.table, a.in.where, o.window, o.step, o.s);
            a.results.insert(a.results.end(), std::make_move_iterator(w.begin()),
                             std::make_move_iterator(w.end()));
        }
        if (shown)
            std::cerr << '\n';
        if (!o.plotdir.empty()) {
            const std::string why = writeplots(o.plotdir, plotstem(file, stems), a, o.s);
            if (!why.empty()) {
                std::cerr << "vornstat: " << why << '\n';
                plotfailed = true;
            }
        }
        if (o.json) {
            done.push_back(std::move(a));
            continue;
        }
        if (o.matrix) {
            if (header)
                std::cout << '\n';
            writematrix(std::cout, a);
        } else if (o.tsv) {
            if (!header)
                std::cout << TSVHEADER << '\n';
            writetsvrows(std::cout, a);
        } else {
            if (header)
                std::cout << '\n';
            writetext(std::cout, a, o.s);
        }
        header = true;
        std::cout.flush();
    }
    if (o.json)
        writejson(std::cout, done, failed, o.s, o.asjson);
    std::cout.flush();
    return failed.empty() && !plotfailed && std::cout ? 0 : 1;
}
