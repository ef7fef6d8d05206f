#pragma once
// OpenSSH's patterns: '*' matches any run of characters, '?' any one; a pattern-list is patterns
// separated by commas, each negated by a leading '!'. Case matters.

#include <string_view>

namespace trust {

bool MatchesPattern(std::string_view text, std::string_view pattern);

enum class ListMatch { None, Positive, Negated };

// Negated when text matches a negated pattern of the list (whatever else matches), Positive when
// it matches another, else None.
ListMatch MatchPatternList(std::string_view text, std::string_view list);

} // namespace trust
