#pragma once
// Texts from a unit (its replies, model and version texts, the boxes that quote them) on one
// line that is safe for a terminal.

#include <string>

namespace cli {

// Line breaks become blanks and trailing blanks go; every other control byte and every byte
// above 126 is written as \xNN, so a reply cannot move the cursor or start an escape sequence.
std::string TerminalText(const std::string& text);

} // namespace cli
