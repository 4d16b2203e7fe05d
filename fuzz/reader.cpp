// Fuzz target: the whole reader on arbitrary bytes.
//
// Every input is read three times: once from memory in one piece, once from
// a file read in blocks of 1 to 8 bytes, so that block ends fall everywhere,
// also inside the genotypes that the reader takes straight from its buffer,
// and once by name as vorn reads it, opened by getdata and read in its own
// 64 KiB blocks. All three must end alike: accepted or stopped, with the same
// text on both streams and the same record. A record that is accepted must
// also keep to the invariants of checkrecord. Crashes, hangs, reads or
// writes outside a buffer and undefined behaviour are caught by the
// sanitizers.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <tuple>

#include "harness.h"

namespace {

// The input as a file with a name: a file in memory, named through /proc.
struct namedfile {
    int fd = memfd_create("fuzz.nex", 0);
    std::string name = "/proc/self/fd/" + std::to_string(fd);
};

const namedfile& named()
{
    static const namedfile f;
    return f;
}

fuzz::outcome readnamed(const std::uint8_t* bytes, std::size_t size, datastr* record)
{
    const namedfile& f = named();
    fuzz::require(f.fd >= 0 && ftruncate(f.fd, 0) == 0 &&
                      pwrite(f.fd, bytes, size, 0) == static_cast<ssize_t>(size),
                  "cannot write the input to a file");
    std::ostringstream progress;
    fuzz::outcome o;
    try {
        getdata(f.name.c_str(), record, &progress);
        o.accepted = true;
    } catch (const failure& e) {
        o.err = e.what();
    }
    o.out = progress.str();
    return o;
}

fuzz::outcome readblocks(const std::uint8_t* bytes, std::size_t size, std::size_t cap, datastr* record,
                         const char* name)
{
    std::FILE* file = size > 0 ? fmemopen(const_cast<std::uint8_t*>(bytes), size, "r") : std::tmpfile();
    fuzz::require(file != nullptr, "cannot open the input as a file");
    unsigned char buf[8];
    source in;
    in.file = file;
    in.buf = buf;
    in.cap = cap;
    in.name = name;
    const fuzz::outcome o = fuzz::readsource(in, record, name);
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
    // All three reads go by the one name, which the progress text shows.
    const std::string& name = named().name;
    datastr* byname = fuzz::zeroedrecord(2);
    const fuzz::outcome c = readnamed(bytes, size, byname);

    datastr* whole = fuzz::zeroedrecord(0);
    const fuzz::outcome a = fuzz::readmemory(bytes, size, whole, name.c_str());

    const std::size_t cap = 1 + size % 8;
    datastr* blocks = fuzz::zeroedrecord(1);
    const fuzz::outcome b = readblocks(bytes, size, cap, blocks, name.c_str());

    for (const auto& [o, record, how] : {std::tuple{&b, blocks, " (blocks of " + std::to_string(cap) + " bytes)"},
                                         std::tuple{&c, byname, std::string(" (by name, 64 KiB blocks)")}}) {
        fuzz::require(a.accepted == o->accepted, "accepted from memory but not from a file, or the other way" + how);
        fuzz::require(a.out == o->out, "progress differs" + how + ":\n" + shown(a.out) + "\n" + shown(o->out));
        fuzz::require(a.err == o->err, "message differs" + how + ":\n" + shown(a.err) + "\n" + shown(o->err));
        fuzz::require(fuzz::usedbytes(*whole) == fuzz::usedbytes(*record) &&
                          std::memcmp(whole, record, fuzz::usedbytes(*whole)) == 0,
                      "records differ" + how);
    }

    if (a.accepted) {
        fuzz::checkrecord(*whole);
        fuzz::require(a.out.find("\nAll loci ") != std::string::npos, "accepted without a summary");
    } else {
        // Every stop says why.
        fuzz::require(!a.err.empty(), "stopped without a message");
    }
    return 0;
}
