// vorn-baseline: the whole program written the plain way, as the yardstick for
// vorn's speed. Same dialogue and output as vorn; the reader goes word by word
// through a std::ifstream and the score and variance are the plain loops.
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <string>

#include "core/datastr.h"
#include "core/estimate.h"
#include "core/failure.h"
#include "core/tables.h"
#include "literal.h"
#include "reader.h"

namespace {

tables tab;

// The closing prompt, the plain way: words until "quit" or the end of input.
[[noreturn]] void closingprompt()
{
    std::string reply;
    do
        std::cerr << "\ntype \"quit\" to close program>>  ";
    while (std::cin >> reply && reply != "quit");
    std::exit(8);
}

void run()
{
    std::cout << "Enter name of input file: ";
    std::string filename;
    if (!(std::cin >> filename))
        throw failure("\nError: no input file name given");

    datastr* data = new datastr();
    readfile(filename.c_str(), data);
    buildtables(data, &tab);

    const float theta = rtbis(literallikelihood, LOWEST, HIGHEST, TOLERANCE, data, &tab);
    std::cout << "\nEstimate of theta: " << static_cast<double>(theta);
    const long double variance = literalvar(theta, data, &tab);
    std::cout << " standard error: ";
    if (variance > 0.0L)
        std::cout << static_cast<double>(std::sqrt(variance));
    else
        std::cout << "nan";
}

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

    try {
        run();
    } catch (const failure& f) {
        std::cerr << f.what();
    }
    closingprompt();
}
