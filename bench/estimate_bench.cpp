// vorn-bench-estimate: where the time of vorn's estimate goes, and how the
// engine's signs were decided, on data files.
//
//   vorn-bench-estimate [--check] FILE...
//
// For each file, one line: processor milliseconds of reading and counting,
// of the tables, of arranging the engine, of one fast evaluation (median of
// the root finder's trial points), of the whole root finder and of the
// exact variance; the number of signs the fast sums decided (and how many
// of them the narrow sum) and the number that went to the exact sum; the
// smallest |fast| / bound met (the margin); the estimate. Then the totals.
// With --check, every trial point's exact score is computed too, the signs
// that the fast and the narrow sum settle are checked against it and the
// estimate against the plain loops, to the bit; a disagreement ends the run
// with status 1.
#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

#include "core/datastr.h"
#include "core/engine.h"
#include "core/estimate.h"
#include "core/failure.h"
#include "core/tables.h"
#include "formats/vorndata.h"
#include "literal.h"

namespace {

double cpu()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) * 1e-6;
}

tables tab;

// The root finder's trial points, recorded through a function of the
// score's type that answers with the engine's sign.
engine* current = nullptr;
std::vector<float> trials;
float recorded(float x, const datastr*, const tables*)
{
    trials.push_back(x);
    return static_cast<float>(scoresign(*current, x));
}

}  // namespace

int main(int argc, char** argv)
{
    bool check = false;
    int first = 1;
    if (argc > 1 && std::strcmp(argv[1], "--check") == 0) {
        check = true;
        first = 2;
    }
    if (first >= argc) {
        std::fprintf(stderr, "usage: vorn-bench-estimate [--check] FILE...\n");
        return 2;
    }
    std::printf("%-28s %8s %7s %7s %7s %8s %7s %5s %6s %6s %5s %9s %s\n", "file", "read ms", "tables",
                "engine", "eval", "root ms", "var ms", "fast", "narrow", "proven", "exact", "margin",
                "estimate");
    // Signs by the fast sums (by the narrow one, and proven around the root)
    // and by the exact sum, on files with an estimate [1] and without [0].
    long fastsigns[2] = {}, narrowsigns[2] = {}, certsigns[2] = {}, exactsigns[2] = {};
    int files = 0, estimates = 0, bad = 0;
    double smallest = INFINITY;
    for (int f = first; f < argc; ++f) {
        const std::string name = std::filesystem::path(argv[f]).filename().string();
        auto data = std::make_unique<datastr>();
        const double t0 = cpu();
        try {
            getdata(argv[f], data.get());
        } catch (const failure& x) {
            std::printf("%-28s %s\n", name.c_str(), x.what() + 1);
            continue;
        }
        ++files;
        const double t1 = cpu();
        buildtables(data.get(), &tab);
        const double t2 = cpu();
        const counts c = fromrecord(*data);
        const problem pr = recordproblem(c, &tab);
        engine e;
        prepare(e, pr);
        const double t3 = cpu();
        float theta = 0.0f;
        std::string result;
        try {
            theta = rtbis(e, LOWEST, HIGHEST, TOLERANCE);
            char text[32];
            std::snprintf(text, sizeof text, "%.9g", static_cast<double>(theta));
            result = text;
        } catch (const failure& x) {
            result = x.what() + 1;
        }
        const bool found = !result.empty() && result[0] != 'E' && result[0] != 'T';
        const double t4 = cpu();
        if (found)
            (void)var(e, theta);
        const double t5 = cpu();
        estimates += found;

        // The trial points again, from the same signs, each evaluated once
        // more on its own for its time and its margin.
        const long fastcount = e.fastsigns, narrowcount = e.narrowsigns, certcount = e.certsigns,
                   exactcount = e.exactsigns;
        current = &e;
        trials.clear();
        try {
            rtbis(recorded, LOWEST, HIGHEST, TOLERANCE, data.get(), &tab);
        } catch (const failure&) {
        }
        e.fastsigns = fastcount;
        e.narrowsigns = narrowcount;
        e.certsigns = certcount;
        e.exactsigns = exactcount;
        double margin = INFINITY;
        std::vector<double> evals;
        for (const float x : trials) {
            const double s = cpu();
            const fastsum fs = fastscore(e, x);
            evals.push_back(cpu() - s);
            margin = std::min(margin, std::fabs(fs.value) / fs.bound);
            if (check) {
                const float exact = score(e, x);
                const int sign = (exact > 0) - (exact < 0);
                for (const fastsum& f : {fs, narrowscore(e, x)}) {
                    const bool decided = f.value > f.bound || f.value < -f.bound;
                    if (decided && sign != (f.value > 0 ? 1 : -1)) {
                        std::printf("%s: theta %.9g: fast %.17g bound %.3g, exact %.9g\n", name.c_str(),
                                    static_cast<double>(x), f.value, f.bound, static_cast<double>(exact));
                        ++bad;
                    }
                }
            }
        }
        std::sort(evals.begin(), evals.end());
        const double eval = evals.empty() ? 0.0 : evals[evals.size() / 2];
        if (check) {
            bool same = true;
            try {
                const float plain = rtbis(literallikelihood, LOWEST, HIGHEST, TOLERANCE, data.get(), &tab);
                same = found && std::memcmp(&plain, &theta, sizeof plain) == 0;
            } catch (const failure& x) {
                same = result == x.what() + 1;
            }
            if (!same) {
                std::printf("%s: the estimate differs from the plain loops' (%s)\n", name.c_str(),
                            result.c_str());
                ++bad;
            }
        }
        fastsigns[found] += e.fastsigns;
        narrowsigns[found] += e.narrowsigns;
        certsigns[found] += e.certsigns;
        exactsigns[found] += e.exactsigns;
        if (found)
            smallest = std::min(smallest, margin);
        std::printf("%-28s %8.2f %7.2f %7.2f %7.3f %8.2f %7.2f %5ld %6ld %6ld %5ld %9.3g %s\n", name.c_str(),
                    t1 - t0, t2 - t1, t3 - t2, eval, t4 - t3, t5 - t4, e.fastsigns, e.narrowsigns,
                    e.certsigns, e.exactsigns, margin, result.c_str());
    }
    std::printf(
        "%d files. %d with an estimate: %ld signs by the fast sums (%ld of them by the narrow one, %ld "
        "proven around the root), %ld by the exact sum, smallest margin of the fast sum %.3g. %d without: "
        "%ld signs by the fast sums, %ld by the exact sum.\n",
        files, estimates, fastsigns[1], narrowsigns[1], certsigns[1], exactsigns[1], smallest,
        files - estimates, fastsigns[0], exactsigns[0]);
    return bad == 0 ? 0 : 1;
}
