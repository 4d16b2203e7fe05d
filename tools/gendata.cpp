// vorn-gendata: writes a random but well-formed vorn data file to standard output.
//
// Every locus gets pooled allele frequencies drawn from a flat Dirichlet
// distribution, or all equal (-e); every population then draws its own
// frequencies from a Dirichlet distribution centred on them with
// concentration THETA, and its
// individuals' genes are drawn from those. With two or more populations and
// a few individuals each, vorn's estimate lands near THETA.
//
// With -g the file is a Genepop file instead, of any number of populations
// and loci: alleles coded 01, 02, ..., 00 for a gene that was not typed.
//
// The random numbers come from std::mt19937_64 and hand-written
// transformations, so a seed gives the same file with every standard library.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <random>
#include <string>
#include <vector>

namespace {

// Allele symbols: visible characters that never close or split a word of the
// matrix and are not the missing-data symbol.
constexpr char ALPHABET[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvw";
constexpr int MAXSYMBOLS = sizeof ALPHABET - 1;  // 49

const char* const PLACES[] = {
    "Lagan",      "Nissan",       "Ljungan",    "Dalalven",    "Klaralven",   "Vindelalven",
    "Tornealven", "Kalixalven",   "Skelleftea", "Umealven",    "Lake Vattern", "Lake Vanern",
    "Storsjon",   "Siljan",       "Glomma",     "Numedalslagen", "Orkla",     "Gaula",
    "Namsen",     "Alta",         "Tana",       "Teno",        "Kemijoki",    "Iijoki",
    "Oulujoki",   "Vuoksi",       "Neva",       "Narva",       "Gauja",       "Venta",
    "Nemunas",    "Vistula",      "Oder",       "Elbe",        "Weser",       "Ems",
    "Rhine",      "Meuse",        "Scheldt",    "Seine",       "Loire",       "Garonne",
    "Adour",      "Ebro",         "Douro",      "Minho",       "Shannon",     "Lough Mask",
    "Lough Corrib", "Tweed",      "Tay",        "Spey",        "Dee",         "Severn",
    "Thames",     "Wye",          "Usk",        "Tamar",       "Exe",         "Test",
};
constexpr int NPLACES = sizeof PLACES / sizeof PLACES[0];

const char* const MARKERS[] = {"Str", "Ssa", "Sfo", "Omy", "One", "Ots", "SsoSL", "BFRO", "Ssl", "CA0"};
constexpr int NMARKERS = sizeof MARKERS / sizeof MARKERS[0];

struct options {
    int npops = 10;
    int nloci = 10;
    int nind = 50;
    int nalleles = 8;
    bool diploid = true;
    double missing = 0.02;
    double theta = 10.0;
    bool even = false;
    bool genepop = false;
    std::uint64_t seed = 1;
};

[[noreturn]] void usage(const char* problem)
{
    if (problem != nullptr)
        std::fprintf(stderr, "vorn-gendata: %s\n", problem);
    std::fprintf(stderr,
                 "usage: vorn-gendata [options] > file.nex\n"
                 "  -p N        populations, 1 to 99, or any number with -g (default 10)\n"
                 "  -l N        loci, 1 to 99, or any number with -g (default 10)\n"
                 "  -n N        individuals per population, at least 1 (default 50)\n"
                 "  -a N        alleles per locus, 1 to 49 (default 8)\n"
                 "  -H, -D      haploid or diploid genotypes (default diploid)\n"
                 "  -e          pooled allele frequencies all equal, so that with enough\n"
                 "              genes every allele occurs at every locus\n"
                 "  -m SHARE    share of missing genes, 0 to 1 (default 0.02)\n"
                 "  -t THETA    how close populations stay to the pooled frequencies,\n"
                 "              above 0 (default 10)\n"
                 "  -s SEED     random seed (default 1)\n"
                 "  -g          write a Genepop file instead of a vorn data file\n");
    std::exit(2);
}

long number(const char* text, long low, long high, const char* what)
{
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (*text == '\0' || *end != '\0' || value < low || value > high) {
        const std::string message = std::string("bad value for ") + what + ": " + text;
        usage(message.c_str());
    }
    return value;
}

double real(const char* text, double low, double high, bool lowopen, const char* what)
{
    char* end = nullptr;
    const double value = std::strtod(text, &end);
    if (*text == '\0' || *end != '\0' || !(value <= high) || value < low || (lowopen && value == low)) {
        const std::string message = std::string("bad value for ") + what + ": " + text;
        usage(message.c_str());
    }
    return value;
}

options parse(int argc, char** argv)
{
    options o;
    for (int i = 1; i < argc; ++i) {
        const std::string flag = argv[i];
        if (flag == "-H") {
            o.diploid = false;
            continue;
        }
        if (flag == "-D") {
            o.diploid = true;
            continue;
        }
        if (flag == "-e") {
            o.even = true;
            continue;
        }
        if (flag == "-g") {
            o.genepop = true;
            continue;
        }
        if (flag == "-h" || flag == "--help")
            usage(nullptr);
        if (i + 1 >= argc)
            usage(("missing value after " + flag).c_str());
        const char* value = argv[++i];
        if (flag == "-p")
            o.npops = static_cast<int>(number(value, 1, 1000000, "-p"));
        else if (flag == "-l")
            o.nloci = static_cast<int>(number(value, 1, 1000000, "-l"));
        else if (flag == "-n")
            o.nind = static_cast<int>(number(value, 1, 100000000, "-n"));
        else if (flag == "-a")
            o.nalleles = static_cast<int>(number(value, 1, MAXSYMBOLS, "-a"));
        else if (flag == "-m")
            o.missing = real(value, 0.0, 1.0, false, "-m");
        else if (flag == "-t")
            o.theta = real(value, 0.0, 1e12, true, "-t");
        else if (flag == "-s")
            o.seed = static_cast<std::uint64_t>(number(value, 0, 2147483647L, "-s"));
        else
            usage(("unknown option " + flag).c_str());
    }
    if (!o.genepop && (o.npops > 99 || o.nloci > 99))
        usage("more than 99 populations or loci need -g");
    return o;
}

class randomness {
public:
    explicit randomness(std::uint64_t seed) : engine(seed) {}

    // Uniform on [0, 1).
    double uniform() { return static_cast<double>(engine() >> 11) * 0x1.0p-53; }

    double normal()
    {
        if (spare) {
            spare = false;
            return saved;
        }
        double u = uniform();
        while (u <= 0.0)
            u = uniform();
        const double radius = std::sqrt(-2.0 * std::log(u));
        const double angle = 2.0 * std::numbers::pi * uniform();
        saved = radius * std::sin(angle);
        spare = true;
        return radius * std::cos(angle);
    }

    // Gamma(shape, 1) by Marsaglia and Tsang's method.
    double gamma(double shape)
    {
        if (shape < 1.0) {
            double u = uniform();
            while (u <= 0.0)
                u = uniform();
            return gamma(shape + 1.0) * std::pow(u, 1.0 / shape);
        }
        const double d = shape - 1.0 / 3.0;
        const double c = 1.0 / std::sqrt(9.0 * d);
        for (;;) {
            double x;
            double v;
            do {
                x = normal();
                v = 1.0 + c * x;
            } while (v <= 0.0);
            v = v * v * v;
            const double u = uniform();
            if (u < 1.0 - 0.0331 * x * x * x * x)
                return d * v;
            if (u > 0.0 && std::log(u) < 0.5 * x * x + d * (1.0 - v + std::log(v)))
                return d * v;
        }
    }

    // Proportions drawn from a Dirichlet distribution with the given parameters.
    std::vector<double> dirichlet(const std::vector<double>& alpha)
    {
        std::vector<double> p(alpha.size());
        double total = 0.0;
        for (std::size_t k = 0; k < alpha.size(); ++k)
            total += p[k] = gamma(alpha[k]);
        if (!(total > 0.0)) {
            // Every draw underflowed: the mass goes to one allele, chosen by the parameters.
            std::fill(p.begin(), p.end(), 0.0);
            p[pick(alpha)] = 1.0;
            return p;
        }
        for (double& x : p)
            x /= total;
        return p;
    }

    // Index k with probability proportional to weight[k].
    std::size_t pick(const std::vector<double>& weight)
    {
        double total = 0.0;
        for (double w : weight)
            total += w;
        double u = uniform() * total;
        for (std::size_t k = 0; k + 1 < weight.size(); ++k) {
            if (u < weight[k])
                return k;
            u -= weight[k];
        }
        return weight.size() - 1;
    }

private:
    std::mt19937_64 engine;
    bool spare = false;
    double saved = 0.0;
};

std::string popname(int p)
{
    std::string name = PLACES[(p - 1) % NPLACES];
    if (p > NPLACES)
        name += ' ' + std::to_string((p - 1) / NPLACES + 1);
    return name;
}

std::string locuslabel(int l)
{
    return MARKERS[(l - 1) % NMARKERS] + std::to_string(11 + (l * 37) % 500);
}

// Draws one gene: the allele's index, or -1 for a gene that was not typed.
int allele(randomness& random, const std::vector<double>& cumulative, double missing)
{
    if (missing > 0.0 && random.uniform() < missing)
        return -1;
    const double u = random.uniform() * cumulative.back();
    std::size_t k = 0;
    while (k + 1 < cumulative.size() && u >= cumulative[k])
        ++k;
    return static_cast<int>(k);
}

// The same as an allele symbol, or '?'.
char gene(randomness& random, const std::vector<double>& cumulative, double missing)
{
    const int k = allele(random, cumulative, missing);
    return k < 0 ? '?' : ALPHABET[k];
}

// A Genepop file: a title, the loci one a line, each population after a
// "Pop" line, one individual a line named after its population.
void writegenepop(const options& o, randomness& random,
                  const std::vector<std::vector<std::vector<double>>>& freq)
{
    std::printf("vorn-gendata -g: %d populations, %d loci\n", o.npops, o.nloci);
    for (int l = 1; l <= o.nloci; ++l)
        std::printf("%s-%d\n", locuslabel(l).c_str(), l);
    std::string line;
    for (int p = 0; p < o.npops; ++p) {
        std::fputs("Pop\n", stdout);
        std::string name = popname(p + 1);
        std::replace(name.begin(), name.end(), ' ', '_');
        for (int i = 0; i < o.nind; ++i) {
            line = name + " ,";
            for (int l = 0; l < o.nloci; ++l) {
                const auto& f = freq[static_cast<std::size_t>(p)][static_cast<std::size_t>(l)];
                line += ' ';
                for (int copy = 0; copy < (o.diploid ? 2 : 1); ++copy) {
                    // Alleles 1 to 49: two digits.
                    const int k = allele(random, f, o.missing) + 1;
                    line += static_cast<char>('0' + k / 10);
                    line += static_cast<char>('0' + k % 10);
                }
            }
            line += '\n';
            std::fwrite(line.data(), 1, line.size(), stdout);
        }
    }
}

}  // namespace

int main(int argc, char** argv)
{
    const options o = parse(argc, argv);
    randomness random(o.seed);

    // freq[p][l]: the cumulative allele frequencies of population p at locus l.
    std::vector<std::vector<std::vector<double>>> freq(static_cast<std::size_t>(o.npops));
    for (auto& pop : freq)
        pop.resize(static_cast<std::size_t>(o.nloci));
    for (int l = 0; l < o.nloci; ++l) {
        const auto nalleles = static_cast<std::size_t>(o.nalleles);
        const std::vector<double> pooled = o.even ? std::vector<double>(nalleles, 1.0 / o.nalleles)
                                                  : random.dirichlet(std::vector<double>(nalleles, 1.0));
        std::vector<double> alpha(pooled.size());
        for (std::size_t k = 0; k < pooled.size(); ++k)
            alpha[k] = o.theta * pooled[k];
        for (int p = 0; p < o.npops; ++p) {
            std::vector<double> f = random.dirichlet(alpha);
            for (std::size_t k = 1; k < f.size(); ++k)
                f[k] += f[k - 1];
            freq[static_cast<std::size_t>(p)][static_cast<std::size_t>(l)] = f;
        }
    }

    static char outbuf[1 << 16];
    std::setvbuf(stdout, outbuf, _IOFBF, sizeof outbuf);

    if (o.genepop) {
        writegenepop(o, random, freq);
        if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
            std::perror("vorn-gendata: write failed");
            return 1;
        }
        return 0;
    }

