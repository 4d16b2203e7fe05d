// Fuzz target: the whole reader on arbitrary bytes.
//
// Every input is read twice: once from memory in one piece, and once from a
// file read in blocks of 1 to 8 bytes, so that block ends fall everywhere,
// also inside the genotypes that the reader takes straight from its buffer.
// Both reads must end alike: accepted or stopped, with the same text on both
// streams and the same record. A record that is accepted must also keep to
// the invariants of checkrecord. Crashes, hangs, reads or writes outside a
// buffer and undefined behaviour are caught by the sanitizers.
#include <cstdio>
#include <cstring>

#include "harness.h"

namespace {

fuzz::outcome readblocks(const std::uint8_t* bytes, std::size_t size, std::size_t cap, datastr* record)
{
    std::FILE* file = size > 0 ? fmemopen(const_cast<std::uint8_t*>(bytes), size, "r") : std::tmpfile();
    fuzz::require(file != nullptr, "cannot open the input as a file");
    unsigned char buf[8];
    source in;
    in.file = file;
    in.buf = buf;
    in.cap = cap;
    const fuzz::outcome o = fuzz::readsource(in, record);
    std::fclose(file);
    return o;
}

std::string shown(const std::string& s)
{
    std::string r;
    for (const unsigned char c : s) {
        if (c >= ' ' && c < 127) {
            r += static_cast<char>(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            r += hex;
        }
    }
    return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size)
{
    datastr* whole = fuzz::zeroedrecord(0);
    const fuzz::outcome a = fuzz::readmemory(bytes, size, whole);

    const std::size_t cap = 1 + size % 8;
    datastr* blocks = fuzz::zeroedrecord(1);
    const fuzz::outcome b = readblocks(bytes, size, cap, blocks);

    const std::string where = " (blocks of " + std::to_string(cap) + " bytes)";
    fuzz::require(a.accepted == b.accepted, "accepted from memory but not from a file, or the other way" + where);
    fuzz::require(a.out == b.out, "progress differs" + where + ":\n" + shown(a.out) + "\n" + shown(b.out));
    fuzz::require(a.err == b.err, "message differs" + where + ":\n" + shown(a.err) + "\n" + shown(b.err));
    fuzz::require(fuzz::usedbytes(*whole) == fuzz::usedbytes(*blocks) &&
                      std::memcmp(whole, blocks, fuzz::usedbytes(*whole)) == 0,
                  "records differ" + where);

    if (a.accepted) {
        fuzz::checkrecord(*whole);
        fuzz::require(a.out.find("\nAll loci ") != std::string::npos, "accepted without a summary");
    } else {
        // Every stop says why.
        fuzz::require(!a.err.empty(), "stopped without a message");
    }
    return 0;
}
