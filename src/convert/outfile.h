// Output files written whole or not at all.
//
// A regular file is written to a temporary file in its folder, flushed to
// disk and renamed over it; the new file keeps the permission bits of the
// file it replaces, and its owner where the process may set it. A name that
// is a symbolic link is followed to the file it names, which is replaced, or
// created when the link dangles; the link itself is never replaced. A device,
// a pipe, and the file that standard output or standard error already write
// to are written in place, and only when committed. The temporary files are
// removed when the run ends early, by an error or by SIGINT, SIGTERM, SIGHUP
// or SIGPIPE.
#pragma once

#include <sys/stat.h>

#include <string>
#include <string_view>

namespace convert {

// A failure not tied to a line of the input: the whole message.
struct fileerror {
    std::string what;
};

class outfile {
public:
    // Checks that name could be written by the shell's '>' and finds where
    // it leads. Throws fileerror.
    explicit outfile(const std::string& name);
    outfile(const outfile&) = delete;
    outfile& operator=(const outfile&) = delete;
    ~outfile();

    // Whether two outfiles lead to one file; whether this one is standard
    // output.
    bool same(const outfile& other) const;
    bool isstdout() const { return direct && fd == 1; }
    // Whether it is written in place at commit, not renamed.
    bool inplace() const { return direct; }
    // Writes text to the temporary file, or keeps it until commit for a file
    // written in place. Throws fileerror.
    void write(std::string text);
    // Gives the text its name. Throws fileerror.
    void commit();

private:
    [[noreturn]] void fail(int err) const;
    void discard();

    std::string shown;    // the name as given
    std::string through;  // where the links of shown lead, when it is one
    int dir = -1;         // the folder of the file, open
    struct stat dirstat {};
    std::string base;  // the file's name in dir
    bool exists = false;
    struct stat old {};  // the file being replaced, when exists
    int temp = -1;       // the temporary file's slot (see outfile.cpp), or -1
    int fd = -1;         // where the text goes in place: 1, 2 or a descriptor opened at commit
    bool direct = false;
    std::string kept;  // the text, for a file written in place
};

}  // namespace convert
