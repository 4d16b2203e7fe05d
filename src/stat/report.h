// vornstat's output: aligned tables for people, TSV and JSON for programs,
// and the F_ST matrix of pairs.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "stat/analysis.h"
#include "stat/input.h"

struct analysed {
    input in;
    hugevector<result> results;
};

// The fixed columns of the TSV output, in order.
extern const char* const TSVHEADER;

void writetext(std::ostream& out, const analysed& a, const settings& s);
void writetsvrows(std::ostream& out, const analysed& a);
void writematrix(std::ostream& out, const analysed& a);

// One JSON document for the whole run: the program, the options, every
// input with its results, and the files that could not be analysed.
struct failedinput {
    std::string file;
    int line;
    std::string message;
};
void writejson(std::ostream& out, const std::vector<analysed>& done, const std::vector<failedinput>& failed,
               const settings& s, const std::string& optionsjson);

// Numbers that read back to the same value: a float with 9 significant
// digits, a double with 17.
std::string floattext(float x);
std::string doubletext(double x);
std::string jsonstring(const std::string& s);
