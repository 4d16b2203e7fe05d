#include "formats/choose.h"

#include <algorithm>
#include <optional>
#include <stdexcept>
#include <string_view>

#include "formats/text.h"

namespace formats {

std::vector<std::size_t> choose(const std::string& list, const std::vector<std::string>& names,
                                const std::string& option, const std::string& what)
{
    std::vector<char> chosen(names.size(), 0);
    auto byname = [&](std::string_view name) -> std::optional<std::size_t> {
        const auto at = std::find(names.begin(), names.end(), name);
        if (at == names.end())
            return std::nullopt;
        return static_cast<std::size_t>(at - names.begin());
    };
    for (const std::string_view raw : cells(list, ',')) {
        const std::string_view item = trim(raw);
        if (item.empty())
            throw std::invalid_argument(option + " " + quote(list) + ": an empty item");
        if (item.front() == '=') {
            const auto at = byname(item.substr(1));
            if (!at)
                throw std::invalid_argument(option + ": no " + what + " is named " + quote(item.substr(1)));
            chosen[*at] = 1;
            continue;
        }
        long from = 0, to = 0;
        const std::size_t dash = item.find('-', 1);
        const bool numeric = dash == std::string_view::npos ? number(item, from, false) && (to = from, true)
                                                            : number(item.substr(0, dash), from, false) &&
                                                                  number(item.substr(dash + 1), to, false);
        const auto named = byname(item);
        if (named && numeric && !(from == to && static_cast<std::size_t>(from) == *named + 1) && from >= 1 &&
            static_cast<std::size_t>(from) <= names.size())
            throw std::invalid_argument(
                option + ": " + quote(item) + " is the name of " + what + " " + std::to_string(*named + 1) +
                " and the number of another; write '=" + std::string(item) + "' for the name or " +
                std::to_string(from) + "-" + std::to_string(to) + " for the numbers");
        if (named && !(dash != std::string_view::npos && numeric && from != to)) {
            chosen[*named] = 1;
            continue;
        }
        if (!numeric || from < 1 || to < from || static_cast<std::size_t>(to) > names.size())
            throw std::invalid_argument(option + ": " + quote(item) + " is neither the name of a " + what +
                                        " nor a number or range within 1-" + std::to_string(names.size()));
        for (long n = from; n <= to; ++n)
            chosen[static_cast<std::size_t>(n - 1)] = 1;
    }
    std::vector<std::size_t> out;
    for (std::size_t i = 0; i < chosen.size(); ++i)
        if (chosen[i])
            out.push_back(i);
    return out;
}

}  // namespace formats
