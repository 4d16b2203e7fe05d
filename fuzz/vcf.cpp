// Fuzz target: the VCF and BCF reader on arbitrary bytes. An input is a
// population map, a NUL byte and the file (VCF text, BCF, or either bgzip-
// compressed); without a NUL the whole input is the file, and the map puts
// samples a and b in one population and c in another. htslib reads files by
// name, so the bytes go through a temporary file. Every site handed over
// must keep the promises of formats/vcf.h, and the tallies of the summary
// must add up; a read may also end in an inputerror with a message.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "formats/vcf.h"

namespace {

void require(bool ok, const std::string& what)
{
    if (!ok) {
        std::fprintf(stderr, "\nfuzz check failed: %s\n", what.c_str());
        std::fflush(stderr);
        std::abort();
    }
}

void checksite(const formats::vcfsite& s, std::size_t npops)
{
    const std::size_t k = s.allele.size();
    require(k >= 1 && std::set<int>(s.allele.begin(), s.allele.end()).size() == k, "alleles empty or twice");
    require(s.label.size() == k && s.n.size() == npops * k, "sizes of a site");
    std::vector<std::int64_t> total(k, 0);
    std::size_t typed = 0;
    for (std::size_t p = 0; p < npops; ++p) {
        std::int64_t genes = 0;
        for (std::size_t j = 0; j < k; ++j) {
            require(s.n[p * k + j] >= 0, "a negative count");
            total[j] += s.n[p * k + j];
            genes += s.n[p * k + j];
        }
        typed += genes > 0;
    }
    require(typed >= 2, "a site with fewer than two populations typed");
    // Every allele is carried, and the genes of the samples add up to the counts.
    std::vector<std::int64_t> fromgenes(k, 0);
    for (const int g : s.genes) {
        require(g == formats::MISSING || g == formats::ABSENT || (g >= 0 && static_cast<std::size_t>(g) < k),
                "gene " + std::to_string(g) + " out of range");
        if (g >= 0)
            ++fromgenes[static_cast<std::size_t>(g)];
    }
    for (std::size_t j = 0; j < k; ++j)
        require(total[j] > 0 && fromgenes[j] == total[j], "allele counts and genes disagree");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::string path = "/tmp/vorn-fuzz-vcf-" + std::to_string(getpid());
    const std::string_view in(reinterpret_cast<const char*>(data), size);
    const std::size_t nul = in.find('\0');
    const std::string_view maptext = nul == std::string_view::npos ? "a\tx\nb\tx\nc\ty\n" : in.substr(0, nul);
    const std::string_view file = nul == std::string_view::npos ? in : in.substr(nul + 1);

    formats::popmap map;
    try {
        map = formats::readpopmap(maptext);
    } catch (const formats::inputerror& e) {
        require(*e.what() != '\0', "a map error without a message");
        return 0;
    }
    std::FILE* f = std::fopen(path.c_str(), "wb");
    require(f != nullptr, "cannot write " + path);
    std::fwrite(file.data(), 1, file.size(), f);
    std::fclose(f);

    formats::vcfoptions options;
    options.passonly = size % 2 == 1;
    try {
        const formats::vcfstats st = formats::readvcf(
            path, map, options, true, [&](const formats::vcfsite& s) { checksite(s, map.pops.size()); });
        require(st.sites + st.fewpops + st.notpass == st.records, "the summary does not add up");
        require(st.mapped.size() == map.samples.size(), "samples of the map lost");
    } catch (const formats::inputerror& e) {
        require(*e.what() != '\0', "an error without a message");
    }
    std::remove(path.c_str());
    return 0;
}
