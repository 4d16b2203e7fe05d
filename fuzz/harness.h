// What both fuzz targets share: running the reader on a block of bytes with
// the console redirected, and the checks that every record it accepts must pass.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>

#include "driver/datastr.h"
#include "reader/reader.h"

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

// A stream buffer that takes everything and keeps nothing.
struct nullbuf : std::streambuf {
    int overflow(int c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

// While alive, std::cout and std::cerr write into the given buffers.
class redirect {
public:
    redirect(std::streambuf* out, std::streambuf* err)
        : out_(std::cout.rdbuf(out)), err_(std::cerr.rdbuf(err))
    {
    }
    ~redirect()
    {
        std::cout.rdbuf(out_);
        std::cerr.rdbuf(err_);
    }
    redirect(const redirect&) = delete;
    redirect& operator=(const redirect&) = delete;

private:
    std::streambuf* out_;
    std::streambuf* err_;
};

// How one read ended: accepted (the reader returned) or stopped with a
// message, and what it wrote on each stream.
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

// A record zero-filled as the driver hands it to the reader. The two records
// of a target are allocated once and cleared where the last read wrote, so
// that the address sanitizer watches their ends and each input costs no
// fresh two-megabyte mapping.
inline datastr* zeroedrecord(int which)
{
    static datastr* records[2] = {new datastr(), new datastr()};
    datastr* d = records[which];
    std::memset(d, 0, usedbytes(*d));
    return d;
}

// Runs the reader on an open source with the console redirected; true when
// it accepted the file, false when it stopped with a message.
inline bool readsource(source& in, datastr* record, std::streambuf* out, std::streambuf* err)
{
    redirect quiet(out, err);
    try {
        readdata(in, "fuzz.nex", record);
        return true;
    } catch (const runended&) {
        return false;
    }
}

// Reads the bytes from memory, keeping what the reader writes.
inline outcome readmemory(const std::uint8_t* bytes, std::size_t size, datastr* record)
{
    source in;
    in.pos = bytes;
    in.end = bytes + size;
    std::stringbuf out, err;
    outcome o;
    o.accepted = readsource(in, record, &out, &err);
    o.out = out.str();
    o.err = err.str();
    return o;
}

// Reads the bytes from memory and throws away what the reader writes.
inline bool readquietly(const std::uint8_t* bytes, std::size_t size, datastr* record)
{
    source in;
    in.pos = bytes;
    in.end = bytes + size;
    nullbuf sink;
    return readsource(in, record, &sink, &sink);
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
