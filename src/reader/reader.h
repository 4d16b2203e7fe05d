// The data file reader and the closing prompt.
#pragma once

#include <cstddef>
#include <cstdio>

#include "../driver/datastr.h"

// The closing prompt: asks for "quit" on standard error until it is typed or
// standard input ends, then ends the process with status 8. Every run ends here.
[[noreturn]] void errorloop();

#ifdef VORN_FUZZING
// Fuzz builds only: errorloop() throws this instead of prompting, so that the
// harness gets control back after every rejected input.
struct runended {};
#endif

// Where the reader's bytes come from: a file read in blocks into buf, or a
// block of memory given whole (file is then null). pos..end is what is
// buffered and not yet read.
struct source {
    const unsigned char* pos = nullptr;
    const unsigned char* end = nullptr;
    std::FILE* file = nullptr;
    unsigned char* buf = nullptr;
    std::size_t cap = 0;

    // Next byte, or EOF once the bytes are used up or a read fails.
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
};

// Reads the named data file into the zero-filled record, printing progress and
// the data summary. Returns only on success: every error ends in errorloop().
void getdata(const char* filename, datastr* data);

// The body of getdata: reads a data file from an open source. The file name
// is only printed.
void readdata(source& in, const char* filename, datastr* data);
