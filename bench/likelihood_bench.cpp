// vorn-bench-likelihood: one evaluation of the score, likelihood against the
// plain loops of literallikelihood, on the counts of a data file.
//
//   vorn-bench-likelihood [--benchmark_...] FILE
//
// Each benchmark reports the data set's counted genes (counter "genes"), so
// that the time of one evaluation can be turned into time per gene.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <iostream>
#include <memory>

#include "driver/datastr.h"
#include "driver/tables.h"
#include "estimate/estimate.h"
#include "literal.h"
#include "reader/reader.h"

namespace {

float freq[MAXLOCI][MAXALLELES];
std::int32_t ngenes[MAXPOPS][MAXLOCI];

// The generator's default differentiation: close to the estimate on its files.
constexpr float THETA = 10.0f;

void evaluate(benchmark::State& state, scorefunction score, const datastr* data, double genes)
{
    for (auto _ : state) {
        float theta = THETA;
        benchmark::DoNotOptimize(theta);
        const float s = score(theta, data, ngenes, freq);
        benchmark::DoNotOptimize(s);
    }
    state.counters["genes"] = genes;
}

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: vorn-bench-likelihood [--benchmark_...] FILE\n");
        return 2;
    }

    auto data = std::make_unique<datastr>();
    std::streambuf* const out = std::cout.rdbuf(nullptr);
    getdata(argv[1], data.get());
    std::cout.rdbuf(out);
    std::cout.clear();
    buildtables(data.get(), freq, ngenes);

    std::int64_t genes = 0;
    for (int p = 1; p <= data->npops; ++p)
        for (int l = 1; l <= data->nloci; ++l)
            genes += ngenes[p][l];

    // Both must give the same score to the bit, or the comparison means nothing.
    for (float theta : {0.00001f, 1.0f, THETA, 10000.0f}) {
        const float fast = likelihood(theta, data.get(), ngenes, freq);
        const float plain = literallikelihood(theta, data.get(), ngenes, freq);
        if (fast != plain) {
            std::fprintf(stderr, "vorn-bench-likelihood: scores differ at theta %g: %.9g and %.9g\n",
                         static_cast<double>(theta), static_cast<double>(fast), static_cast<double>(plain));
            return 1;
        }
    }

    const double g = static_cast<double>(genes);
    // Each evaluation takes tens of milliseconds: a second gives a few dozen.
    benchmark::RegisterBenchmark("likelihood", evaluate, likelihood, data.get(), g)
        ->Unit(benchmark::kMillisecond)->MinTime(1.0);
    benchmark::RegisterBenchmark("literallikelihood", evaluate, literallikelihood, data.get(), g)
        ->Unit(benchmark::kMillisecond)->MinTime(1.0);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
