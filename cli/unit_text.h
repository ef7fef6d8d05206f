#pragma once
// The one form in which texts that a unit sent are shown, printed, reported and compared.

#include <string>

namespace cli {

// A reply's text without the line end the unit put behind it (CR LF, or any run of CR and LF).
std::string WithoutLineEnd(std::string text);

// A version text (UnitVersionText: the unit's bytes without the reply's line end) as `check`
// prints it, the reports give it and --skip-version compares it: without trailing blanks, which
// a person can neither see nor type reliably. Every other byte counts.
std::string VersionAsShown(std::string text);

} // namespace cli
