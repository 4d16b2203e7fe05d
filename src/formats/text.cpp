#include "formats/text.h"

#include <charconv>

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

linereader::linereader(std::string_view text) : rest(text)
{
    if (rest.starts_with("\xEF\xBB\xBF"))
        rest.remove_prefix(3);
}

bool linereader::next(std::string_view& line)
{
    if (rest.empty())
        return false;
    const std::size_t end = rest.find_first_of("\r\n");
    line = rest.substr(0, end);
    if (end == std::string_view::npos)
        rest = {};
    else
        rest.remove_prefix(end +
                           (rest[end] == '\r' && end + 1 < rest.size() && rest[end + 1] == '\n' ? 2 : 1));
    ++number;
    return true;
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
