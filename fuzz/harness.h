// What the fuzz targets share: running vorn's reader on a block of bytes, and
// the checks that every record it accepts must pass.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>

#include "core/datastr.h"
#include "core/failure.h"
#include "formats/vorndata.h"

namespace fuzz {

// Stops the run with a report on the real standard error; libFuzzer then
// saves the input.
[[noreturn]] inline void broken(const std::string& what)
{
    std::fprintf(stderr, "\nfuzz check failed: %s\n", what.c_str());
    std::fflush(stderr);
    std::abort();
}

inline void require(bool ok, const std::string& what)
{
    if (!ok)
        broken(what);
}

// How one read ended: accepted (the reader returned) or stopped with a
// failure, with the progress text it wrote and the failure's message.
struct outcome {
    bool accepted = false;
    std::string out, err;
};

// The part of a record that a read can have written: everything ahead of the
// counts, and the counts of populations 0 to npops. The reader writes counts
// only after npops has been checked, so nothing beyond is ever touched;
// checkrecord makes sure of that whenever a record is accepted.
inline std::size_t usedbytes(const datastr& d)
{
    const std::size_t rows = d.npops >= 0 && d.npops < MAXPOPS ? d.npops + 1 : MAXPOPS;
    return offsetof(datastr, allelecount) + rows * sizeof d.allelecount[0];
}

// A record zero-filled as the driver hands it to the reader. The three records
// of a target are allocated once and cleared where the last read wrote, so
// that the address sanitizer watches their ends and each input costs no
// fresh two-megabyte mapping.
inline datastr* zeroedrecord(int which)
{
    static datastr* records[3] = {new datastr(), new datastr(), new datastr()};
    datastr* d = records[which];
    std::memset(d, 0, usedbytes(*d));
    return d;
}

// Runs the reader on an open source.
inline outcome readsource(source& in, datastr* record, const char* name = "fuzz.nex")
{
    std::ostringstream progress;
    outcome o;
    try {
        readdata(in, name, record, &progress);
        o.accepted = true;
    } catch (const failure& f) {
        o.err = f.what();
    }
    o.out = progress.str();
    return o;
}

// Reads the bytes from memory.
inline outcome readmemory(const std::uint8_t* bytes, std::size_t size, datastr* record,
                          const char* name = "fuzz.nex")
{
    source in;
    in.pos = bytes;
    in.end = bytes + size;
    return readsource(in, record, name);
}

// What every record that the reader accepted must satisfy: dimensions within
// the capacities, allele numbers within the table, every numbered allele
// counted somewhere, and nothing at all outside the ranges that carry data.
inline void checkrecord(const datastr& d)
{
    require(d.nloci >= 1 && d.nloci < MAXLOCI, "nloci out of range: " + std::to_string(d.nloci));
    require(d.npops >= 1 && d.npops < MAXPOPS, "npops out of range: " + std::to_string(d.npops));
    for (int l = 0; l < MAXLOCI; ++l) {
        const bool used = l >= 1 && l <= d.nloci;
        require(used ? d.nalleles[l] >= 0 && d.nalleles[l] < MAXALLELES : d.nalleles[l] == 0,
                "nalleles[" + std::to_string(l) + "] = " + std::to_string(d.nalleles[l]));
    }
    for (int p = 0; p < MAXPOPS; ++p)
        for (int l = 0; l < MAXLOCI; ++l)
            for (int k = 0; k < MAXALLELES; ++k) {
                const bool used = p >= 1 && p <= d.npops && l >= 1 && l <= d.nloci && k >= 1 && k <= d.nalleles[l];
                const std::int32_t n = d.allelecount[p][l][k];
                if (!used && n != 0)
                    broken("count outside the data: allelecount[" + std::to_string(p) + "][" + std::to_string(l) +
                           "][" + std::to_string(k) + "] = " + std::to_string(n));
                if (used)
                    require(n >= 0, "negative count");
            }
    for (int l = 1; l <= d.nloci; ++l)
        for (int k = 1; k <= d.nalleles[l]; ++k) {
            std::int64_t pooled = 0;
            for (int p = 1; p <= d.npops; ++p)
                pooled += d.allelecount[p][l][k];
            require(pooled >= 1, "allele " + std::to_string(k) + " of locus " + std::to_string(l) + " never counted");
        }
    // Labels and names end within their slots.
    for (int l = 0; l < MAXLOCI; ++l)
        require(std::char_traits<char>::find(d.locuslabel[l], LABELLEN, '\0') != nullptr, "label not terminated");
    for (int p = 0; p < MAXPOPS; ++p)
        require(std::char_traits<char>::find(d.popname[p], LABELLEN, '\0') != nullptr, "name not terminated");
}

}  // namespace fuzz
