// The allele tally: what a data file read from memory leaves in the record.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>

#include "core/failure.h"
#include "formats/vorndata.h"

namespace {

void readfrom(const std::string& text, datastr* data)
{
    source in;
    in.pos = reinterpret_cast<const unsigned char*>(text.data());
    in.end = in.pos + text.size();
    readdata(in, "memory", data);
}

std::unique_ptr<datastr> read(const std::string& text)
{
    auto data = std::make_unique<datastr>();
    readfrom(text, data.get());
    return data;
}

// A data file with labels L1, L2, ... and the given format items and matrix.
std::string datafile(int npops, int nloci, const std::string& format, const std::string& matrix)
{
    std::ostringstream s;
    s << "#nexus\nbegin vorndata;\ndimensions npops=" << npops << " nloci=" << nloci << ";\nformat " << format
      << ";\nlocusallelelabels";
    for (int l = 1; l <= nloci; ++l)
        s << ' ' << l << " L" << l << (l < nloci ? ',' : ';');
    s << "\nmatrix\n" << matrix << "\nend;\n";
    return s.str();
}

// The counts of alleles 1..nalleles, populations split by '/', loci by ", ".
std::string tally(const datastr& d)
{
    std::ostringstream s;
    for (int l = 1; l <= d.nloci; ++l)
        for (int p = 1; p <= d.npops; ++p)
            for (int k = 0; k <= d.nalleles[l]; ++k)
                if (k == 0)
                    s << (p > 1 ? "/" : l > 1 ? ", " : "");
                else
                    s << (k > 1 ? " " : "") << d.allelecount[p][l][k];
    return s.str();
}

// Counts outside populations 1..npops, loci 1..nloci and alleles 1..nalleles.
long long stray(const datastr& d)
{
    long long n = 0;
    for (int p = 0; p < MAXPOPS; ++p)
        for (int l = 0; l < MAXLOCI; ++l)
            for (int k = 0; k < MAXALLELES; ++k)
                if (p < 1 || p > d.npops || l < 1 || l > d.nloci || k < 1 || k > d.nalleles[l])
                    n += d.allelecount[p][l][k];
    return n;
}

// Reads a data file that must fail and returns its message; the record is
// left as the reader had filled it when it stopped.
std::string readandfail(const std::string& text, datastr* data)
{
    try {
        readfrom(text, data);
    } catch (const failure& f) {
        return f.what();
    }
    ADD_FAILURE() << "read without a failure";
    return {};
}

long long locus1(const datastr& d)
{
    long long n = 0;
    for (int p = 1; p < MAXPOPS; ++p)
        for (int k = 1; k < MAXALLELES; ++k)
            n += d.allelecount[p][1][k];
    return n;
}

const char* const symbols = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwx";  // 50

}  // namespace

TEST(Reader, DiploidExample)
{
    const auto d = read(datafile(2, 3, "diploid missing=? separator=/",
                                 "north: ind1 A/B C/C A/?\n"
                                 "       ind2 A/A C/D B/B,\n"
                                 "south: ind3 B/B C/C A/A;"));
    EXPECT_EQ(tally(*d), "3 1/0 2, 3 1/2 0, 1 2/2 0");
    EXPECT_STREQ(d->popname[1], "north");
    EXPECT_STREQ(d->popname[2], "south");
    EXPECT_EQ(stray(*d), 0);
}

// Alleles first met in a later population (B at locus 1, C at locus 2) are
// numbered after the earlier ones and have count 0 before.
TEST(Reader, HaploidExample)
{
    const auto d = read(datafile(2, 3, "haploid missing=?",
                                 "north: ind1 ABA\n"
                                 "       ind2 AC?,\n"
                                 "south: ind3 B C A;"));
    EXPECT_EQ(tally(*d), "2 0/0 1, 1 1/0 1, 1/1");
    EXPECT_EQ(stray(*d), 0);
}

// Letter case makes different alleles; missing genes are never counted, so
// an all-missing locus has no alleles at all.
TEST(Reader, TallyRules)
{
    const auto d = read(datafile(2, 3, "haploid missing=?", "p1: i1 aA? i2 aa?,\np2: i3 Ab? i4 ?a?;"));
    EXPECT_EQ(tally(*d), "2 0/0 1, 1 1 0/0 1 1, /");
    EXPECT_EQ(d->nalleles[3], 0);
}

// A label loses its closing character, whatever it is; population names keep
// inner blanks and lose the white space in front of them.
TEST(Reader, LabelsAndNames)
{
    const auto d = read("#nexus begin vorndata; dimensions nloci=2 npops=2;\n"
                        "format haploid datapoint=standard;\n"
                        "locusallelelabels 1 locA 2 locB;\n"
                        "matrix\n  north pop: i1 AB,\n\n\t  south: i2 BA;\nend;");
    EXPECT_STREQ(d->locuslabel[1], "loc");
    EXPECT_STREQ(d->locuslabel[2], "locB");
    EXPECT_STREQ(d->popname[1], "north pop");
    EXPECT_STREQ(d->popname[2], "south");
}

