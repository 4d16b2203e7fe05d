#include "reader.h"

#include <fstream>
#include <iostream>
#include <string>

#include "core/failure.h"

namespace {

[[noreturn]] void fail(const std::string& message)
{
    throw failure(message);
}

void expect(std::ifstream& in, const std::string& keyword)
{
    std::string word;
    in >> word;
    if (word != keyword)
        fail("\nError: incorrect input at " + word);
}

// A key: what stands before the next '=', white space in front skipped.
std::string readkey(std::ifstream& in)
{
    std::string key;
    std::getline(in >> std::ws, key, '=');
    return key;
}

void store(char* to, const std::string& text)
{
    const std::size_t len = text.copy(to, LABELLEN - 1);
    to[len] = '\0';
}

// Counts one gene with symbol c at locus l of population p; symbols are
// numbered per locus in the order they are first met.
void tally(datastr* data, char allelesym[][MAXALLELES], int p, int l, char c)
{
    for (int k = 1; k <= data->nalleles[l]; ++k) {
        if (allelesym[l][k] == c) {
            data->allelecount[p][l][k] += 1;
            return;
        }
    }
    if (data->nalleles[l] == MAXALLELES - 1)
        fail("\nError: more than 49 alleles at locus " + std::to_string(l));
    const int k = ++data->nalleles[l];
    allelesym[l][k] = c;
    data->allelecount[p][l][k] = 1;
}

}  // namespace

void readfile(const char* filename, datastr* data)
{
    std::ifstream in(filename);
    if (!in)
        fail(std::string("\nError: could not open input file \"") + filename + "\"\n");

    std::string word;
    in >> word;
    if (word != "#nexus")
        fail("\nError: not a nexus format file!" + word);
    std::cout << "Opening NEXUS data file " << filename;
    expect(in, "begin");
    in >> word;
    if (word != "vorndata;")
        fail("\nError: block type " + word.substr(0, word.empty() ? 0 : word.size() - 1) +
             " cannot be used with this program");
    std::cout << "\nReading VORN 2.0 data format";

    expect(in, "dimensions");
    for (int item = 0; item < 2; ++item) {
        const std::string key = readkey(in);
        if (key == "npops")
            in >> data->npops;
        else if (key == "nloci")
            in >> data->nloci;
        else
            fail("\nError: incorrect input at " + key);
    }
    in.get();  // ';'
    if (!in || data->npops < 1 || data->npops >= MAXPOPS || data->nloci < 1 || data->nloci >= MAXLOCI)
        fail("\nError: bad dimensions");

    expect(in, "format");
    std::string ploidy;
    in >> ploidy;
    if (ploidy != "haploid" && ploidy != "diploid")
        fail("\nError: incorrect input at " + ploidy);
    const bool diploid = ploidy == "diploid";
    char missing = 0;
    char separator = 0;
    bool hasmissing = false;
    bool hasseparator = false;
    for (bool last = false; !last;) {
        const std::string key = readkey(in);
        std::string value;
        in >> value;
        last = !value.empty() && value.back() == ';';
        if (last)
            value.pop_back();
        if (key == "missing" && !value.empty()) {
            missing = value[0];
            hasmissing = true;
        } else if (key == "separator" && !value.empty()) {
            separator = value[0];
            hasseparator = true;
        } else if (key != "datapoint") {
            fail("\nError: incorrect input at " + key);
        }
    }

    expect(in, "locusallelelabels");
    for (int l = 1; l <= data->nloci; ++l) {
        int number = 0;
        std::string label;
        in >> number >> label;
        if (number != l || label.empty())
            fail("\nError: incorrect input at " + std::to_string(number));
        label.pop_back();  // the ',' or ';' after the label
        store(data->locuslabel[l], label);
    }

    expect(in, "matrix");
    static char allelesym[MAXLOCI][MAXALLELES];
    for (int l = 1; l <= data->nloci; ++l)
        data->nalleles[l] = 0;

    const int nloci = data->nloci;
    int npops = 0;
    long long total = 0;
    for (bool endmatrix = false; !endmatrix;) {
        ++npops;
        if (npops >= MAXPOPS)
            fail("\nError: more than 99 populations in matrix");
        const int p = npops;
        std::string name;
        std::getline(in >> std::ws, name, ':');
        store(data->popname[p], name);
        for (bool endpop = false; !endpop;) {
            ++total;
            in >> word;  // the individual's name
            for (int l = 1; l <= nloci; ++l) {
                if (diploid || l == nloci) {
                    in >> word;
                } else {
                    char c = 0;
                    in >> c;
                    word.assign(1, c);
                }
                if (!in || word.empty())
                    fail("\nError: unexpected end of file in matrix");
                if (l == nloci && word.back() == ',') {
                    endpop = true;
                } else if (l == nloci && word.back() == ';') {
                    endpop = true;
                    endmatrix = true;
                }
                if (diploid) {
                    if (word.size() < 3 || word[1] != separator)
                        fail("Error: incorrect separator " + word.substr(1, 1));
                    if (!hasmissing || word[0] != missing)
                        tally(data, allelesym, p, l, word[0]);
                    if (!hasmissing || word[2] != missing)
                        tally(data, allelesym, p, l, word[2]);
                } else if (!hasmissing || word[0] != missing) {
                    tally(data, allelesym, p, l, word[0]);
                }
            }
        }
    }

    in >> word;
    if (word != "end;")
        fail("\nError: end of file expected at " + word);
    if (npops != data->npops)
        fail("\nError: Number of populations in matrix: " + std::to_string(npops) +
             " does not match npops=" + std::to_string(data->npops));

    std::cout << "\nData matrix has " << data->npops << " populations, " << data->nloci << " loci, and " << total
              << " individuals";
    if (hasmissing)
        std::cout << "\nMissing data represented by the symbol " << missing;
    if (hasseparator)
        std::cout << "\nDifferent genes at one locus separated by the symbol " << separator;
    std::cout << (diploid ? "\nAll loci diploid." : "\nAll loci haploid.");
}
