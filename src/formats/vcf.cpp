#include "formats/vcf.h"

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <map>
#include <memory>
#include <set>
#include <unordered_map>

#if defined(__SSE2__) && defined(__x86_64__)
#include <emmintrin.h>
#endif

#include <htslib/bgzf.h>
#include <htslib/hts_log.h>
#include <htslib/synced_bcf_reader.h>
#include <htslib/vcf.h>

#include "core/counts.h"
#include "formats/text.h"

namespace formats {

popmap readpopmap(std::string_view text)
{
    popmap m;
    std::unordered_map<std::string, std::size_t> seen;  // sample -> index into m.samples
    std::unordered_map<std::string, int> popno;
    linereader in(text);
    std::string_view line;
    while (in.next(line)) {
        const std::string_view t = trim(line);
        if (t.empty() || t.front() == '#')
            continue;
        const auto c = t.find('\t') != std::string_view::npos ? cells(t, '\t') : words(t);
        if (c.size() != 2 || c[0].empty() || c[1].empty())
            throw inputerror(in.number, "expected two columns, sample and population, not " + quote(t));
        const std::string sample(c[0]);
        const auto [at, fresh] = seen.try_emplace(sample, m.samples.size());
        if (!fresh)
            throw inputerror(in.number, "sample " + quote(sample) + " is named twice (also on line " +
                                            num(static_cast<std::size_t>(m.line[at->second])) +
                                            "): give each sample one population");
        const auto [p, newpop] = popno.try_emplace(std::string(c[1]), static_cast<int>(m.pops.size()));
        if (newpop)
            m.pops.emplace_back(c[1]);
        m.samples.push_back(sample);
        m.pop.push_back(p->second);
        m.line.push_back(in.number);
    }
    if (m.samples.empty())
        throw inputerror(0, "the population map names no sample");
    return m;
}

namespace {

struct closer {
    void operator()(bcf_srs_t* sr) const { bcf_sr_destroy(sr); }
};

// The genotypes of a record, in a buffer that htslib grows.
struct gtbuffer {
    std::int32_t* p = nullptr;
    int size = 0;
    gtbuffer() = default;
    gtbuffer(const gtbuffer&) = delete;
    gtbuffer& operator=(const gtbuffer&) = delete;
    ~gtbuffer() { std::free(p); }
};

std::string openfailure(int errnum, const vcfoptions& options)
{
    const bool regions = !options.regions.empty() || !options.regionsfile.empty();
    switch (errnum) {
    case open_failed:
        return "could not open the file";
    case not_bgzf:
        return "-r/-R read through the file's index, and the file is not compressed with bgzip: compress "
               "it (bgzip FILE) and index it (bcftools index FILE.gz)";
    case idx_load_failed:
        return regions
                   ? "-r/-R read through the file's index, and there is none: make one with bcftools index "
                     "FILE"
                   : "could not read the file's index";
    case file_type_error:
        return "not a VCF or BCF file (htslib does not recognise its content)";
    case header_error:
        return "the VCF header is damaged: htslib could not read it (bcftools view -h FILE shows where)";
    case no_eof:
        return "the file ends without bgzip's end-of-file block: it is truncated, or was written by a "
               "program that leaves the block out (decompress and bgzip it again); nothing is estimated "
               "from part of a file";
    default:
        return std::string("htslib could not read the file: ") + bcf_sr_strerror(errnum);
    }
}

std::string readfailure(int errnum, const std::string& where)
{
    const std::string after = where.empty() ? "the first record" : "the record after " + quote(where);
    if (errnum == vcf_parse_error)
        return after + " is not a valid VCF line (bcftools view FILE shows what htslib rejects)";
    if (errnum == bcf_read_error)
        return "could not read " + after +
               ": the file is truncated or damaged; nothing is estimated from part of a file";
    return "could not read " + after + ": " + bcf_sr_strerror(errnum);
}

// Two's complement bytes of a diploid call: 2 and 3 are allele 0
// (unphased, phased), 4 and 5 allele 1, 0 and 1 a missing call; 0x81 ends
// a haploid call. Each byte's table entry adds 1 to its allele's half of a
// 64-bit sum (the halves cannot carry: a population has fewer than 2^31
// samples).
struct calltables {
    std::uint64_t first[256] = {}, second[256] = {};
    std::uint8_t odd[256] = {};  // bit 0: not a call of the first copy; bit 1: of the second
    calltables()
    {
        for (int b = 0; b < 256; ++b)
            odd[b] = 3;
        for (const int b : {0, 1})
            odd[b] = 0;
        for (const int b : {2, 3, 4, 5}) {
            first[b] = second[b] = b < 4 ? 1 : std::uint64_t{1} << 32;
            odd[b] = 0;
        }
        odd[0x81] = 1;  // the second copy may end the call, the first not
    }
};

// The calls of samples that stand side by side in the file, bytes [0,
// bytes) of gt (two a sample), added to sum as the table adds them; odd set
// as the table sets it. With SSE2, 16 bytes at a time: h = byte / 2 is 1
// for allele 0 and 2 for allele 1, and a byte is a call when it is at most
// 5, or 0x81 in a second copy (the odd bytes, as the run starts at a
// sample).
void countrun(const std::uint8_t* gt, std::size_t bytes, const calltables& t, std::uint64_t& sum,
              unsigned& odd)
{
    std::size_t i = 0;
#if defined(__SSE2__) && defined(__x86_64__)
    const __m128i one = _mm_set1_epi8(1), two = _mm_set1_epi8(2), five = _mm_set1_epi8(5);
    const __m128i low7 = _mm_set1_epi8(0x7f), ended = _mm_set1_epi8(static_cast<char>(0x81));
    const __m128i secondcopy = _mm_set1_epi16(static_cast<short>(0xff00));
    // Each byte lane counts its calls of allele 0 and allele 1 (at most 255
    // a lane before they are added up).
    __m128i zeros = _mm_setzero_si128(), others = zeros;
    std::uint64_t zero = 0, other = 0;
    const auto addup = [&] {
        const __m128i a = _mm_sad_epu8(zeros, _mm_setzero_si128()),
                      b = _mm_sad_epu8(others, _mm_setzero_si128());
        zero +=
            static_cast<std::uint64_t>(_mm_cvtsi128_si64(a) + _mm_cvtsi128_si64(_mm_unpackhi_epi64(a, a)));
        other +=
            static_cast<std::uint64_t>(_mm_cvtsi128_si64(b) + _mm_cvtsi128_si64(_mm_unpackhi_epi64(b, b)));
        zeros = others = _mm_setzero_si128();
    };
    int notcall = 0, chunks = 0;
    for (; i + 16 <= bytes; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(gt + i));
        const __m128i h = _mm_and_si128(_mm_srli_epi16(v, 1), low7);
        zeros = _mm_sub_epi8(zeros, _mm_cmpeq_epi8(h, one));
        others = _mm_sub_epi8(others, _mm_cmpeq_epi8(h, two));
        const __m128i call = _mm_cmpeq_epi8(_mm_min_epu8(v, five), v);
        const __m128i end = _mm_and_si128(_mm_cmpeq_epi8(v, ended), secondcopy);
        notcall |= _mm_movemask_epi8(_mm_or_si128(call, end)) ^ 0xffff;
        if (++chunks == 255) {
            addup();
            chunks = 0;
        }
    }
    addup();
    sum += zero + (other << 32);
    odd |= notcall != 0 ? 1u : 0u;
#endif
    for (; i < bytes; i += 2) {
        sum += t.first[gt[i]] + t.second[gt[i + 1]];
        odd |= (t.odd[gt[i]] & 1u) | (t.odd[gt[i + 1]] & 2u);
    }
}

// The calls of a biallelic site with two 8-bit calls a sample (nearly every
// SNP of a diploid panel), counted into raw[2 p] and raw[2 p + 1] by table;
// a population whose samples stand side by side in the file (side[p], its
// first sample; -1 when they do not) as one run of bytes. Returns false,
// leaving the counting to the general reader, when any call is something
// else (an allele beyond the two, or a sample that ends after no call).
bool countdiploid(const std::uint8_t* gt, const std::vector<int>& order,
                  const std::vector<std::size_t>& popstart, const std::vector<int>& side,
                  std::vector<std::int64_t>& raw)
{
    static const calltables t;
    unsigned odd = 0;
    for (std::size_t p = 0; p + 1 < popstart.size(); ++p) {
        std::uint64_t sum = 0;
        if (side[p] >= 0) {
            countrun(gt + 2 * static_cast<std::size_t>(side[p]), 2 * (popstart[p + 1] - popstart[p]), t, sum,
                     odd);
        } else {
            for (std::size_t i = popstart[p]; i < popstart[p + 1]; ++i) {
                const std::uint8_t* g = gt + 2 * static_cast<std::size_t>(order[i]);
                sum += t.first[g[0]] + t.second[g[1]];
                odd |= (t.odd[g[0]] & 1u) | (t.odd[g[1]] & 2u);
            }
        }
        raw[2 * p] = static_cast<std::int64_t>(sum & 0xffffffffu);
        raw[2 * p + 1] = static_cast<std::int64_t>(sum >> 32);
    }
    return odd == 0;
}

}  // namespace

