// A failure travels as a value from where it is found to the program's main,
// which alone decides how to show it.
#pragma once

#include <stdexcept>

// what() is the message exactly as vorn prints it on standard error, leading
// line break included. Other programs may reword or prefix it.
struct failure : std::runtime_error {
    using std::runtime_error::runtime_error;
    // How many bytes of the input had been read when it was found, or -1:
    // lets a program that names lines find the line.
    long long offset = -1;
};
