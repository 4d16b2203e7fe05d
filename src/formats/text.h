// What the readers share: lines, words and cells, numbers, quoting text in
// messages, and the allele tables of a data set under construction.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "formats/dataset.h"

namespace formats {

bool white(char c);
std::string_view trim(std::string_view s);
// Words separated by white space.
std::vector<std::string_view> words(std::string_view s);
// Cells separated by sep, each trimmed, a pair of double quotes around a cell
// removed; empty cells at the end of the line are dropped.
std::vector<std::string_view> cells(std::string_view s, char sep);
// The first of ',', ';' and tab in the line, or 0 when it has none.
char separator(std::string_view line);

// A whole number: digits, with a leading '-' if sign; false if s is not one or
// does not fit.
bool number(std::string_view s, long& value, bool sign = true);
bool alldigits(std::string_view s);
bool samewords(std::string_view a, std::string_view b);  // ignoring letter case

// 'text' for a message: control bytes escaped, long text cut.
std::string quote(std::string_view s);
std::string num(std::size_t n);
// "1 locus", "3 loci"
std::string count(std::size_t n, std::string_view one, std::string_view many);

// The lines of a text, ended by LF, CR LF or CR alone; a UTF-8 byte order mark
// at the start is dropped. number counts from 1. Each reader starts at the
// beginning of its input; a line stays valid until the next call of next.
// A reader that lets go lets go of each line when the next is asked for, and
// of the blanks (space, tab, VT, FF) that begin a line as they are read,
// which its lines then lack: it holds no more of a file than the longest
// line without them.
class linereader {
public:
    explicit linereader(std::string_view text);
    explicit linereader(input& in, bool letgo = false);
    linereader(const linereader&) = delete;
    linereader& operator=(const linereader&) = delete;
    bool next(std::string_view& line);
    int number = 0;

private:
    input own;  // a text in memory
    input* in;
    bool letgo;
    std::size_t pos = 0;      // offset of the next line
    std::size_t scanned = 0;  // bytes from pos known to hold no line end
};

// The allele tables of the loci of a data set being read: the index of an
// allele label at a locus, the label added when new.
class alleletables {
public:
    int index(dataset& data, std::size_t l, std::string_view label);

private:
    struct hash {
        using is_transparent = void;
        std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
    };
    std::vector<std::unordered_map<std::string, int, hash, std::equal_to<>>> tables;
};

// Genepop: a "Pop" line is pop in any letter case, then nothing, white space
// or a comma, the rest naming the population; but "pop , 0101 0202" is an
// individual named pop. Genotypes are words of digits only.
bool popline(std::string_view line, std::string_view& name);
bool genotypes(std::string_view s);

// Numeric allele code as a label: no leading zeros.
std::string codelabel(long code);

}  // namespace formats
