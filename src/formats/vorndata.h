// vorn's own data file: NEXUS with a private vorndata block, read into the
// record with vorn's capacities. Every failure is thrown as a failure whose
// text is vorn's message.
#pragma once

#include <cstddef>
#include <cstdio>
#include <ostream>

#include "core/datastr.h"

// Where the reader's bytes come from: a file read in blocks into buf, or a
// block of memory given whole (file is then null). pos..end is what is
// buffered and not yet read. name is the file's name for the read-error
// message.
struct source {
    const unsigned char* pos = nullptr;
    const unsigned char* end = nullptr;
    std::FILE* file = nullptr;
    unsigned char* buf = nullptr;
    std::size_t cap = 0;
    const char* name = "";
    // Bytes read before begin, the start of what is buffered now: together
    // with pos, how far into the input the reader is.
    unsigned long long done = 0;
    const unsigned char* begin = nullptr;

    // Next byte, or EOF once the bytes are used up. A failed read throws.
    int get()
    {
        if (pos == end && !refill())
            return EOF;
        return *pos++;
    }
    int peek()
    {
        if (pos == end && !refill())
            return EOF;
        return *pos;
    }
    bool refill();
    unsigned long long offset() const { return done + static_cast<unsigned long long>(pos - begin); }
};

// Reads the named data file into the zero-filled record. Progress and the
// data summary are written to progress when it is given. Throws failure.
void getdata(const char* filename, datastr* data, std::ostream* progress = nullptr);

// The body of getdata: reads a data file from an open source. The file name
// is only printed.
void readdata(source& in, const char* filename, datastr* data, std::ostream* progress = nullptr);
