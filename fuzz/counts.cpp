// Fuzz target: vornstat's count files, and its analyses on what they hold.
//
// An input is one or two count files (split at the first NUL byte), read
// together as vornstat reads its inputs. Each read must end in a table, or
// in a readerror with a message. A table must keep its shape (a locus's
// cells line up with its alleles, counts lie between 0 and MAXCOUNT, places
// match loci); written back as a count file and read again it must be the
// same table. A small table is then analysed as vornstat does (global,
// per locus, per population, pairwise, and windows where the sites have
// places): every estimate lies in the search range, inside its own profile
// interval, and every test's p-value in [0, 1]. Crashes, hangs and
// undefined behaviour are caught by the sanitizers.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/estimate.h"
#include "harness.h"
#include "stat/analysis.h"
#include "stat/countsfile.h"
#include "stat/input.h"
#include "stat/windows.h"

namespace {

using fuzz::require;

// The table, or nothing when the files are refused.
bool read(const std::vector<std::string>& parts, countstable& t)
{
    // Each part is standard input in turn: readcounts reads "-" from the
    // stream it is given, so the parts go through files of their own.
    std::vector<std::string> names;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        char name[] = "/tmp/vorn-fuzz-counts-XXXXXX";
        const int fd = mkstemp(name);
        require(fd >= 0, "no temporary file");
        FILE* f = fdopen(fd, "wb");
        require(f != nullptr && std::fwrite(parts[i].data(), 1, parts[i].size(), f) == parts[i].size() &&
                    std::fclose(f) == 0,
                "temporary file not written");
        names.emplace_back(name);
    }
    bool ok = true;
    try {
        std::istringstream none;
        t = readcounts(names, none);
    } catch (const readerror& e) {
        require(std::string(e.what()).size() > 0, "a refusal without a message");
        ok = false;
    }
    for (const std::string& n : names)
        std::remove(n.c_str());
    return ok;
}

void checkshape(const countstable& t)
{
    const counts& c = t.table;
    require(c.nalleles.size() == c.locusnames.size() && c.offset.size() == c.locusnames.size() &&
                c.step.size() == c.locusnames.size() && c.view == nullptr,
            "locus arrays of different lengths");
    std::size_t cells = 0;
    for (std::size_t l = 0; l < c.locusnames.size(); ++l) {
        require(c.nalleles[l] >= 0 && c.offset[l] == cells &&
                    c.step[l] == static_cast<std::size_t>(c.nalleles[l]),
                "locus " + std::to_string(l) + " out of line");
        cells += static_cast<std::size_t>(c.nalleles[l]) * c.popnames.size();
    }
    require(cells == c.n.size(), "cells and counts differ");
    for (const std::int32_t x : c.n)
        require(x >= 0, "a negative count");
    const positions& w = t.where;
    require(w.chrom.size() == w.pos.size(), "chromosomes and positions differ");
    require(w.chrom.empty() || w.chrom.size() == c.locusnames.size(), "places and loci differ");
    for (std::size_t l = 0; l < w.chrom.size(); ++l)
        require(w.chrom[l] >= 0 && static_cast<std::size_t>(w.chrom[l]) < w.chroms.size() && w.pos[l] >= 1,
                "a place out of range");
}

void checkresult(const result& r)
{
    if (r.where == fitend::root) {
        require(r.theta >= LOWEST && r.theta <= HIGHEST, "estimate out of range: " + std::to_string(r.theta));
        const interval& in = r.profile;
        require(in.low.kind != limit::value || in.low.x <= r.theta * (1 + 1e-6),
                "profile interval above theta");
        require(in.high.kind != limit::value || in.high.x >= r.theta * (1 - 1e-6),
                "profile interval below theta");
    }
    if (r.tested)
        require(r.p >= 0.0 && r.p <= 1.0 && r.lr >= 0.0, "test out of range");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string input(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> parts;
    const std::size_t nul = input.find('\0');
    parts.push_back(input.substr(0, nul));
    if (nul != std::string::npos)
        parts.push_back(input.substr(nul + 1));

    countstable t;
    if (!read(parts, t))
        return 0;
    checkshape(t);

    // Written back and read again: the same table.
    std::ostringstream out;
    try {
        writecounts(out, t);
    } catch (const std::invalid_argument&) {
        return 0;  // a name that cannot stand in a cell
    }
    countstable back;
    require(read({out.str()}, back), "the table written is refused: " + out.str().substr(0, 200));
    require(back.table.popnames == t.table.popnames && back.table.locusnames == t.table.locusnames &&
                back.table.nalleles == t.table.nalleles && back.table.n == t.table.n &&
                back.where.chroms == t.where.chroms && back.where.chrom == t.where.chrom &&
                back.where.pos == t.where.pos && back.passonly == t.passonly,
            "the table read back differs");

    // The analyses go through every copy of every allele: only small tables.
    const counts& c = t.table;
    std::int64_t genes = 0;
    for (const std::int32_t x : c.n)
        genes += x;
    if (genes > 20000 || c.npops() > 8 || c.nloci() > 64)
        return 0;
    settings s;
    s.perlocus = s.perpop = s.pairwise = true;
    for (const result& r : analyse(c, s))
        checkresult(r);
    if (!t.where.chrom.empty() && windowcount(t.where, 1000, 500) <= 10000)
        for (const result& r : windows(c, t.where, 1000, 500, s))
            checkresult(r);
    return 0;
}