    std::printf("#nexus\nbegin vorndata;\ndimensions npops=%d nloci=%d;\n", o.npops, o.nloci);
    std::fputs(o.diploid ? "format diploid missing=? separator=/;\n" : "format haploid missing=?;\n", stdout);
    std::printf("locusallelelabels");
    for (int l = 1; l <= o.nloci; ++l)
        std::printf(" %d %s%c", l, locuslabel(l).c_str(), l == o.nloci ? ';' : ',');
    std::printf("\nmatrix\n");

    // Individuals are numbered through the whole file, with at least four digits.
    const int width = std::max(4, static_cast<int>(std::to_string(static_cast<long long>(o.npops) * o.nind).size()));
    long long serial = 0;
    std::string line;
    for (int p = 0; p < o.npops; ++p) {
        const std::string name = popname(p + 1);
        const std::string indent(name.size() + 2, ' ');
        for (int i = 0; i < o.nind; ++i) {
            line = i == 0 ? name + ": " : indent;
            const std::string number = std::to_string(++serial);
            line += 'T';
            line.append(static_cast<std::size_t>(width) - std::min(number.size(), static_cast<std::size_t>(width)), '0');
            line += number;
            line += ' ';
            for (int l = 0; l < o.nloci; ++l) {
                const auto& f = freq[static_cast<std::size_t>(p)][static_cast<std::size_t>(l)];
                if (o.diploid) {
                    if (l > 0)
                        line += ' ';
                    line += gene(random, f, o.missing);
                    line += '/';
                    line += gene(random, f, o.missing);
                } else {
                    line += gene(random, f, o.missing);
                }
            }
            if (i == o.nind - 1)
                line += p == o.npops - 1 ? ';' : ',';
            line += '\n';
            std::fwrite(line.data(), 1, line.size(), stdout);
        }
    }
    std::printf("end;\n");
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::perror("vorn-gendata: write failed");
        return 1;
    }
    return 0;
}
