#include "formats/text.h"

#include <cerrno>
#include <charconv>
#include <cstring>

#include "core/escape.h"

namespace formats {

bool white(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

std::string_view trim(std::string_view s)
{
    while (!s.empty() && white(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && white(s.back()))
        s.remove_suffix(1);
    return s;
}

std::vector<std::string_view> words(std::string_view s)
{
    std::vector<std::string_view> out;
    std::size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && white(s[i]))
            ++i;
        const std::size_t start = i;
        while (i < s.size() && !white(s[i]))
            ++i;
        if (i > start)
            out.push_back(s.substr(start, i - start));
    }
    return out;
}

std::vector<std::string_view> cells(std::string_view s, char sep)
{
    std::vector<std::string_view> out;
    std::size_t i = 0;
    while (true) {
        // A quoted cell runs to its closing quote, separators and all.
        std::size_t j = i;
        while (j < s.size() && white(s[j]) && s[j] != sep)
            ++j;
        std::size_t end = 0;
        if (j < s.size() && s[j] == '"') {
            const std::size_t close = s.find('"', j + 1);
            end = s.find(sep, close == std::string_view::npos ? s.size() : close);
        } else {
            end = s.find(sep, i);
        }
        if (end == std::string_view::npos)
            end = s.size();
        std::string_view cell = trim(s.substr(i, end - i));
        if (cell.size() >= 2 && cell.front() == '"' && cell.back() == '"')
            cell = trim(cell.substr(1, cell.size() - 2));
        out.push_back(cell);
        if (end >= s.size())
            break;
        i = end + 1;
    }
    while (!out.empty() && out.back().empty())
        out.pop_back();
    return out;
}

char separator(std::string_view line)
{
    const std::size_t at = line.find_first_of(",;\t");
    return at == std::string_view::npos ? '\0' : line[at];
}

bool alldigits(std::string_view s)
{
    if (s.empty())
        return false;
    for (const char c : s)
        if (c < '0' || c > '9')
            return false;
    return true;
}

bool number(std::string_view s, long& value, bool sign)
{
    const bool negative = sign && s.size() > 1 && s.front() == '-';
    if (negative)
        s.remove_prefix(1);
    if (!alldigits(s))
        return false;
    long v = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || end != s.data() + s.size())
        return false;
    value = negative ? -v : v;
    return true;
}

bool samewords(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const char x = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] - 'A' + 'a') : a[i];
        const char y = b[i] >= 'A' && b[i] <= 'Z' ? static_cast<char>(b[i] - 'A' + 'a') : b[i];
        if (x != y)
            return false;
    }
    return true;
}

std::string quote(std::string_view s)
{
    constexpr std::size_t longest = 40;
    std::size_t cut = s.size();
    if (cut > longest) {
        cut = longest;
        while (cut > 0 && (static_cast<unsigned char>(s[cut]) & 0xC0) == 0x80)
            --cut;  // not inside a UTF-8 character
    }
    std::string out(1, '\'');
    out.append(escaped(s.substr(0, cut)));
    out.append(cut < s.size() ? "...'" : "'");
    return out;
}

std::string num(std::size_t n)
{
    return std::to_string(n);
}

std::string count(std::size_t n, std::string_view one, std::string_view many)
{
    return num(n) + " " + std::string(n == 1 ? one : many);
}

input::input(std::string_view text) : text(text)
{
}

input::input(std::FILE* file, std::size_t block) : file(file), block(block)
{
}

bool input::more()
{
    if (file == nullptr)
        return false;
    // What is let go leaves the buffer once it is half of it, so that moving
    // the rest down costs no more than reading it did.
    if (unneeded > base && unneeded - base >= buf.size() / 2) {
        buf.erase(0, unneeded - base);
        base = unneeded;
    }
    const std::size_t old = buf.size();
    buf.resize(old + block);
    const std::size_t got = std::fread(buf.data() + old, 1, block, file);
    const int err = errno;
    buf.resize(old + got);
    if (got < block) {
        if (std::ferror(file))
            throw inputerror(0, std::string("read error: ") + std::strerror(err));
        file = nullptr;
    }
    return got > 0;
}

std::string_view input::whole()
{
    if (base > 0)
        throw std::logic_error("input::whole after letting go");
    // The rest is read in pieces, each twice the last up to 16 MiB, and put
    // together once: the text is held at most twice over, and only briefly.
    std::vector<std::string> pieces;
    std::size_t total = buf.size();
    for (std::size_t size = block; file != nullptr; size = std::min(2 * size, std::size_t(1) << 24)) {
        std::string piece(size, '\0');
        const std::size_t got = std::fread(piece.data(), 1, size, file);
        const int err = errno;
        piece.resize(got);
        total += got;
        pieces.push_back(std::move(piece));
        if (got < size) {
            if (std::ferror(file))
                throw inputerror(0, std::string("read error: ") + std::strerror(err));
            file = nullptr;
        }
    }
    buf.reserve(total);
    for (std::string& piece : pieces) {
        buf += piece;
        std::string().swap(piece);
    }
    return held();
}

linereader::linereader(std::string_view text) : own(text), in(&own), letgo(false)
{
    if (text.starts_with("\xEF\xBB\xBF"))
        pos = 3;
}

linereader::linereader(input& source, bool letgo) : in(&source), letgo(letgo)
{
    while (in->held().size() < 3 && in->more()) {
    }
    if (in->held().starts_with("\xEF\xBB\xBF"))
        pos = 3;
}

bool linereader::next(std::string_view& line)
{
    for (;;) {
        if (letgo) {
            in->letgo(pos);
            // Blanks at the start of a line go as they come.
            const std::string_view rest = in->held().substr(pos - in->start());
            const std::size_t text = rest.find_first_not_of(" \t\v\f");
            pos += std::min(text, rest.size());
            if (text == std::string_view::npos && in->more())
                continue;
        }
        const std::string_view rest = in->held().substr(pos - in->start());
        const std::size_t end = rest.find_first_of("\r\n", scanned);
        // A CR at the end of what is read may be the first half of a CR LF.
        if (end != std::string_view::npos && (end + 1 < rest.size() || rest[end] == '\n' || in->ended())) {
            line = rest.substr(0, end);
            pos += end + (rest[end] == '\r' && end + 1 < rest.size() && rest[end + 1] == '\n' ? 2 : 1);
            scanned = 0;
            ++number;
            return true;
        }
        if (in->ended()) {
            if (rest.empty())
                return false;
            line = rest;
            pos += rest.size();
            scanned = 0;
            ++number;
            return true;
        }
        scanned = std::min(end, rest.size());
        in->more();
    }
}

int alleletables::index(dataset& data, std::size_t l, std::string_view label)
{
    if (tables.size() <= l)
        tables.resize(l + 1);
    auto& table = tables[l];
    if (const auto at = table.find(label); at != table.end())
        return at->second;
    const auto index = static_cast<int>(data.loci[l].alleles.size());
    table.emplace(std::string(label), index);
    data.loci[l].alleles.emplace_back(label);
    return index;
}

std::string codelabel(long code)
{
    return std::to_string(code);
}

}  // namespace formats
