// VCF and BCF files (plain, bgzip-compressed or BCF) read through htslib, and
// the maps that assign their samples to populations. Records are read one at
// a time: every site is handed over as the allele counts of each population
// and then forgotten, so that a genome never sits in memory.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "formats/dataset.h"

namespace formats {

// Samples and their populations, from a map of two columns: sample, then
// population. Populations are numbered in the order they first appear.
struct popmap {
    std::vector<std::string> pops;
    std::vector<std::string> samples;
    std::vector<int> pop;   // pop[i]: population of samples[i]
    std::vector<int> line;  // where samples[i] stands in the map
};

// Columns are separated by tabs, or by blanks in a line without a tab; empty
// lines and lines that begin with '#' are skipped. Throws inputerror with the
// line (file not set) for a line of another shape or a sample named twice.
popmap readpopmap(std::string_view text);

struct vcfoptions {
    bool passonly = false;    // only records whose FILTER is PASS
    std::string regions;      // -r: chr, chr:from-to, chr:from-, separated by commas
    std::string regionsfile;  // -R: a file of regions, as bcftools reads it
    int threads = 0;          // extra threads for decompression
};

// What a read met, for the summary line.
struct vcfstats {
    std::string format;        // "VCF" or "BCF"
    std::size_t samples = 0;   // in the file
    std::size_t unmapped = 0;  // of them, not in the map: skipped
    std::int64_t records = 0;  // read, within the regions
    std::int64_t notpass = 0;  // skipped by passonly
    std::int64_t fewpops = 0;  // skipped: fewer than two populations with genes
    std::int64_t sites = 0;    // handed over
    // The samples of the map (indices into its samples) in the order their
    // genes are handed over.
    std::vector<std::size_t> mapped;
};

// A site that was kept.
struct vcfsite {
    std::string_view chrom;
    std::int64_t pos = 0;  // from 1
    // The alleles that the site's genes carry, numbered in the order first
    // met over the populations of the map, the samples of each in the order
    // of the file and the gene copies of each call (as vorn numbers the
    // symbols of a data file): allele[k] is the index of allele k among REF
    // (0) and the ALTs.
    std::vector<int> allele;
    std::vector<std::string_view> label;  // the allele's text, REF or ALT
    // n[p * allele.size() + k]: genes of population p that carry allele k.
    std::vector<std::int32_t> n;  // at most MAXCOUNT each
    // Filled only when asked for: the genes of each mapped sample, samples in
    // the order above, ploidy entries each: an allele k, MISSING or ABSENT.
    int ploidy = 0;
    std::vector<int> genes;
};

// Reads the file ("-": standard input) and hands each kept site to each.
// Every sample of the map must be in the file. Throws inputerror (line 0,
// file not set) with a message that says what to do.
vcfstats readvcf(const std::string& file, const popmap& map, const vcfoptions& options, bool genes,
                 const std::function<void(const vcfsite&)>& each);

// The whole file as a data set (small files, for vornconvert): populations
// of the map, their samples in the order of the file, one locus per kept
// site named CHROM:POS.
dataset readvcfdataset(const std::string& file, const popmap& map, const vcfoptions& options);

// The summary of a read in words.
std::string vcflayout(const vcfstats& s, std::size_t npops);

// Whether the first bytes of a file are VCF text, BCF, or compressed (bgzip
// or gzip: htslib tells what is inside).
inline bool looksvcf(std::string_view head)
{
    return head.starts_with("##fileformat=VCF") || head.starts_with("BCF\2") || head.starts_with("\x1f\x8b");
}

}  // namespace formats
