// vorn-genvcf: writes a random VCF to standard output and its population map
// to a file. Every site gets pooled allele frequencies from a flat Dirichlet
// distribution; every population draws its own from a Dirichlet distribution
// centred on them with concentration THETA, and its diploid samples draw
// their genes from those, unphased, a share of the calls missing. vornstat's
// estimate on the file lands near THETA.
//
// The random numbers come from std::mt19937_64 and hand-written
// transformations, so a seed gives the same file with every standard library.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <random>
#include <string>
#include <vector>

namespace {

struct options {
    int nchroms = 1;
    long nsites = 1000;  // per chromosome
    int npops = 20;
    int nind = 25;
    long total = 0;  // samples in all, when given: spread over the populations
    int nalleles = 2;
    double theta = 10.0;
    double missing = 0.01;
    std::uint64_t seed = 1;
    const char* map = nullptr;
};

[[noreturn]] void usage(const char* problem)
{
    if (problem != nullptr)
        std::fprintf(stderr, "vorn-genvcf: %s\n", problem);
    std::fprintf(stderr, "usage: vorn-genvcf -M MAPFILE [options] > file.vcf\n"
                         "  -M FILE     write the population map (sample, population) here\n"
                         "  -c N        chromosomes, named 1, 2, ... (default 1)\n"
                         "  -s N        sites per chromosome (default 1000)\n"
                         "  -p N        populations (default 20)\n"
                         "  -n N        diploid samples per population (default 25)\n"
                         "  -N N        diploid samples in all instead, the first populations one more\n"
                         "  -a N        alleles per site, 2 to 4 (default 2)\n"
                         "  -t THETA    how close populations stay to the pooled frequencies (default 10)\n"
                         "  -m SHARE    share of missing calls (default 0.01)\n"
                         "  -S SEED     random seed (default 1)\n");
    std::exit(2);
}

double value(const char* text, double low, double high, const char* what)
{
    char* end = nullptr;
    const double v = std::strtod(text, &end);
    if (*text == '\0' || *end != '\0' || !(v >= low && v <= high))
        usage(std::string("bad value for ").append(what).append(": ").append(text).c_str());
    return v;
}

struct source {
    std::mt19937_64 gen;
    double uniform() { return static_cast<double>(gen() >> 11) * 0x1.0p-53; }
    double normal()
    {
        const double u = 1.0 - uniform();
        return std::sqrt(-2.0 * std::log(u)) * std::cos(2.0 * std::numbers::pi * uniform());
    }
    // Marsaglia and Tsang; for a below 1 the draw for a + 1, scaled.
    double gamma(double a)
    {
        if (a < 1.0)
            return gamma(a + 1.0) * std::pow(1.0 - uniform(), 1.0 / a);
        const double d = a - 1.0 / 3.0, c = 1.0 / std::sqrt(9.0 * d);
        for (;;) {
            double x = 0.0, v = 0.0;
            do {
                x = normal();
                v = 1.0 + c * x;
            } while (v <= 0.0);
            v = v * v * v;
            const double u = 1.0 - uniform();
            if (std::log(u) < 0.5 * x * x + d - d * v + d * std::log(v))
                return d * v;
        }
    }
    // Proportions from a Dirichlet distribution with these weights.
    void dirichlet(const std::vector<double>& w, std::vector<double>& out)
    {
        double sum = 0.0;
        for (std::size_t k = 0; k < w.size(); ++k)
            sum += out[k] = gamma(w[k]) + 1e-300;
        for (double& x : out)
            x /= sum;
    }
    int draw(const std::vector<double>& f)
    {
        double u = uniform();
        for (std::size_t k = 0; k + 1 < f.size(); ++k)
            if ((u -= f[k]) < 0.0)
                return static_cast<int>(k);
        return static_cast<int>(f.size()) - 1;
    }
};

}  // namespace

