// vornconvert: turns a Genepop or STRUCTURE file into a vorn data file.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "convert/dataset.h"
#include "convert/vornfile.h"

#ifndef VORN_VERSION
#define VORN_VERSION "unknown"
#endif

namespace fs = std::filesystem;
using namespace convert;

namespace {

const char* const HELP = R"(Usage: vornconvert [OPTION]... INPUT
Turn a Genepop or STRUCTURE file into a vorn data file.

  --format genepop|structure  the kind of INPUT; guessed when not given:
                              a file with a line 'Pop' alone or a comma on
                              any line after the first is Genepop, any other
                              is STRUCTURE
  -o, --output OUT            write the vorn data file to OUT (default and '-':
                              standard output)
  --map MAPFILE               write a tab-separated table of locus, allele
                              code and symbol, one allele a line
  --extra-cols N              STRUCTURE: N columns between the population
                              column and the first locus, skipped (default 0)
  --help                      show this help and exit
  --version                   show the version and exit

INPUT '-' is standard input.

Genepop: a title line; the locus names, one per line or separated by commas;
then populations, each opened by a line 'Pop' (any letter case), one
individual a line as 'name , genotypes'. Genotypes have 2 or 3 digits per
allele; 2 or 3 digits in all is haploid, 4 or 6 is diploid, and every
genotype of the file must have the width of the first. Code 0 is missing.
The name of an individual is the text before the first comma of its line.
A population is named by the text after 'Pop' on its line or, when there is
none, by the name of its first individual, or else pop<n> for the n-th
population.

STRUCTURE: one row per individual, or two consecutive rows with the same
label for diploid data (recognised from the first two rows): a label, a
population number, --extra-cols skipped columns, one allele code per locus.
-9 is missing. A first row with one name per locus gives the locus names,
which are otherwise locus1, locus2, ... Populations are named by their
number and kept in the order in which they first appear; their individuals
keep the order of the file. Not read: files without a label or population
column, diploid data with both alleles on one row, recessive-allele and
map-distance rows, missing-data codes other than -9.

Output: the allele codes of each locus are written as the symbols A-Z then
a-w, the smallest code as A; a missing gene is '?'. Locus names
become one word of at most 38 characters (white space, control characters
and , ; : = become '_'; names that then clash get _2, _3, ...); population
and individual names likewise, of at most 39 characters; an individual
without a name becomes ind<n>, n counting individuals over the file.

Limits: 99 populations, 99 loci, 49 alleles at a locus. A file over any of
them, an empty population or two loci of the same name is refused with the
line at fault and nothing is written. Exit status 0 on success, 1 on error.
)";

struct options {
    std::string format;  // empty: guess
    std::string input;
    std::string output;  // empty or "-": standard output
    std::string map;
    int extracols = 0;
    bool extragiven = false;
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

        if (arg == "--help") {
            std::cout << HELP;
            std::exit(0);
        } else if (arg == "--version") {
            std::cout << "vornconvert " VORN_VERSION "\n";
            std::exit(0);
        } else if (arg == "--format") {
            opt.format = value();
            if (opt.format != "genepop" && opt.format != "structure")
                throw usageerror{"--format must be genepop or structure, not " + quote(opt.format)};
        } else if (arg == "-o" || arg == "--output") {
            opt.output = value();
        } else if (arg == "--map") {
            opt.map = value();
        } else if (arg == "--extra-cols") {
            const std::string v = value();
            if (!digits(v, opt.extracols) || opt.extracols > 1000)
                throw usageerror{"--extra-cols must be a whole number from 0 to 1000, not " + quote(v)};
            opt.extragiven = true;
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

// Thrown for failures that are not tied to a line of the input.
struct fileerror {
    std::string what;
};

std::string readall(const std::string& name)
{
    if (name == "-")
        return {std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>()};
    std::error_code ec;
    if (fs::is_directory(name, ec))
        throw fileerror{"cannot read " + quote(name) + ": it is a directory"};
    std::ifstream in(name, std::ios::binary);
    if (!in)
        throw fileerror{"cannot open " + quote(name) + ": " + std::strerror(errno)};
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad())
        throw fileerror{"cannot read " + quote(name)};
    return text.str();
}

// A file written whole into a temporary beside its final name, then renamed,
// so that a failure leaves no partial file behind. A name that is a symbolic
// link is followed, so the link stays; a device or pipe (/dev/stdout, say) is
// written directly when committed.
class pending {
public:
    pending(const std::string& target, std::string content) : shown(target), text(std::move(content))
    {
        std::error_code ec;
        fs::path real = fs::canonical(target, ec);
        if (ec)
            real = target;  // not there yet, or not a path (a pipe's link)
        if (fs::exists(real, ec) && !fs::is_regular_file(real, ec)) {
            direct = real;
            return;
        }
        dest = real;

        std::random_device seed;
        std::mt19937_64 gen(seed());
        for (int attempt = 0;; ++attempt) {
            fs::path name = dest;
            name += ".tmp" + std::to_string(gen() % 1000000000);
            std::FILE* f = std::fopen(name.c_str(), "wx");  // x: never an existing file
            if (f == nullptr) {
                if (errno == EEXIST && attempt < 100)
                    continue;
                throw failure(errno);
            }
            temp = name;
            const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
            const int err = errno;
            if (std::fclose(f) != 0 || !written) {
                const int why = written ? errno : err;
                discard();
                throw failure(why);
            }
            return;
        }
    }
    pending(const pending&) = delete;
    pending& operator=(const pending&) = delete;
    ~pending() { discard(); }

