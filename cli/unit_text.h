#pragma once
// The one form in which texts that a unit sent are shown, printed, reported and compared.

#include <string>

namespace cli {

// A reply's text without the line end the unit put behind it (CR LF, or any run of CR and LF).
std::string WithoutLineEnd(std::string text);

// The version text as `check` prints it and --skip-version compares it: without its line end
// and without trailing blanks, which a person can neither see nor type reliably.
std::string VersionAsShown(std::string text);

} // namespace cli
