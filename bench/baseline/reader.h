// The baseline's data file reader: word by word through a std::ifstream.
#pragma once

#include "core/datastr.h"

// Reads the named data file into the zero-filled record, printing the same
// progress and summary as the program's own reader. Meant for well-formed
// files; on the first thing that does not fit it writes a message and enters
// the closing prompt.
void readfile(const char* filename, datastr* data);