    void commit()
    {
        if (!direct.empty()) {
            std::FILE* f = std::fopen(direct.c_str(), "w");
            if (f == nullptr)
                throw failure(errno);
            const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
            const int err = errno;
            if (std::fclose(f) != 0 || !written)
                throw failure(written ? errno : err);
            return;
        }
        std::error_code ec;
        fs::rename(temp, dest, ec);
        if (ec)
            throw fileerror{"cannot write " + quote(shown) + ": " + ec.message()};
        temp.clear();
    }

private:
    fileerror failure(int err) const { return {"cannot write " + quote(shown) + ": " + std::strerror(err)}; }

    void discard()
    {
        if (!temp.empty()) {
            std::error_code ec;
            fs::remove(temp, ec);
            temp.clear();
        }
    }

    std::string shown;  // the name as given
    std::string text;
    fs::path dest;  // a regular file, written through temp
    fs::path temp;
    fs::path direct;  // a device or pipe
};

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

int run(const options& opt)
{
    const std::string shown = opt.input == "-" ? "(standard input)" : opt.input;
    std::string format = opt.format;
    int firstrow = 0;  // line of the first line that is not blank
    try {
        if (samefile(opt.output, opt.input) || samefile(opt.map, opt.input))
            throw fileerror{"will not write over the input file " + quote(opt.input)};
        if (opt.map == "-" || samefile(opt.map, opt.output))
            throw fileerror{"--map needs a file of its own, apart from the output"};

        const std::vector<std::string> lines = splitlines(readall(opt.input));
        for (std::size_t i = 0; i < lines.size() && firstrow == 0; ++i)
            if (!trim(lines[i]).empty())
                firstrow = static_cast<int>(i + 1);
        if (format.empty())
            format = guessformat(lines);
        if (opt.extragiven && format != "structure")
            throw fileerror{"--extra-cols applies to STRUCTURE files only, and " + quote(shown) +
                            " is read as Genepop"};

        const dataset data = format == "genepop" ? readgenepop(lines) : readstructure(lines, opt.extracols);
        const naming names = makenames(data);
        const auto codes = allelecodes(data);
        const std::string text = vorntext(data, names, codes);

        // Both files are complete before either takes its name.
        std::optional<pending> out;
        std::optional<pending> map;
        if (opt.output != "-")
            out.emplace(opt.output, text);
        if (!opt.map.empty())
            map.emplace(opt.map, maptext(names, codes));
        if (map)
            map->commit();
        if (out)
            out->commit();
        else if (!(std::cout << text << std::flush))
            throw fileerror{"cannot write to standard output"};
        return 0;
    } catch (const inputerror& e) {
        std::cerr << "vornconvert: " << shown;
        if (e.line > 0)
            std::cerr << ':' << e.line;
        std::cerr << ": " << e.what();
        // A guessed table that fails at its first row may be no table at all.
        if (opt.format.empty() && format == "structure" && e.line > 0 && e.line == firstrow)
            std::cerr << " (read as STRUCTURE since no line is 'Pop' and none has a comma; see --format)";
        std::cerr << '\n';
    } catch (const fileerror& e) {
        std::cerr << "vornconvert: " << e.what << '\n';
    } catch (const std::exception& e) {
        std::cerr << "vornconvert: " << shown << ": " << e.what() << '\n';
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
