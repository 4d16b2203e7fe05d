#include "formats/vorndata.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/escape.h"
#include "core/failure.h"

namespace {

constexpr int TOKENLEN = 40;  // a word, key or value, terminator included

// More individuals than this in one population could overflow a 32-bit gene count.
constexpr std::int64_t MAXIND = 1000000000;

bool white(int c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// Words from the file are echoed escaped, so that no control byte reaches
// the terminal.
[[noreturn]] void fail(std::string_view message, std::string_view what = {})
{
    throw failure(std::string(message) + escaped(what));
}

[[noreturn]] void failat(std::string_view what)
{
    fail("\nError: incorrect input at ", what);
}

[[noreturn]] void failend()
{
    fail("\nError: unexpected end of file in matrix");
}

// A word, key or value: at most TOKENLEN - 1 characters.
struct token {
    char text[TOKENLEN];
    int len = 0;

    std::string_view view() const { return {text, static_cast<std::size_t>(len)}; }
    bool is(std::string_view s) const { return view() == s; }
    char back() const { return len > 0 ? text[len - 1] : '\0'; }
    void add(int c)
    {
        if (len == TOKENLEN - 1)
            failat(view());
        text[len++] = static_cast<char>(c);
    }
};

// Skips white space and returns the next byte, consumed, or EOF.
int skipwhite(source& in)
{
    int c;
    do
        c = in.get();
    while (white(c));
    return c;
}

// Skips white space and returns the next byte without consuming it.
int skipwhitepeek(source& in)
{
    int c;
    while (white(c = in.peek()))
        in.get();
    return c;
}

// Characters up to the next white space; empty at the end of the file.
token readword(source& in)
{
    token w;
    for (int c = skipwhite(in); c != EOF && !white(c); c = in.get())
        w.add(c);
    return w;
}

// Characters up to the next '=', which is consumed; white space after the
// first visible character belongs to the key.
token readkey(source& in)
{
    token k;
    for (int c = skipwhite(in); c != EOF && c != '='; c = in.get())
        k.add(c);
    return k;
}

// A signed decimal number that fits 32 bits. Reading stops at the first byte
// that cannot continue it. Anything else stops the run, naming the word that
// stands where the number should be.
std::int32_t readint(source& in)
{
    token w;
    int c = skipwhitepeek(in);
    const bool negative = c == '-';
    if (c == '-' || c == '+') {
        w.add(in.get());
        c = in.peek();
    }
    std::int64_t value = 0;
    bool digits = false;
    while (c >= '0' && c <= '9') {
        digits = true;
        value = value * 10 + (c - '0');
        if (value > 2147483648LL)
            value = 2147483648LL + 1;  // out of range; keep reading the digits
        w.add(in.get());
        c = in.peek();
    }
    if (negative)
        value = -value;
    if (!digits || value > INT32_MAX || value < INT32_MIN) {
        for (; c != EOF && !white(c); c = in.peek())
            w.add(in.get());
        failat(w.view());
    }
    return static_cast<std::int32_t>(value);
}

// A genotype word, which may be of any length: only its first three bytes,
// its last byte and its length are kept.
struct genotype {
    unsigned char first[3];
    unsigned char last;
    std::size_t len;

    bool closes() const { return len > 0 && (last == ',' || last == ';'); }
    // The whole word; called only on words of at most three bytes.
    std::string_view view() const { return {reinterpret_cast<const char*>(first), len}; }
};

genotype readgenotype(source& in)
{
    genotype g{};
    for (int c = skipwhite(in); c != EOF && !white(c); c = in.get()) {
        if (g.len < 3)
            g.first[g.len] = static_cast<unsigned char>(c);
        g.last = static_cast<unsigned char>(c);
        ++g.len;
    }
    if (g.len == 0)
        failend();
    return g;
}

// What the format statement says about the matrix.
struct layout {
    bool diploid = false;
    int missing = -1;    // missing-data symbol, -1 when none was given
    int separator = -1;  // separator symbol, -1 when none was given
};

// The reader's state while the matrix is read. Genes are tallied by symbol
// for the population at hand and moved into the record, by allele number,
// when the population ends: a gene then costs one increment whose address
// depends on nothing but its symbol.
struct tally {
    datastr* data = nullptr;
    int missing = -1;
    // allelenum[l][c]: number of the allele with symbol c at locus l, 0 while unseen.
    unsigned char allelenum[MAXLOCI][256] = {};
    // symbol[l][k]: the symbol of allele k at locus l.
    unsigned char symbol[MAXLOCI][MAXALLELES] = {};
    // bysymbol[l][c]: genes with symbol c at locus l since the last flush.
    // Only the rows of the data set's loci are cleared (see start), so that
    // a small data set does not pay for the whole table.
    std::uint32_t bysymbol[MAXLOCI][256];

    // Counts one gene with symbol c at locus l, numbering the symbol if it is
    // new at this locus. The missing-data symbol has allelenum 0xff: it is
    // tallied but never numbered, and flush drops its tally.
    void add(int l, unsigned char c)
    {
        if (allelenum[l][c] == 0)
            number(l, c);
        ++bysymbol[l][c];
    }
    [[gnu::noinline]] void number(int l, unsigned char c)
    {
        if (data->nalleles[l] == MAXALLELES - 1)
            fail("\nError: more than " + std::to_string(MAXALLELES - 1) + " alleles at locus " +
                 std::to_string(l));
        const int k = ++data->nalleles[l];
        allelenum[l][c] = static_cast<unsigned char>(k);
        symbol[l][k] = c;
    }
    void start(datastr* d, int missingsymbol)
    {
        data = d;
        missing = missingsymbol;
        for (int l = 1; l <= data->nloci; ++l) {
            std::fill(std::begin(bysymbol[l]), std::end(bysymbol[l]), 0u);
            if (missing >= 0)
                allelenum[l][missing] = 0xff;
        }
    }
    // Moves the tallies into population p's counts.
    void flush(int p)
    {
        for (int l = 1; l <= data->nloci; ++l) {
            for (int k = 1; k <= data->nalleles[l]; ++k) {
                data->allelecount[p][l][k] += static_cast<std::int32_t>(bysymbol[l][symbol[l][k]]);
                bysymbol[l][symbol[l][k]] = 0;
            }
            if (missing >= 0)
                bysymbol[l][missing] = 0;
        }
    }
};

void readdimensions(source& in, datastr* data)
{
    if (token w = readword(in); !w.is("dimensions"))
        failat(w.view());
    for (int item = 0; item < 2; ++item) {
        const token key = readkey(in);
        if (key.is("npops"))
            data->npops = readint(in);
        else if (key.is("nloci"))
            data->nloci = readint(in);
        else
            failat(key.view());
    }
    in.get();  // the character that closes the statement, normally ';'

    if (data->nloci < 1 || data->nloci > MAXLOCI - 1)
        fail("\nError: nloci=" + std::to_string(data->nloci) + " is out of range 1 to " +
             std::to_string(MAXLOCI - 1));
    if (data->npops < 1 || data->npops > MAXPOPS - 1)
        fail("\nError: npops=" + std::to_string(data->npops) + " is out of range 1 to " +
             std::to_string(MAXPOPS - 1));
}

layout readformat(source& in)
{
    if (token w = readword(in); !w.is("format"))
        failat(w.view());
    layout format;
    const token ploidy = readword(in);
    if (ploidy.is("diploid"))
        format.diploid = true;
    else if (!ploidy.is("haploid"))
        failat(ploidy.view());

    // key=value items, up to the one whose value ends in ';'
    for (bool last = false; !last;) {
        const token key = readkey(in);
        if (!key.is("missing") && !key.is("datapoint") && !key.is("separator"))
            failat(key.view());
        token value = readword(in);
        last = value.back() == ';';
        if (last)
            --value.len;
        if (key.is("datapoint"))
            continue;
        // Only the first character of the value counts; an empty value has none.
        if (value.len == 0)
            failat(key.view());
        (key.is("missing") ? format.missing : format.separator) = static_cast<unsigned char>(value.text[0]);
    }
    if (format.diploid && format.separator < 0)
        fail("\nError: diploid data need a separator item");
    return format;
}

void readlabels(source& in, datastr* data)
{
    if (token w = readword(in); !w.is("locusallelelabels"))
        failat(w.view());
    for (int l = 1; l <= data->nloci; ++l) {
        const std::int32_t number = readint(in);
        const token label = readword(in);
        if (number != l)
            failat(std::to_string(number));
        if (label.back() == ';' && l != data->nloci)
            fail("\nError: too few labels for loci.");
        // The label word's last character closes it and is not part of the label.
        const int len = label.len > 0 ? label.len - 1 : 0;
        label.view().copy(data->locuslabel[l], static_cast<std::size_t>(len));
        data->locuslabel[l][len] = '\0';
    }
}

// The population name: what stands before the next ':', white space in front
// of it skipped. name has room for LABELLEN characters.
void readpopname(source& in, char* name)
{
    token n;
    int c = skipwhite(in);
    for (; c != ':'; c = in.get()) {
        if (c == EOF)
            failend();
        n.add(c);
    }
    n.view().copy(name, static_cast<std::size_t>(n.len));
    name[n.len] = '\0';
}

// Reads one individual: its name and its genotype at every locus. Genes are
// counted for population p unless p is 0 (a population beyond npops, read and
// checked only). Returns the closing character of the last word, ',' or ';',
// or 0 when another individual of the same population follows.
char readindividual(source& in, const layout& format, tally& counts, int p)
{
    const int nloci = counts.data->nloci;
    auto count = [&](int l, unsigned char c) {
        if (p != 0)
            counts.add(l, c);
    };

    // The individual's name is discarded, whatever its length.
    int c = skipwhite(in);
    if (c == EOF)
        failend();
    while (c != EOF && !white(c))
        c = in.get();

    if (!format.diploid) {
        for (int l = 1; l < nloci; ++l) {
            c = skipwhite(in);
            if (c == EOF)
                failend();
            count(l, static_cast<unsigned char>(c));
        }
        const genotype g = readgenotype(in);
        if (g.closes() && g.len == 1)
            failat(g.view());
        count(nloci, g.first[0]);
        return g.closes() ? static_cast<char>(g.last) : 0;
    }

    // Most genotypes are three bytes between white space, like A/B: they are
    // taken straight from the buffer, through a local cursor, when they are
    // there whole. Anything else goes through the general word read.
    const int separator = format.separator;
    const unsigned char* q = in.pos;
    const unsigned char* end = in.end;
    int l = 1;
    // The common case first: at every locus but the last, a visible symbol,
    // the separator, a visible symbol and a blank or a line end, four bytes
    // that are all in the buffer.
    if (p != 0) {
        const int fast = static_cast<int>(std::min<std::ptrdiff_t>(nloci - 1, (end - q) / 4));
        for (; l <= fast; ++l, q += 4) {
            if (!(q[0] > ' ' && q[1] == separator && q[2] > ' ' && (q[3] == ' ' || q[3] == '\n')))
                break;
            if ((counts.allelenum[l][q[0]] == 0) | (counts.allelenum[l][q[2]] == 0)) {
                counts.add(l, q[0]);
                counts.add(l, q[2]);
                continue;
            }
            ++counts.bysymbol[l][q[0]];
            ++counts.bysymbol[l][q[2]];
        }
    }
    for (; l <= nloci; ++l) {
        if (end - q >= 5) {
            const unsigned char* w = q + white(*q);
            if (!white(w[0]) && w[1] == separator && !white(w[2]) && white(w[3]) &&
                (l < nloci || (w[2] != ',' && w[2] != ';'))) {
                count(l, w[0]);
                count(l, w[2]);
                q = w + 4;
                continue;
            }
        }
        in.pos = q;
        const genotype g = readgenotype(in);
        q = in.pos;
        end = in.end;
        const bool closing = l == nloci && g.closes();
        const std::size_t len = closing ? g.len - 1 : g.len;
        if (len >= 2 && g.first[1] != separator)
            fail("Error: incorrect separator ",
                 std::string_view(reinterpret_cast<const char*>(g.first) + 1, 1));
        if (len < 3)
            failat(g.view());
        count(l, g.first[0]);
        count(l, g.first[2]);
        if (closing)
            return static_cast<char>(g.last);
    }
    in.pos = q;
    return 0;
}

void readmatrix(source& in, datastr* data, const layout& format, std::ostream* progress)
{
    if (token w = readword(in); !w.is("matrix"))
        failat(w.view());
    for (int l = 1; l <= data->nloci; ++l)
        data->nalleles[l] = 0;

    tally counts;
    counts.start(data, format.missing);
    char scratch[LABELLEN];  // name of a population beyond npops, checked but not kept
    std::int64_t npopsread = 0;
    std::int64_t total = 0;  // individuals in populations 1 to npops
    for (char closing = ','; closing != ';';) {
        ++npopsread;
        const int p = npopsread <= data->npops ? static_cast<int>(npopsread) : 0;
        readpopname(in, p != 0 ? data->popname[p] : scratch);
        std::int64_t nind = 0;
        try {
            do {
                if (++nind > MAXIND)
                    fail("\nError: more than " + std::to_string(MAXIND) + " individuals in population " +
                         std::to_string(npopsread));
                closing = readindividual(in, format, counts, p);
            } while (closing == 0);
        } catch (const failure&) {
            // What was counted before the failure stays in the record.
            if (p != 0)
                counts.flush(p);
            throw;
        }
        if (p != 0) {
            counts.flush(p);
            total += nind;
        }
    }

    if (token w = readword(in); !w.is("end;"))
        fail("\nError: end of file expected at ", w.view());
    if (npopsread != data->npops)
        fail("\nError: Number of populations in matrix: " + std::to_string(npopsread) +
             " does not match npops=" + std::to_string(data->npops));

    if (progress == nullptr)
        return;
    // The symbols are echoed escaped, like words in messages.
    auto symbol = [](int c) { return escaped(std::string(1, static_cast<char>(c))); };
    *progress << "\nData matrix has " << data->npops << " populations, " << data->nloci << " loci, and "
              << total << " individuals";
    if (format.missing >= 0)
        *progress << "\nMissing data represented by the symbol " << symbol(format.missing);
    if (format.separator >= 0)
        *progress << "\nDifferent genes at one locus separated by the symbol " << symbol(format.separator);
    *progress << (format.diploid ? "\nAll loci diploid." : "\nAll loci haploid.");
}

}  // namespace

bool source::refill()
{
    if (file == nullptr)
        return false;
    done += static_cast<unsigned long long>(end - begin);
    const std::size_t n = std::fread(buf, 1, cap, file);
    begin = buf;
    pos = buf;
    end = buf + n;
    // A read that fails is not the end of the file: the data would be cut short.
    if (std::ferror(file))
        throw failure("\nError: could not read input file \"" + escaped(name) + "\"");
    return n > 0;
}

namespace {

void readall(source& in, const char* filename, datastr* data, std::ostream* progress)
{
    if (token w = readword(in); !w.is("#nexus"))
        fail("\nError: not a nexus format file!", w.view());
    if (progress != nullptr)
        *progress << "Opening NEXUS data file " << escaped(filename);

    if (token w = readword(in); !w.is("begin"))
        failat(w.view());
    if (token w = readword(in); !w.is("vorndata;")) {
        const std::string_view name = w.view().substr(0, w.len > 0 ? w.len - 1 : 0);
        fail("\nError: block type " + escaped(name) + " cannot be used with this program");
    }
    if (progress != nullptr)
        *progress << "\nReading VORN 2.0 data format";

    readdimensions(in, data);
    const layout format = readformat(in);
    readlabels(in, data);
    readmatrix(in, data, format, progress);
}

}  // namespace

void readdata(source& in, const char* filename, datastr* data, std::ostream* progress)
{
    if (in.begin == nullptr)
        in.begin = in.pos;
    try {
        readall(in, filename, data, progress);
    } catch (failure& f) {
        f.offset = static_cast<long long>(in.offset());
        throw;
    }
}

void getdata(const char* filename, datastr* data, std::ostream* progress)
{
    static unsigned char buf[1 << 16];
    source in;
    in.file = std::fopen(filename, "r");
    in.buf = buf;
    in.cap = sizeof buf;
    in.name = filename;
    const std::string cannotopen = "\nError: could not open input file \"" + escaped(filename) + "\"\n";
    if (in.file == nullptr)
        throw failure(cannotopen);
    // A directory opens but cannot be read: the first read tells.
    try {
        in.refill();
    } catch (const failure&) {
        std::fclose(in.file);
        throw failure(cannotopen);
    }
    try {
        readdata(in, filename, data, progress);
    } catch (...) {
        std::fclose(in.file);
        throw;
    }
    std::fclose(in.file);
}
