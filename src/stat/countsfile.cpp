#include "stat/countsfile.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <stdexcept>
#include <unordered_map>

#include "core/escape.h"
#include "stat/input.h"

namespace {

constexpr std::string_view MAGIC = "#vorncounts 1";

bool plaincell(std::string_view s)
{
    return std::none_of(s.begin(), s.end(), [](char c) { return c == '\t' || c == '\n' || c == '\r'; });
}

std::string shown(std::string_view s)
{
    std::string out(1, '\'');
    out += escaped(s.substr(0, 40));
    out += s.size() > 40 ? "...'" : "'";
    return out;
}

// The fields of a line separated by tabs.
void split(std::string_view line, std::vector<std::string_view>& out)
{
    out.clear();
    for (;;) {
        const std::size_t tab = line.find('\t');
        out.push_back(line.substr(0, tab));
        if (tab == std::string_view::npos)
            return;
        line.remove_prefix(tab + 1);
    }
}

bool whole(std::string_view s, std::int64_t& v)
{
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    return !s.empty() && ec == std::errc() && end == s.data() + s.size() && v >= 0;
}

// One count file appended to the table t; the stretch of each chromosome
// that it covers goes to spans.
void readone(std::istream& in, const std::string& file, bool first, countstable& t,
             std::map<std::string, std::vector<std::pair<std::int64_t, std::int64_t>>>& spans,
             std::set<std::string>& unplaced)
{
    std::string line;
    int number = 0;
    auto fail = [&](const std::string& what) {
        readerror e(number, what);
        e.file = file;
        throw e;
    };
    auto next = [&]() {
        if (!std::getline(in, line))
            return false;
        ++number;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        return true;
    };
    if (!next() || !line.starts_with(MAGIC))
        fail("not a count file: it does not begin with '#vorncounts 1'");
    const std::string_view how = std::string_view(line).substr(MAGIC.size());
    const bool passonly = how == " filter=PASS";
    if (!passonly && how != " filter=all")
        fail("expected 'filter=all' or 'filter=PASS' after '#vorncounts 1'");
    if (!first && passonly != t.passonly)
        fail(std::string("counted ") + (passonly ? "with" : "without") +
             " --pass-only, and the parts before " + (passonly ? "without" : "with") +
             ": count every part the same way");
    t.passonly = passonly;

    std::vector<std::string_view> f;
    if (!next())
        fail("no header line (chrom, pos and the populations)");
    split(line, f);
    if (f.size() < 3 || f[0] != "chrom" || f[1] != "pos")
        fail("the header line must be chrom, pos and the populations, separated by tabs");
    std::vector<std::string> pops(f.begin() + 2, f.end());
    if (first) {
        if (std::set<std::string>(pops.begin(), pops.end()).size() != pops.size() ||
            std::find(pops.begin(), pops.end(), "") != pops.end())
            fail("populations must have names, each its own");
        t.table.popnames = pops;
    } else if (pops != t.table.popnames) {
        fail("its populations are not those of the parts before, in the same order: count every part "
             "with the same population map");
    }
    const std::size_t npops = pops.size();

    counts& c = t.table;
    positions& w = t.where;
    std::unordered_map<std::string, int> chromno;
    for (std::size_t i = 0; i < w.chroms.size(); ++i)
        chromno.emplace(w.chroms[i], static_cast<int>(i));
    std::map<std::string, std::pair<std::int64_t, std::int64_t>> mine;  // this file's stretches
    std::set<std::string> mynames;
    std::vector<std::int32_t> cell;
    while (next()) {
        split(line, f);
        if (f.size() != npops + 2)
            fail("expected " + std::to_string(npops + 2) +
                 " fields (chrom, pos and one per population), not " + std::to_string(f.size()));
        if (f[0].empty())
            fail("no chromosome or locus name");
        std::int64_t pos = 0;
        const bool placed = f[1] != ".";
        if (placed && (!whole(f[1], pos) || pos < 1))
            fail("the position must be a whole number from 1, or '.', not " + shown(f[1]));
        cell.clear();
        int nalleles = 0;
        for (std::size_t p = 0; p < npops; ++p) {
            std::string_view s = f[p + 2];
            int k = 0;
            for (;;) {
                const std::size_t comma = s.find(',');
                std::int64_t v = 0;
                if (!whole(s.substr(0, comma), v))
                    fail("a count must be a whole number, not " + shown(s.substr(0, comma)));
                if (v > MAXCOUNT)
                    fail("a count above " + std::to_string(MAXCOUNT) + " (" + shown(s.substr(0, comma)) +
                         "): a cell holds at most that many genes");
                cell.push_back(static_cast<std::int32_t>(v));
                ++k;
                if (comma == std::string_view::npos)
                    break;
                s.remove_prefix(comma + 1);
            }
            if (p == 0)
                nalleles = k;
            else if (k != nalleles)
                fail("population " + shown(pops[p]) + " has " + std::to_string(k) + " counts, and " +
                     shown(pops[0]) + " " + std::to_string(nalleles) + ": each cell needs one per allele");
        }
        const std::string chrom(f[0]);
        std::string name;
        if (placed) {
            auto [it, fresh] = chromno.try_emplace(chrom, static_cast<int>(w.chroms.size()));
            if (fresh)
                w.chroms.push_back(chrom);
            w.chrom.push_back(it->second);
            w.pos.push_back(pos);
            auto [span, created] = mine.try_emplace(chrom, pos, pos);
            span->second.first = std::min(span->second.first, pos);
            span->second.second = std::max(span->second.second, pos);
            name = chrom + ":" + std::to_string(pos);  // as the VCF reader names it
        } else {
            if (!w.chrom.empty())
                fail("a locus without a position among sites with positions");
            if (unplaced.contains(chrom))
                fail("locus " + shown(chrom) + " is also in a part before: it would count twice");
            mynames.insert(chrom);
            name = chrom;
        }
        if (placed && (!unplaced.empty() || !mynames.empty()))
            fail("a site with a position among loci without positions");
        c.addlocus(std::move(name), nalleles, cell.data());
    }
    if (in.bad())
        fail("could not read the file");
    for (const auto& [chrom, span] : mine) {
        for (const auto& [lo, hi] : spans[chrom])
            if (span.first <= hi && lo <= span.second)
                fail("it holds sites of " + shown(chrom) + " from " + std::to_string(span.first) + " to " +
                     std::to_string(span.second) + ", and a part before holds sites from " +
                     std::to_string(lo) + " to " + std::to_string(hi) +
                     ": a site would count twice; give each part once");
        spans[chrom].push_back(span);
    }
    unplaced.insert(mynames.begin(), mynames.end());
}

}  // namespace

