#include <charconv>
#include <string>

#include "convert/dataset.h"

namespace convert {

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

bool digits(std::string_view s, int& value)
{
    if (s.empty())
        return false;
    for (const char c : s)
        if (c < '0' || c > '9')
            return false;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    return ec == std::errc() && end == s.data() + s.size();
}

bool integer(std::string_view s, int& value)
{
    if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
        const bool negative = s.front() == '-';
        if (!digits(s.substr(1), value))
            return false;
        if (negative)
            value = -value;
        return true;
    }
    return digits(s, value);
}

bool popword(std::string_view w)
{
    return w.size() == 3 && (w[0] == 'p' || w[0] == 'P') && (w[1] == 'o' || w[1] == 'O') &&
           (w[2] == 'p' || w[2] == 'P');
}

std::string quote(std::string_view s)
{
    constexpr std::size_t longest = 40;
    std::string out = "'";
    for (std::size_t i = 0; i < s.size() && i < longest; ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        out += c < 0x20 || c == 0x7f ? '?' : static_cast<char>(c);
    }
    if (s.size() > longest)
        out += "...";
    return out + "'";
}

std::vector<std::string> splitlines(std::string_view text)
{
    if (text.starts_with("\xEF\xBB\xBF"))
        text.remove_prefix(3);
    std::vector<std::string> lines;
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        lines.emplace_back(line);
        if (end == std::string_view::npos)
            break;
        text.remove_prefix(end + 1);
    }
    return lines;
}

void allelecheck::note(const dataset& data, std::size_t l, int code, int line)
{
    if (code == MISSING)
        return;
    std::set<int>& seen = codes[l];
    if (!seen.insert(code).second || seen.size() <= MAXUSEDALLELES)
        return;
    throw inputerror(line, "allele code " + std::to_string(code) + " is the " + std::to_string(seen.size()) +
                               "th distinct code at locus " + std::to_string(l + 1) + " " +
                               quote(data.loci[l].name) + ": at most " + std::to_string(MAXUSEDALLELES) +
                               " alleles fit at one locus");
}

std::string guessformat(const std::vector<std::string>& lines)
{
    for (std::size_t i = 1; i < lines.size(); ++i) {
        if (lines[i].find(',') != std::string::npos)
            return "genepop";
        // A STRUCTURE row might begin with a label "pop", but never stands alone.
        if (const auto w = words(lines[i]); w.size() == 1 && popword(w[0]))
            return "genepop";
    }
    return "structure";
}

}  // namespace convert
