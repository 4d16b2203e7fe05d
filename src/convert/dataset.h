// What vornconvert reads from a Genepop or STRUCTURE file: loci, populations
// and the allele codes of every individual, before anything is named or
// written. The readers check the capacities of a vorn data file as they go,
// so that an oversized data set is refused at the line where it overflows.
#pragma once

#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "core/datastr.h"

namespace convert {

// Usable entries of vorn's record.
constexpr int MAXUSEDPOPS = MAXPOPS - 1;
constexpr int MAXUSEDLOCI = MAXLOCI - 1;
constexpr int MAXUSEDALLELES = MAXALLELES - 1;

// A gene that was not typed.
constexpr int MISSING = -1;

// A fault in the input: a message and the line it belongs to (0 for the file
// as a whole).
struct inputerror : std::runtime_error {
    int line;
    inputerror(int where, const std::string& what) : std::runtime_error(what), line(where) {}
};

struct locus {
    std::string name;  // as written in the input, trimmed
    int line = 0;
};

struct individual {
    std::string name;  // as written in the input, trimmed
    int line = 0;      // first line of the individual
    // Allele codes, ploidy per locus: genes[l * ploidy + g]. Codes are >= 0
    // or MISSING.
    std::vector<int> genes;
};

struct population {
    std::string name;  // as given by the input; may be empty
    int line = 0;      // where the population begins
    std::vector<individual> members;
};

struct dataset {
    int ploidy = 0;  // 1 or 2
    std::vector<locus> loci;
    std::vector<population> pops;
};

// Distinct allele codes met so far at each locus, to refuse the 50th at the
// line where it first occurs.
class allelecheck {
public:
    // Notes one gene of locus l (from 0), at a line of the input.
    void note(const dataset& data, std::size_t l, int code, int line);

private:
    std::map<std::size_t, std::set<int>> codes;
};

// Text helpers shared by the readers.
bool white(char c);
std::string_view trim(std::string_view s);
std::vector<std::string_view> words(std::string_view s);
// A whole number written with digits only (no sign); false if it is not one
// or does not fit an int.
bool digits(std::string_view s, int& value);
// As digits, with an optional leading '-' or '+'.
bool integer(std::string_view s, int& value);
// "pop" in any letter case.
bool popword(std::string_view w);
// 'text', with control characters shown as '?' and long text cut.
std::string quote(std::string_view s);

// The input split into lines, line endings (LF or CRLF) removed, a leading
// UTF-8 byte order mark dropped. lines[0] is line 1.
std::vector<std::string> splitlines(std::string_view text);

dataset readgenepop(const std::vector<std::string>& lines);
// extracols: columns between the population column and the first locus,
// skipped.
dataset readstructure(const std::vector<std::string>& lines, int extracols);

// "genepop" or "structure", guessed from the content: a file with a 'Pop'
// line or a comma on any line after the first is Genepop.
std::string guessformat(const std::vector<std::string>& lines);

}  // namespace convert
