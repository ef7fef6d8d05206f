#pragma once
// Texts from a unit (its replies, model and version texts, the boxes that quote them) on one
// line that is safe for a terminal.

#include <string>
#include <string_view>

namespace cli {

// Line breaks become blanks and trailing blanks go; every other control byte and every byte
// above 126 is written as \xNN, so a reply cannot move the cursor or start an escape sequence.
std::string TerminalText(const std::string& text);

// A text that is compared byte for byte (a version text) on one safe line on which two texts
// that differ never look alike: as TerminalText, but line breaks, trailing blanks, the
// backslash and the double quote that encloses it are written as \xNN too.
std::string ExactText(std::string_view text);
// The bytes an ExactText stands for: each \xNN (hexadecimal, either case) is that byte; a
// backslash that starts no such escape is itself, so a text without escapes is its own bytes.
std::string BytesOfExactText(std::string_view shown);

} // namespace cli