vcfstats readvcf(const std::string& file, const popmap& map, const vcfoptions& options, bool genes,
                 const std::function<void(const vcfsite&)>& each)
{
    // Every problem becomes a message of ours; htslib's own would echo the
    // file's bytes unescaped.
    hts_set_log_level(HTS_LOG_OFF);
    const std::unique_ptr<bcf_srs_t, closer> sr(bcf_sr_init());
    if (!sr)
        throw inputerror(0, "out of memory");
    if (options.threads > 0 && bcf_sr_set_threads(sr.get(), options.threads) < 0)
        throw inputerror(0, "could not start " + num(static_cast<std::size_t>(options.threads)) + " threads");
    if (!options.regions.empty() || !options.regionsfile.empty()) {
        // A record belongs to the region its POS lies in, so that regions that
        // tile a genome count every site once.
        bcf_sr_set_opt(sr.get(), BCF_SR_REGIONS_OVERLAP, 0);
        const bool isfile = options.regions.empty();
        const std::string& what = isfile ? options.regionsfile : options.regions;
        if (bcf_sr_set_regions(sr.get(), what.c_str(), isfile ? 1 : 0) < 0)
            throw inputerror(0, isfile
                                    ? "-R: could not read the regions file " + quote(what)
                                    : "-r: " + quote(what) + " is not a list of regions (chr, chr:from-to)");
        bcf_sr_set_opt(sr.get(), BCF_SR_REQUIRE_IDX);
    }
    if (bcf_sr_add_reader(sr.get(), file.c_str()) == 0)
        throw inputerror(0, openfailure(sr->errnum, options));
    if (sr->errnum != 0)
        throw inputerror(0, openfailure(sr->errnum, options));

    bcf_hdr_t* hdr = bcf_sr_get_header(sr.get(), 0);
    const int nsamples = bcf_hdr_nsamples(hdr);
    vcfstats stats;
    stats.format = hts_get_format(sr->readers[0].file)->format == bcf ? "BCF" : "VCF";
    stats.samples = static_cast<std::size_t>(nsamples);

    // The population of each column, and the mapped columns grouped by
    // population in the order of the file.
    std::unordered_map<std::string_view, std::size_t> inmap;
    for (std::size_t i = 0; i < map.samples.size(); ++i)
        inmap.emplace(map.samples[i], i);
    std::vector<char> found(map.samples.size(), 0);
    std::vector<int> popof(static_cast<std::size_t>(nsamples), -1);
    std::vector<int> order;
    for (int s = 0; s < nsamples; ++s) {
        const auto it = inmap.find(hdr->samples[s]);
        if (it == inmap.end()) {
            ++stats.unmapped;
            continue;
        }
        found[it->second] = 1;
        popof[static_cast<std::size_t>(s)] = map.pop[it->second];
        order.push_back(s);
    }
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        return popof[static_cast<std::size_t>(a)] < popof[static_cast<std::size_t>(b)];
    });
    for (const int s : order)
        stats.mapped.push_back(inmap.at(hdr->samples[s]));
    // Where each population's samples begin in order.
    std::vector<std::size_t> popstart(map.pops.size() + 1, 0);
    for (const int s : order)
        ++popstart[static_cast<std::size_t>(popof[static_cast<std::size_t>(s)]) + 1];
    for (std::size_t p = 1; p < popstart.size(); ++p)
        popstart[p] += popstart[p - 1];
    // side[p]: the first sample of population p when its samples stand side
    // by side in the file (the calls of a site are then one run of bytes);
    // -1 otherwise.
    std::vector<int> side(map.pops.size(), -1);
    for (std::size_t p = 0; p < side.size(); ++p) {
        bool together = popstart[p] < popstart[p + 1];
        for (std::size_t i = popstart[p] + 1; together && i < popstart[p + 1]; ++i)
            together = order[i] == order[i - 1] + 1;
        if (together)
            side[p] = order[popstart[p]];
    }
    std::string absent;
    std::size_t nabsent = 0;
    for (std::size_t i = 0; i < map.samples.size(); ++i)
        if (!found[i] && nabsent++ < 5)
            absent += (absent.empty() ? "" : ", ") + quote(map.samples[i]);
    if (nabsent > 0)
        throw inputerror(0, "the population map names " + count(nabsent, "sample", "samples") +
                                " that the file does not hold: " + absent + (nabsent > 5 ? ", ..." : "") +
                                " (bcftools query -l FILE lists the file's samples)");

    const auto npops = map.pops.size();
    const int passid = bcf_hdr_id2int(hdr, BCF_DT_ID, "PASS");
    gtbuffer gt;
    std::vector<std::int64_t> raw;  // raw[p * n_allele + a]
    std::vector<std::int64_t> total;
    std::vector<int> number;  // number[a]: allele a's place in site.allele, or -1
    vcfsite site;
    // The last record read, for messages; empty before the first.
    bool any = false;
    const auto where = [&] {
        return any ? std::string(site.chrom) + ":" + std::to_string(site.pos) : std::string();
    };
    std::int64_t withgt = 0;
    while (bcf_sr_next_line(sr.get()) > 0) {
        bcf1_t* rec = bcf_sr_get_line(sr.get(), 0);
        site.chrom = bcf_hdr_id2name(hdr, rec->rid);
        site.pos = rec->pos + 1;
        any = true;
        // The reader reads ahead: a fault it met lies after this record.
        if (sr->errnum != 0)
            throw inputerror(0, readfailure(sr->errnum, where()));
        ++stats.records;
        if (options.passonly) {
            bcf_unpack(rec, BCF_UN_FLT);
            if (!(rec->d.n_flt == 1 && rec->d.flt[0] == passid)) {
                ++stats.notpass;
                continue;
            }
        }
        // htslib ends the process on a GT field of a type it does not expect,
        // so the type is checked here first.
        bcf_unpack(rec, BCF_UN_FMT);
        const bcf_fmt_t* fmt = bcf_get_fmt(hdr, rec, "GT");
        if (fmt != nullptr && fmt->type != BCF_BT_INT8 && fmt->type != BCF_BT_INT16 &&
            fmt->type != BCF_BT_INT32)
            throw inputerror(0, quote(where()) + ": the genotypes (FORMAT GT) cannot be read");
        // Calls in 8 bits (fewer than 63 alleles: nearly every file) are
        // read where htslib keeps them; others through bcf_get_genotypes,
        // which widens them to 32 bits.
        const std::uint8_t* gt8 = nullptr;
        const std::int32_t* rawgt = nullptr;
        int ploidy = 0;
        if (fmt != nullptr && fmt->type == BCF_BT_INT8 && fmt->p != nullptr && nsamples > 0) {
            gt8 = fmt->p;
            ploidy = fmt->n;
        } else {
            const int ngt = bcf_get_genotypes(hdr, rec, &gt.p, &gt.size);
            rawgt = gt.p;
            if (ngt == -3 || nsamples == 0) {  // no GT in this record: no genes
                ++stats.fewpops;
                continue;
            }
            if (ngt < 0)
                throw inputerror(0, quote(where()) + ": the genotypes (FORMAT GT) cannot be read");
            ploidy = ngt / nsamples;
        }
        // The allele of gene copy c of sample s, ENDED past the sample's
        // last copy (a haploid call among diploid ones), below 0 if missing.
        constexpr int ENDED = std::numeric_limits<int>::min();
        const auto allele = [&](int s, int c) {
            const std::size_t at =
                static_cast<std::size_t>(s) * static_cast<std::size_t>(ploidy) + static_cast<std::size_t>(c);
            int v = 0;
            if (gt8 != nullptr) {
                // Two's complement bytes: 0x81 is htslib's end of a sample's calls.
                const unsigned byte = gt8[at];
                if (byte == 0x81u)
                    return ENDED;
                v = static_cast<int>(byte) - (byte >= 0x80u ? 0x100 : 0);
            } else {
                if (rawgt[at] == bcf_int32_vector_end)
                    return ENDED;
                v = rawgt[at];
            }
            return bcf_gt_is_missing(v) ? -1 : bcf_gt_allele(v);
        };
        ++withgt;
        const int nal = rec->n_allele;
        raw.assign(npops * static_cast<std::size_t>(nal), 0);
        if (gt8 != nullptr && ploidy == 2 && nal == 2 && countdiploid(gt8, order, popstart, side, raw)) {
            // counted
        } else {
            for (const int s : order) {
                std::int64_t* r = &raw[static_cast<std::size_t>(popof[static_cast<std::size_t>(s)]) * nal];
                for (int c = 0; c < ploidy; ++c) {
                    const int a = allele(s, c);
                    if (a == ENDED)
                        break;
                    if (a < 0)
                        continue;
                    if (a >= nal)
                        throw inputerror(0, quote(where()) + ": a genotype names allele " +
                                                std::to_string(a) + ", and the record has " +
                                                count(nal - 1, "ALT", "ALTs") + ": the file is damaged");
                    ++r[a];
                }
            }
        }
        // The site is kept when at least two populations have genes.
        total.assign(static_cast<std::size_t>(nal), 0);
        std::size_t typed = 0;
        int carried = 0;
        for (std::size_t p = 0; p < npops; ++p) {
            std::int64_t genesofp = 0;
            for (int a = 0; a < nal; ++a) {
                if (raw[p * nal + a] > MAXCOUNT)
                    throw inputerror(0, quote(where()) + ": population " + quote(map.pops[p]) +
                                            " has more than " + std::to_string(MAXCOUNT) +
                                            " genes of one allele at this site");
                genesofp += raw[p * nal + a];
                total[a] += raw[p * nal + a];
            }
            typed += genesofp > 0;
        }
        if (typed < 2) {
            ++stats.fewpops;
            continue;
        }
        for (int a = 0; a < nal; ++a)
            carried += total[a] > 0;
        // Number the alleles as first met; the scan stops once all are found.
        number.assign(static_cast<std::size_t>(nal), -1);
        site.allele.clear();
        for (std::size_t i = 0; i < order.size() && static_cast<int>(site.allele.size()) < carried; ++i) {
            for (int c = 0; c < ploidy; ++c) {
                const int a = allele(order[i], c);
                if (a == ENDED)
                    break;
                if (a >= 0 && number[a] < 0) {
                    number[a] = static_cast<int>(site.allele.size());
                    site.allele.push_back(a);
                }
            }
        }
        const std::size_t k = site.allele.size();
        site.n.assign(npops * k, 0);
        for (std::size_t p = 0; p < npops; ++p)
            for (std::size_t j = 0; j < k; ++j)
                site.n[p * k + j] = static_cast<std::int32_t>(raw[p * nal + site.allele[j]]);
        if (genes) {
            bcf_unpack(rec, BCF_UN_STR);
            site.label.clear();
            for (const int a : site.allele)
                site.label.emplace_back(rec->d.allele[a]);
            site.ploidy = ploidy;
            site.genes.clear();
            for (const int s : order) {
                bool end = false;
                for (int c = 0; c < ploidy; ++c) {
                    const int a = end ? ENDED : allele(s, c);
                    end = a == ENDED;
                    site.genes.push_back(end ? ABSENT : a < 0 ? MISSING : number[a]);
                }
            }
        }
        ++stats.sites;
        each(site);
    }
    // The reader takes a damaged block of a compressed VCF for its end; the
    // block's error stays behind in the stream.
    const BGZF* z = hts_get_bgzfp(sr->readers[0].file);
    if (sr->errnum == 0 && z != nullptr && z->errcode != 0)
        sr->errnum = bcf_read_error;
    if (sr->errnum != 0)
        throw inputerror(0, readfailure(sr->errnum, where()));
    if (stats.records > 0 && withgt == 0 && stats.notpass < stats.records)
        throw inputerror(0, "no record holds genotype calls (FORMAT GT): vornstat counts the genes of called "
                            "genotypes");
    return stats;
}

