// vorn-bench-read: how fast the data file reader gets through one file.
//
//   vorn-bench-read FILE [RUNS]
//
// Reads FILE RUNS times (default 5) into a fresh record with getdata, with the
// reader's progress output silenced, and prints one line:
//   bytes=SIZE seconds=MEDIAN cpu=MEDIAN genes=COUNTED
// with the median wall-clock and processor seconds of one read.
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <vector>

#include "core/datastr.h"
#include "core/failure.h"
#include "formats/vorndata.h"

namespace {

double now(clockid_t clock)
{
    timespec t{};
    clock_gettime(clock, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2.0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: vorn-bench-read FILE [RUNS]\n");
        return 2;
    }
    const int runs = argc == 3 ? std::atoi(argv[2]) : 5;
    if (runs < 1) {
        std::fprintf(stderr, "vorn-bench-read: RUNS must be at least 1\n");
        return 2;
    }
    std::error_code error;
    const auto bytes = std::filesystem::file_size(argv[1], error);
    if (error) {
        std::fprintf(stderr, "vorn-bench-read: %s: %s\n", argv[1], error.message().c_str());
        return 1;
    }

    std::vector<double> times;
    std::vector<double> cputimes;
    std::int64_t genes = 0;
    for (int run = 0; run < runs; ++run) {
        auto data = std::make_unique<datastr>();
        const double start = now(CLOCK_MONOTONIC);
        const double cpustart = now(CLOCK_PROCESS_CPUTIME_ID);
        try {
            getdata(argv[1], data.get());
        } catch (const failure& f) {
            std::fprintf(stderr, "vorn-bench-read: %s: %s\n", argv[1], f.what() + 1);
            return 1;
        }
        cputimes.push_back(now(CLOCK_PROCESS_CPUTIME_ID) - cpustart);
        times.push_back(now(CLOCK_MONOTONIC) - start);

        // Something the optimiser cannot drop: the number of genes counted.
        genes = 0;
        for (int p = 1; p <= data->npops; ++p)
            for (int l = 1; l <= data->nloci; ++l)
                for (int k = 1; k <= data->nalleles[l]; ++k)
                    genes += data->allelecount[p][l][k];
    }
    std::printf("bytes=%ju seconds=%.6f cpu=%.6f genes=%jd\n", static_cast<std::uintmax_t>(bytes), median(times),
                median(cputimes), static_cast<std::intmax_t>(genes));
    return 0;
}
