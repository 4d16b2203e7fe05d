// vorn: estimates the gene-flow parameter theta from the allele counts of
// several populations. Asks for a data file, reads it, prints the estimate
// and its standard error, and waits for "quit".
//
// The library reports every failure as a value; this file alone prints it,
// on standard error, and ends the run in the closing prompt.
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <string>
#include <string_view>

#include "core/datastr.h"
#include "core/estimate.h"
#include "core/failure.h"
#include "core/tables.h"
#include "formats/vorndata.h"

namespace {

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

bool white(int c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// The closing prompt: asks for "quit" on standard error until it is typed or
// standard input ends, then ends the process with status 8. Every run ends here.
[[noreturn]] void errorloop()
{
    for (;;) {
        std::cerr << "\ntype \"quit\" to close program>>  ";
        // Read one reply word; only its length and its first bytes matter.
        char reply[8] = "junk";
        std::size_t len = 0;
        int c;
        do
            c = std::cin.get();
        while (c != EOF && white(c));
        if (c == EOF)
            std::exit(8);
        for (; c != EOF && !white(c); c = std::cin.get()) {
            if (len < sizeof reply - 1)
                reply[len] = static_cast<char>(c);
            ++len;
        }
        if (len == 4 && std::string_view(reply, 4) == "quit")
            std::exit(8);
    }
}

// The record and the driver's tables, alive for the whole run: the process
// ends in the closing prompt without releasing them.
datastr* data = nullptr;
tables tab;

void run()
{
    std::cout << "Enter name of input file: ";
    std::string filename;
    if (!(std::cin >> filename))
        throw failure("\nError: no input file name given");

    // calloc hands over zeroed pages without touching them: a small data set
    // never pays for the parts of the record it does not use.
    data = static_cast<datastr*>(std::calloc(1, sizeof(datastr)));
    if (data == nullptr) {
        // The one message that goes to standard output.
        std::cout << "\nMemory allocation error. Try adjusting MAX* values.";
        return;
    }

    getdata(filename.c_str(), data, &std::cout);
    buildtables(data, &tab);

    const float theta = estimate(data, &tab);
    std::cout << "\nEstimate of theta: " << static_cast<double>(theta);

    // A variance that is not positive has no square root; "nan" keeps the
    // line readable by scripts.
    const long double variance = var(theta, data, &tab);
    std::cout << " standard error: ";
    if (variance > 0.0L)
        std::cout << static_cast<double>(std::sqrt(variance));
    else
        std::cout << "nan";

    // A result that did not reach standard output (a full disk, a closed
    // descriptor) is reported, so that a script does not take it for none.
    if (!std::cout.flush())
        throw failure("\nError: could not write to standard output");
}

}  // namespace

int main()
{
    banner();
    try {
        run();
    } catch (const failure& f) {
        std::cerr << f.what();
    }
    errorloop();
}