// The largest data set that fits: 99 populations, 99 loci, 49 alleles at
// every locus. Nothing lands in slot 0 or beyond the data set's ranges.
TEST(Reader, FullCapacity)
{
    std::ostringstream matrix;
    for (int p = 1; p <= 99; ++p)
        matrix << 'p' << p << ": i " << std::string(99, symbols[(p - 1) % 49]) << (p < 99 ? ",\n" : ";");
    const auto d = read(datafile(99, 99, "haploid datapoint=standard", matrix.str()));
    long long total = 0;
    for (int l = 1; l <= 99; ++l) {
        ASSERT_EQ(d->nalleles[l], 49) << "locus " << l;
        for (int p = 1; p <= 99; ++p)
            total += d->allelecount[p][l][(p - 1) % 49 + 1];
    }
    EXPECT_EQ(total, 99 * 99);
    EXPECT_EQ(stray(*d), 0);
    EXPECT_EQ(d->nalleles[0], 0);
    EXPECT_EQ(d->popname[0][0], '\0');
    EXPECT_EQ(d->locuslabel[0][0], '\0');
    EXPECT_STREQ(d->popname[99], "p99");
    EXPECT_STREQ(d->locuslabel[99], "L99");
}

// The 50th symbol at a locus stops the run before anything is counted for it.
TEST(ReaderFailure, FiftiethAlleleIsNotCounted)
{
    std::ostringstream matrix;
    matrix << "p:";
    for (int i = 0; i < 50; ++i)
        matrix << " i " << symbols[i];
    auto d = std::make_unique<datastr>();
    EXPECT_EQ(readandfail(datafile(1, 1, "haploid datapoint=standard", matrix.str() + ";"), d.get()),
              "\nError: more than 49 alleles at locus 1");
    EXPECT_EQ(d->nalleles[1], 49);
    EXPECT_EQ(locus1(*d), 49);
    EXPECT_EQ(stray(*d), 0);
}

// Populations beyond npops are read but never counted.
TEST(ReaderFailure, PopulationsBeyondNpopsAreNotCounted)
{
    auto d = std::make_unique<datastr>();
    EXPECT_EQ(readandfail(datafile(1, 1, "haploid datapoint=standard", "p1: i A, p2: i B, p3: i A;"), d.get()),
              "\nError: Number of populations in matrix: 3 does not match npops=1");
    EXPECT_EQ(locus1(*d), 1);
    EXPECT_EQ(stray(*d), 0);
}

// Control bytes in a word from the file are echoed as \xHH; printable text
// and UTF-8 are echoed as they are.
TEST(ReaderFailure, EchoedWordsAreEscaped)
{
    auto d = std::make_unique<datastr>();
    EXPECT_EQ(readandfail("#nexus begin vorndata; dimensions np\x1b[2Jops=2", d.get()),
              "\nError: incorrect input at np\\x1b[2Jops");
    EXPECT_EQ(readandfail("#nexus begin vorndata; dimensions n\xc3\xa9=2", d.get()),
              "\nError: incorrect input at n\xc3\xa9");
    EXPECT_EQ(readandfail("#nexus begin vorndata; dimensions\x7f\x01 x", d.get()),
              "\nError: incorrect input at dimensions\\x7f\\x01");
    EXPECT_EQ(readandfail("#nexus begin vorndata; dimensions np\tops=2", d.get()),
              "\nError: incorrect input at np\\x09ops");
    EXPECT_EQ(readandfail("#nexus begin tr\x07;", d.get()),
              "\nError: block type tr\\x07 cannot be used with this program");
    EXPECT_EQ(readandfail(datafile(1, 1, "diploid separator=/", "p: i A\x01" "B;"), d.get()),
              "Error: incorrect separator \\x01");
}

// A read that fails after the first block is a read error, not the end of
// the file: the source serves the file up to the middle of the matrix, then
// fails.
TEST(ReaderFailure, ReadErrorAfterTheFirstBlock)
{
    const std::string text = datafile(2, 1, "haploid datapoint=standard", "p: i A i B, q: i A;");
    struct cookie {
        std::string text;
        std::size_t done = 0;
    } c{text.substr(0, text.find(" i B"))};
    cookie_io_functions_t io{};
    io.read = [](void* v, char* buf, std::size_t size) -> ssize_t {
        auto* k = static_cast<cookie*>(v);
        if (k->done == k->text.size()) {
            errno = EIO;
            return -1;
        }
        const std::size_t n = std::min(size, k->text.size() - k->done);
        k->text.copy(buf, n, k->done);
        k->done += n;
        return static_cast<ssize_t>(n);
    };
    std::FILE* file = fopencookie(&c, "r", io);
    ASSERT_NE(file, nullptr);
    unsigned char buf[4096];
    source in;
    in.file = file;
    in.buf = buf;
    in.cap = sizeof buf;
    in.name = "cut.nex";
    auto d = std::make_unique<datastr>();
    try {
        readdata(in, "cut.nex", d.get());
        ADD_FAILURE() << "read without a failure";
    } catch (const failure& f) {
        EXPECT_STREQ(f.what(), "\nError: could not read input file \"cut.nex\"");
    }
    std::fclose(file);
}