bool iscountfile(std::string_view head)
{
    return head.starts_with("#vorncounts");
}

bool iscountfilenamed(const std::string& file)
{
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec))
        return false;  // a pipe would lose the bytes read
    std::ifstream in(file, std::ios::binary);
    char h[11] = {};
    in.read(h, sizeof h);
    return iscountfile(std::string_view(h, static_cast<std::size_t>(in.gcount())));
}

void writecounts(std::ostream& out, const countstable& t)
{
    const counts& c = t.table;
    for (const std::string& p : c.popnames)
        if (!plaincell(p))
            throw std::invalid_argument("population " + shown(p) + " has a tab or a line break in its name");
    std::string buf;
    buf += MAGIC;
    buf += t.passonly ? " filter=PASS\nchrom\tpos" : " filter=all\nchrom\tpos";
    for (const std::string& p : c.popnames)
        buf += "\t" + p;
    buf += '\n';
    const bool placed = !t.where.chrom.empty();
    char num[24];
    for (int l = 0; l < c.nloci(); ++l) {
        if (placed) {
            buf += t.where.chroms[static_cast<std::size_t>(t.where.chrom[l])];
            buf += '\t';
            buf.append(num, std::to_chars(num, num + sizeof num, t.where.pos[l]).ptr);
        } else {
            if (!plaincell(c.locusnames[l]))
                throw std::invalid_argument("locus " + shown(c.locusnames[l]) +
                                            " has a tab or a line break in its name");
            buf += c.locusnames[l];
            buf += "\t.";
        }
        for (int p = 0; p < c.npops(); ++p) {
            const std::int32_t* n = c.at(p, l);
            for (int k = 0; k < c.nalleles[l]; ++k) {
                buf += k == 0 ? '\t' : ',';
                buf.append(num, std::to_chars(num, num + sizeof num, n[k]).ptr);
            }
        }
        buf += '\n';
        if (buf.size() > (1 << 16)) {
            out << buf;
            buf.clear();
        }
    }
    out << buf;
}

countstable readcounts(const std::vector<std::string>& files, std::istream& standard)
{
    countstable t;
    std::map<std::string, std::vector<std::pair<std::int64_t, std::int64_t>>> spans;
    std::set<std::string> unplaced;
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (files[i] == "-") {
            readone(standard, files[i], i == 0, t, spans, unplaced);
            continue;
        }
        std::ifstream in(files[i], std::ios::binary);
        if (!in) {
            readerror e(0, "could not open the file");
            e.file = files[i];
            throw e;
        }
        readone(in, files[i], i == 0, t, spans, unplaced);
    }
    // The table grew by doubling: give back the room it did not fill.
    t.table.n.shrink_to_fit();
    t.table.offset.shrink_to_fit();
    return t;
}
