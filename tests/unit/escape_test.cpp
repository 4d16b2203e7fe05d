// Echoed text: controls escaped byte by byte, printable UTF-8 kept.
#include <gtest/gtest.h>

#include <string>

#include "core/escape.h"

namespace {

struct row {
    std::string in, out;
};

TEST(Escape, ControlsGoPrintableStays)
{
    const row rows[] = {
        {"plain words", "plain words"},
        {"tab\there\r\n", "tab\\x09here\\x0d\\x0a"},
        {std::string("nul\0.", 5), "nul\\x00."},
        {"\x1b[2J\x7f", "\\x1b[2J\\x7f"},
        {"csi \xc2\x9b" "31m", "csi \\xc2\\x9b31m"},                // C1 control: both bytes
        {"\xc2\x80\xc2\x9f", "\\xc2\\x80\\xc2\\x9f"},                // the ends of the C1 range
        {"nbsp \xc2\xa0 euro \xe2\x82\xac", "nbsp \xc2\xa0 euro \xe2\x82\xac"},  // printable UTF-8
        {"\xc2\xc2\x9b", "\xc2\\xc2\\x9b"},                          // C2 before a C1 control
        {"end \xc2", "end \xc2"},                                    // a lone C2 at the end
        {"lone \x9b", "lone \x9b"},                                  // not UTF-8: kept, as vorn always has
    };
    for (const row& r : rows)
        EXPECT_EQ(escaped(r.in), r.out) << r.in;
}

}  // namespace
