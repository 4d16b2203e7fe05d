// The genotype files that population geneticists keep their data in
// (Genepop, STRUCTURE, FSTAT, GenAlEx, Arlequin), read into one in-memory
// data set. The readers know nothing of vorn's capacities: a data set holds
// whatever the file holds, and the program that writes it somewhere checks
// the limits of that place.
#pragma once

#include <algorithm>
#include <cstdio>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace formats {

// Values of a gene besides an allele index (0, 1, ...).
constexpr int MISSING = -1;  // a gene copy that was not typed
constexpr int ABSENT = -2;   // no such copy: a haploid locus among diploid ones

struct locus {
    std::string name;  // as written in the file, trimmed; distinct within a data set
    int line = 0;      // where the name stands, or 0
    // The alleles met, in the order first met: a gene is an index into this.
    // Numeric codes are written without leading zeros ("7" for 007).
    std::vector<std::string> alleles;
};

struct individual {
    std::string name;  // as written in the file, trimmed; may be empty
    int line = 0;      // its first line
    // genes[l * ploidy + g], ploidy that of the data set: an allele index of
    // locus l, MISSING or ABSENT.
    std::vector<int> genes;
};

struct population {
    std::string name;                 // never empty; distinct within a data set
    int line = 0;                     // where it begins
    std::vector<individual> members;  // never empty
};

// Something that reads well but may not be what the file meant.
struct warning {
    int line;  // 0: the file as a whole
    std::string text;
};

struct dataset {
    std::string format;  // "Genepop", "STRUCTURE", "FSTAT", "GenAlEx", "Arlequin"
    std::string layout;  // how the file was read, in words, for the user
    int ploidy = 0;      // genes held per individual and locus; 1 or more
    std::vector<locus> loci;
    std::vector<population> pops;
    std::vector<warning> warnings;
};

// A fault in a file: its name (empty until the reader's caller fills it in),
// the line (0 for the file as a whole) and the message.
struct inputerror : std::runtime_error {
    std::string file;
    int line;
    inputerror(int where, const std::string& what) : std::runtime_error(what), line(where) {}
};

// How a STRUCTURE file is laid out, as STRUCTURE's own parameters (mainparams)
// name it; what is not given is worked out from the file where the file
// proves it, and refused with a message naming the parameter where it does
// not. ploidy also serves GenAlEx files that cannot show their ploidy.
struct structureparams {
    std::optional<int> ploidy, onerowperind, label, popdata, popflag, locdata, phenotype, extracols,
        markernames, recessivealleles, mapdistances, phaseinfo, numloci, numinds;
    std::optional<long> missing;
};

struct readoptions {
    std::string format;  // "genepop", "structure", "fstat", "genalex", "arlequin"; empty: guess
    structureparams structure;
};

// The format names, as --format takes them.
extern const std::vector<std::string_view> FORMATS;

// A file read in blocks as its readers reach them, or a text held whole in
// memory. What has been read is held until a reader lets go of it, so that
// the beginning can be read again: the format is guessed first, then the
// file read. A read that fails throws inputerror (line 0); a buffer that
// cannot grow throws std::bad_alloc. Neither is ever taken for the end.
class input {
public:
    input() = default;
    explicit input(std::string_view text);
    // file stays the caller's.
    explicit input(std::FILE* file, std::size_t block = std::size_t(1) << 16);

    std::size_t start() const { return base; }  // offset of held()'s first byte
    std::string_view held() const { return file || !buf.empty() ? std::string_view(buf) : text; }
    bool ended() const { return file == nullptr; }
    // Reads another block; false once there is nothing more.
    bool more();
    // The bytes before offset are no longer needed.
    void letgo(std::size_t offset) { unneeded = std::max(unneeded, offset); }
    // Everything, read to the end; only while nothing has been let go.
    std::string_view whole();

private:
    std::string_view text;
    std::FILE* file = nullptr;
    std::string buf;
    std::size_t base = 0, unneeded = 0, block = 0;
};

// Reads a file held in memory, or from an input. Throws inputerror, with
// file set. A Genepop file is read line by line as it comes; the other
// formats are held whole.
dataset readany(std::string_view text, const std::string& file, const readoptions& options);
dataset readany(input& in, const std::string& file, const readoptions& options);

// The format the content looks like ("genepop", ...), or empty.
std::string guessformat(std::string_view text);
std::string guessformat(input& in);

// Sets a STRUCTURE parameter by its mainparams key (any letter case) from its
// text, unless keep and it is set already. Returns why the value does not fit,
// or nothing.
bool knownparam(std::string_view key);
std::string setparam(structureparams& params, std::string_view key, std::string_view value, bool keep);

// Fills in the parameters of a STRUCTURE mainparams file that are not set
// yet. Throws inputerror, with file set.
void readmainparams(std::string_view text, const std::string& file, structureparams& params);

// The readers, one per format. Each throws inputerror without the file name.
dataset readgenepop(std::string_view text);
dataset readgenepop(input& in);
dataset readstructure(std::string_view text, const structureparams& params);
dataset readfstat(std::string_view text);
dataset readgenalex(std::string_view text, const structureparams& params);
dataset readarlequin(std::string_view text);

}  // namespace formats
