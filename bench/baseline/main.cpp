// vorn-baseline: the whole program written the plain way, as the yardstick for
// vorn's speed. Same dialogue and output as vorn; the reader goes word by word
// through a std::ifstream and the score and variance are the plain loops.
#include <cmath>
#include <ctime>
#include <iostream>
#include <string>

#include "driver/datastr.h"
#include "driver/tables.h"
#include "estimate/estimate.h"
#include "literal.h"
#include "reader.h"
#include "reader/reader.h"

namespace {

float freq[MAXLOCI][MAXALLELES];
std::int32_t ngenes[MAXPOPS][MAXLOCI];

}  // namespace

int main()
{
    const std::time_t now = std::time(nullptr);
    char date[32] = "";
    if (const std::tm* local = std::localtime(&now))
        std::strftime(date, sizeof date, "%a %b %e %H:%M:%S %Y", local);
    std::cout << "VORN of Gene Flow\n"
              << "by the VORN developers\n"
              << "Release 2.0 for Windows 95/NT (23/08/98) \n"
              << date << '\n';

    std::cout << "Enter name of input file: ";
    std::string filename;
    if (!(std::cin >> filename)) {
        std::cerr << "\nError: no input file name given";
        errorloop();
    }

    datastr* data = new datastr();
    readfile(filename.c_str(), data);
    buildtables(data, freq, ngenes);

    const float theta = rtbis(literallikelihood, LOWEST, HIGHEST, TOLERANCE, data, ngenes, freq);
    std::cout << "\nEstimate of theta: " << static_cast<double>(theta);
    const long double variance = literalvar(theta, data, ngenes, freq);
    std::cout << " standard error: ";
    if (variance > 0.0L)
        std::cout << static_cast<double>(std::sqrt(variance));
    else
        std::cout << "nan";
    errorloop();
}
