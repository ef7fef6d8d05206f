#pragma once
// The Windows rules for matching a file name against a search pattern, for the POSIX directory
// search: '*' and '?' wildcards, no regard to case (ASCII), "*.*" also matching names without a
// dot, and a match through the short 8.3 name that Windows gives a long name (so "*.htm" also
// finds "page.html", whose short name is "PAGE~1.HTM").

#include <string>

namespace platform {

// Wildcard match without regard to case.
bool WildcardMatchNoCase(const std::string& pattern, const std::string& name);

// The 8.3 short name Windows generates for a name that is not already a valid 8.3 name; empty
// when the name is itself a valid short name. The number after '~' is always 1 here: a search
// pattern cannot tell the numbers apart except by naming them.
std::string ShortNameFor(const std::string& name);

// Whether a directory search for pattern returns the name.
bool WindowsNameMatches(const std::string& pattern, const std::string& name);

} // namespace platform