std::string vcflayout(const vcfstats& s, std::size_t npops)
{
    std::string text = count(s.samples - s.unmapped, "sample", "samples") + " in " +
                       count(npops, "population", "populations");
    if (s.unmapped > 0)
        text += ", " + num(s.unmapped) + " not in the map skipped";
    text += "; " + count(static_cast<std::size_t>(s.records), "record", "records") + " read, " +
            count(static_cast<std::size_t>(s.sites), "site", "sites") + " kept";
    if (s.fewpops > 0)
        text += ", " + num(static_cast<std::size_t>(s.fewpops)) + " with fewer than two populations typed";
    if (s.notpass > 0)
        text += ", " + num(static_cast<std::size_t>(s.notpass)) + " not PASS";
    return text;
}

dataset readvcfdataset(const std::string& file, const popmap& map, const vcfoptions& options)
{
    dataset d;
    d.format = "VCF";
    std::vector<std::vector<int>> genes;  // per site, as vcfsite holds them
    std::vector<int> ploidy;
    std::set<std::string> taken;
    const vcfstats stats = readvcf(file, map, options, true, [&](const vcfsite& s) {
        std::string name = std::string(s.chrom) + ":" + std::to_string(s.pos);
        if (!taken.insert(name).second) {
            int n = 2;
            std::string renamed;
            while (!taken.insert(renamed = name + "_" + std::to_string(n)).second)
                ++n;
            d.warnings.push_back(
                {0, "a second record at " + quote(name) + ": its locus is named " + quote(renamed)});
            name = renamed;
        }
        locus l;
        l.name = std::move(name);
        for (const std::string_view a : s.label)
            l.alleles.emplace_back(a);
        d.loci.push_back(std::move(l));
        genes.push_back(s.genes);
        ploidy.push_back(s.ploidy);
    });
    d.layout = vcflayout(stats, map.pops.size());
    d.ploidy = std::max(1, ploidy.empty() ? 1 : *std::max_element(ploidy.begin(), ploidy.end()));

    // Individuals in the order their genes came: by population, then in the
    // order of the file.
    for (const std::string& name : map.pops)
        d.pops.push_back({name, 0, {}});
    for (std::size_t next = 0; next < stats.mapped.size(); ++next) {
        const std::size_t i = stats.mapped[next];
        individual ind;
        ind.name = map.samples[i];
        ind.line = map.line[i];
        for (std::size_t l = 0; l < genes.size(); ++l)
            for (int c = 0; c < d.ploidy; ++c)
                ind.genes.push_back(c < ploidy[l] ? genes[l][next * ploidy[l] + c] : ABSENT);
        d.pops[static_cast<std::size_t>(map.pop[i])].members.push_back(std::move(ind));
    }
    if (d.loci.empty())
        throw inputerror(0, "no site kept (" + d.layout + ")");
    return d;
}

}  // namespace formats
