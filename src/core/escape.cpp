#include "core/escape.h"

std::string escaped(std::string_view text)
{
    static const char hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    bool c1 = false;  // the byte before was C2 and opens a C1 control
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        const bool next =
            i + 1 < text.size() && c == 0xc2 && (static_cast<unsigned char>(text[i + 1]) & 0xe0) == 0x80;
        if (c < 0x20 || c == 0x7f || next || c1) {
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += text[i];
        }
        c1 = next;
    }
    return out;
}
