// vorn-bench-likelihood: one evaluation of the score on the counts of a data
// file: the engine's narrow and fast sums (narrowscore and fastscore, what
// decide vorn's signs), the exact sum (likelihood) and the plain loops
// (literallikelihood).
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

#include "core/datastr.h"
#include "core/engine.h"
#include "core/estimate.h"
#include "core/failure.h"
#include "core/tables.h"
#include "formats/vorndata.h"
#include "literal.h"

namespace {

tables tab;
counts table;
problem whole;
engine fast;

float fastvalue(float theta, const datastr*, const tables*)
{
    return static_cast<float>(fastscore(fast, theta).value);
}

float narrowvalue(float theta, const datastr*, const tables*)
{
    return static_cast<float>(narrowscore(fast, theta).value);
}

// The generator's default differentiation: close to the estimate on its files.
constexpr float THETA = 10.0f;

void evaluate(benchmark::State& state, scorefunction score, const datastr* data, double genes)
{
    for (auto _ : state) {
        // Read at run time, so the call cannot be folded. Not DoNotOptimize:
        // with GCC 12 and Google Benchmark 1.7.1 its read-write form on a
        // float drops the store, and the score ran on stale stack bytes.
        const volatile float theta = THETA;
        const float s = score(theta, data, &tab);
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
    try {
        getdata(argv[1], data.get());
    } catch (const failure& f) {
        std::fprintf(stderr, "vorn-bench-likelihood: %s: %s\n", argv[1], f.what() + 1);
        return 1;
    }
    buildtables(data.get(), &tab);

    std::int64_t genes = 0;
    for (int p = 1; p <= data->npops; ++p)
        for (int l = 1; l <= data->nloci; ++l)
            genes += tab.ngenes[p][l];

    // Both must give the same score to the bit, or the comparison means nothing.
    for (float theta : {0.00001f, 1.0f, THETA, 10000.0f}) {
        const float fast = likelihood(theta, data.get(), &tab);
        const float plain = literallikelihood(theta, data.get(), &tab);
        if (fast != plain) {
            std::fprintf(stderr, "vorn-bench-likelihood: scores differ at theta %g: %.9g and %.9g\n",
                         static_cast<double>(theta), static_cast<double>(fast), static_cast<double>(plain));
            return 1;
        }
    }

    table = fromrecord(*data);
    whole = recordproblem(table, &tab);
    prepare(fast, whole);
    const double g = static_cast<double>(genes);
    // Each evaluation takes tens of milliseconds: a second gives a few dozen.
    benchmark::RegisterBenchmark("narrowscore", evaluate, narrowvalue, data.get(), g)
        ->Unit(benchmark::kMillisecond)
        ->MinTime(0.5);
    benchmark::RegisterBenchmark("fastscore", evaluate, fastvalue, data.get(), g)
        ->Unit(benchmark::kMillisecond)
        ->MinTime(0.5);
    benchmark::RegisterBenchmark("likelihood", evaluate, likelihood, data.get(), g)
        ->Unit(benchmark::kMillisecond)
        ->MinTime(1.0);
    benchmark::RegisterBenchmark("literallikelihood", evaluate, literallikelihood, data.get(), g)
        ->Unit(benchmark::kMillisecond)
        ->MinTime(1.0);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
