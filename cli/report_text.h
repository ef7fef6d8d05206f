#pragma once
// Texts in the JSON reports. Units send whatever bytes they like and file names need not be
// UTF-8 either, while JSON holds only Unicode text; so every text goes into a report through
// ReportText, which keeps it recoverable byte for byte:
//   - valid UTF-8 stays as it is (control characters become JSON's \u escapes when written);
//   - a byte that is not part of a valid UTF-8 sequence becomes the four characters \xHH
//     (upper-case hexadecimal), e.g. Latin-1 "r\xe9fus\xe9" becomes "r\xE9fus\xE9";
//   - so that every "\x" in a report is such an escape, a backslash that is followed by 'x'
//     becomes \x5C.
// A reader gets the bytes back by replacing each "\x" and two hexadecimal digits with that byte.
// The schemas in docs/schema/ and the README say the same.

#include <string>
#include <string_view>

namespace cli {

std::string ReportText(std::string_view bytes);

} // namespace cli