int main(int argc, char** argv)
{
    options o;
    for (int i = 1; i < argc; ++i) {
        const std::string flag = argv[i];
        if (i + 1 >= argc)
            usage(std::string("missing value after ").append(flag).c_str());
        const char* v = argv[++i];
        if (flag == "-M")
            o.map = v;
        else if (flag == "-c")
            o.nchroms = static_cast<int>(value(v, 1, 1000, "-c"));
        else if (flag == "-s")
            o.nsites = static_cast<long>(value(v, 1, 1e9, "-s"));
        else if (flag == "-p")
            o.npops = static_cast<int>(value(v, 1, 10000, "-p"));
        else if (flag == "-n")
            o.nind = static_cast<int>(value(v, 1, 1e6, "-n"));
        else if (flag == "-N")
            o.total = static_cast<long>(value(v, 1, 1e8, "-N"));
        else if (flag == "-a")
            o.nalleles = static_cast<int>(value(v, 2, 4, "-a"));
        else if (flag == "-t")
            o.theta = value(v, 1e-6, 1e12, "-t");
        else if (flag == "-m")
            o.missing = value(v, 0, 1, "-m");
        else if (flag == "-S")
            o.seed = static_cast<std::uint64_t>(value(v, 0, 2147483647.0, "-S"));
        else
            usage(std::string("unknown option ").append(flag).c_str());
    }
    if (o.map == nullptr)
        usage("-M MAPFILE is needed");
    std::vector<int> size(static_cast<std::size_t>(o.npops), o.nind);
    if (o.total > 0)
        for (int p = 0; p < o.npops; ++p)
            size[static_cast<std::size_t>(p)] =
                static_cast<int>(o.total / o.npops + (p < o.total % o.npops ? 1 : 0));
    std::FILE* map = std::fopen(o.map, "w");
    if (map == nullptr)
        usage("cannot write the map file");
    std::string line = "##fileformat=VCFv4.2\n";
    for (int c = 1; c <= o.nchroms; ++c)
        line.append("##contig=<ID=").append(std::to_string(c)).append(">\n");
    line += "##FORMAT=<ID=GT,Number=1,Type=String,Description=\"Genotype\">\n"
            "#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT";
    for (int p = 0; p < o.npops; ++p)
        for (int i = 0; i < size[static_cast<std::size_t>(p)]; ++i) {
            const std::string name =
                std::string("p").append(std::to_string(p + 1)).append("_").append(std::to_string(i + 1));
            line.append("\t").append(name);
            std::fprintf(map, "%s\tpop%d\n", name.c_str(), p + 1);
        }
    std::fclose(map);
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stdout);

    source rng{std::mt19937_64(o.seed)};
    const auto k = static_cast<std::size_t>(o.nalleles);
    std::vector<double> pooled(k), weight(k), f(k);
    const std::vector<double> flat(k, 1.0);
    for (int c = 1; c <= o.nchroms; ++c) {
        long pos = 0;
        for (long s = 0; s < o.nsites; ++s) {
            pos += 1 + static_cast<long>(rng.uniform() * 200);
            rng.dirichlet(flat, pooled);
            line = std::to_string(c);
            line.append("\t").append(std::to_string(pos)).append("\t.\tA\t");
            line += k == 2 ? "C" : k == 3 ? "C,G" : "C,G,T";
            line += "\t.\tPASS\t.\tGT";
            for (int p = 0; p < o.npops; ++p) {
                for (std::size_t a = 0; a < k; ++a)
                    weight[a] = o.theta * pooled[a];
                rng.dirichlet(weight, f);
                for (int i = 0; i < size[static_cast<std::size_t>(p)]; ++i) {
                    if (rng.uniform() < o.missing) {
                        line += "\t./.";
                        continue;
                    }
                    line += '\t';
                    line += static_cast<char>('0' + rng.draw(f));
                    line += '/';
                    line += static_cast<char>('0' + rng.draw(f));
                }
            }
            line += '\n';
            std::fwrite(line.data(), 1, line.size(), stdout);
        }
    }
    return std::ferror(stdout) ? 1 : 0;
}
