// Choosing loci or populations by a LIST, as --loci and --pops take it.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace formats {

// The items of a LIST as indices into names, in the order of names. An item
// is a name, '=' and a name, a number from 1 or a range of numbers; an item
// that is the name of one entry and the number of another is refused as
// ambiguous. option and what ("--loci", "locus") word the complaint, thrown
// as std::invalid_argument.
std::vector<std::size_t> choose(const std::string& list, const std::vector<std::string>& names,
                                const std::string& option, const std::string& what);

}  // namespace formats
