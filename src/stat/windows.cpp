#include "stat/windows.h"

#include <algorithm>
#include <cstdint>
#include <string>

namespace {

// The windows of one chromosome whose sites lie from first to last: window
// i holds position x when i step < x <= i step + width.
std::int64_t firstwindow(std::int64_t first, std::int64_t width, std::int64_t step)
{
    return first > width ? (first - width - 1) / step + 1 : 0;  // rounded up, without overflow
}

std::int64_t lastwindow(std::int64_t last, std::int64_t step)
{
    return (last - 1) / step;
}

}  // namespace

std::int64_t windowcount(const positions& at, std::int64_t width, std::int64_t step)
{
    std::vector<std::int64_t> first(at.chroms.size(), INT64_MAX), last(at.chroms.size(), 0);
    for (std::size_t l = 0; l < at.chrom.size(); ++l) {
        const auto ch = static_cast<std::size_t>(at.chrom[l]);
        first[ch] = std::min(first[ch], at.pos[l]);
        last[ch] = std::max(last[ch], at.pos[l]);
    }
    std::int64_t n = 0;
    for (std::size_t ch = 0; ch < first.size(); ++ch) {
        if (last[ch] == 0)
            continue;
        const std::int64_t k = lastwindow(last[ch], step) - firstwindow(first[ch], width, step) + 1;
        n = k > INT64_MAX - n ? INT64_MAX : n + k;
    }
    return n;
}

hugevector<result> windows(const counts& c, const positions& at, std::int64_t width, std::int64_t step,
                           const settings& s)
{
    std::vector<std::vector<int>> bychrom(at.chroms.size());
    for (int l = 0; l < c.nloci(); ++l)
        bychrom[static_cast<std::size_t>(at.chrom[l])].push_back(l);
    // One problem whose loci change from window to window: the frequencies
    // of every locus are copied once.
    problem pr = wholeproblem(c, allpops(c));
    engine en;
    hugevector<result> out;
    for (std::size_t ch = 0; ch < bychrom.size(); ++ch) {
        std::vector<int>& loci = bychrom[ch];
        if (loci.empty())
            continue;
        std::stable_sort(loci.begin(), loci.end(), [&](int a, int b) { return at.pos[a] < at.pos[b]; });
        const std::int64_t first = at.pos[loci.front()], last = at.pos[loci.back()];
        const std::int64_t from = firstwindow(first, width, step), to = lastwindow(last, step);
        std::size_t lo = 0, hi = 0;
        for (std::int64_t i = from; i <= to; ++i) {
            // i step < last: only the end can pass the largest position.
            const std::int64_t start = i * step + 1;
            const std::int64_t end = i * step > INT64_MAX - width ? INT64_MAX : i * step + width;
            while (lo < loci.size() && at.pos[loci[lo]] < start)
                ++lo;
            hi = std::max(hi, lo);
            while (hi < loci.size() && at.pos[loci[hi]] <= end)
                ++hi;
            const std::string name = at.chroms[ch] + ":" + std::to_string(start) + "-" + std::to_string(end);
            if (lo == hi) {
                result e;
                e.scope = "window";
                e.name = name;
                e.populations = c.npops();
                e.note = "no sites";
                out.push_back(e);
                continue;
            }
            pr.loci.assign(loci.begin() + static_cast<long>(lo), loci.begin() + static_cast<long>(hi));
            out.push_back(estimaterow(pr, s, "window", name, en));
        }
    }
    return out;
}
