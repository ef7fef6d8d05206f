#include "trust/name_pattern.h"

namespace trust {

bool MatchesPattern(std::string_view text, std::string_view pattern) {
    // Greedy with one point to go back to: the last '*', so time stays text x pattern.
    size_t t = 0, p = 0;
    size_t starAt = std::string_view::npos, textAtStar = 0;
    while (t < text.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == text[t])) {
            ++t, ++p;
        } else if (p < pattern.size() && pattern[p] == '*') {
            starAt = p++;
            textAtStar = t;
        } else if (starAt != std::string_view::npos) {
            p = starAt + 1;
            t = ++textAtStar;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

ListMatch MatchPatternList(std::string_view text, std::string_view list) {
    ListMatch result = ListMatch::None;
    while (true) {
        const size_t comma = list.find(',');
        std::string_view pattern = list.substr(0, comma);
        const bool negated = !pattern.empty() && pattern[0] == '!';
        if (negated)
            pattern.remove_prefix(1);
        if (MatchesPattern(text, pattern)) {
            if (negated)
                return ListMatch::Negated;
            result = ListMatch::Positive;
        }
        if (comma == std::string_view::npos)
            return result;
        list.remove_prefix(comma + 1);
    }
}

} // namespace trust
