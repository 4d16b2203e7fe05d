// Reads a vorn data file with vorn's own reader and prints what it counted,
// so that tests can hold the counts against a count of the original input.
//
//   vorncounts FILE
//
// After the reader's progress text, prints a line "#counts", then
//   npops N nloci L
//   nalleles l n            for each locus
//   count p l k c           for each population, locus and allele
// On a reader error it prints vorn's message and exits with status 8.
#include <iostream>
#include <memory>

#include "core/datastr.h"
#include "core/failure.h"
#include "formats/vorndata.h"

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::cerr << "usage: vorncounts FILE\n";
        return 2;
    }
    auto data = std::make_unique<datastr>();
    try {
        getdata(argv[1], data.get(), &std::cout);
    } catch (const failure& f) {
        std::cerr << f.what();
        return 8;
    }
    std::cout << "\n#counts\n";
    std::cout << "npops " << data->npops << " nloci " << data->nloci << '\n';
    for (int l = 1; l <= data->nloci; ++l)
        std::cout << "nalleles " << l << ' ' << data->nalleles[l] << '\n';
    for (int p = 1; p <= data->npops; ++p)
        for (int l = 1; l <= data->nloci; ++l)
            for (int k = 1; k <= data->nalleles[l]; ++k)
                std::cout << "count " << p << ' ' << l << ' ' << k << ' ' << data->allelecount[p][l][k] << '\n';
    return 0;
}
