// vorn: estimates the gene-flow parameter theta from the allele counts of
// several populations. Asks for a data file, reads it, prints the estimate
// and its standard error, and waits for "quit".
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <string>

#include "../estimate/estimate.h"
#include "../reader/reader.h"
#include "datastr.h"
#include "tables.h"

namespace {

// The driver's tables, alive for the whole run beside the record.
float freq[MAXLOCI][MAXALLELES];
std::int32_t ngenes[MAXPOPS][MAXLOCI];

void banner()
{
    const std::time_t now = std::time(nullptr);
    char date[32] = "";
    if (const std::tm* local = std::localtime(&now))
        std::strftime(date, sizeof date, "%a %b %e %H:%M:%S %Y", local);
    std::cout << "VORN of Gene Flow\n"
              << "by the VORN developers\n"
              << "Release 2.0 for Windows 95/NT (23/08/98) \n"
              << date << '\n';
}

}  // namespace

int main()
{
    banner();

    std::cout << "Enter name of input file: ";
    std::string filename;
    if (!(std::cin >> filename)) {
        std::cerr << "\nError: no input file name given";
        errorloop();
    }

    // calloc hands over zeroed pages without touching them: a small data set
    // never pays for the parts of the record it does not use.
    auto* data = static_cast<datastr*>(std::calloc(1, sizeof(datastr)));
    if (data == nullptr) {
        std::cout << "\nMemory allocation error. Try adjusting MAX* values.";
        errorloop();
    }

    getdata(filename.c_str(), data);
    buildtables(data, freq, ngenes);

    const float theta = rtbis(likelihood, LOWEST, HIGHEST, TOLERANCE, data, ngenes, freq);
    std::cout << "\nEstimate of theta: " << static_cast<double>(theta);

    // A variance that is not positive has no square root; "nan" keeps the
    // line readable by scripts.
    const long double variance = var(theta, data, ngenes, freq);
    std::cout << " standard error: ";
    if (variance > 0.0L)
        std::cout << static_cast<double>(std::sqrt(variance));
    else
        std::cout << "nan";

    errorloop();
}
