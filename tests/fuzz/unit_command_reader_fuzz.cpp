// Fuzz target: the simulated unit's command reader, which cuts what a client sends on the control
// or telnet connection into command lines.
//
// Input: the first byte is the size of the pieces the stream arrives in (0: all at once), the
// rest is the stream. However the stream is cut into receives, the lines must be the same.

#include "sim/line_reader.h"
#include "tests/fuzz/fuzz_check.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace {

std::vector<std::string> ReadLines(const char* stream, size_t size, size_t piece) {
    sim::LineReader reader;
    std::vector<std::string> lines;
    for (size_t at = 0; at < size; at += piece) {
        reader.Feed(stream + at, std::min(piece, size - at));
        while (reader.HasLine())
            lines.push_back(reader.PopLine());
    }
    return lines;
}

// Whether every byte of part occurs in whole in the same order.
bool IsSubsequence(const std::string& part, const std::string& whole) {
    size_t at = 0;
    for (char c : part) {
        at = whole.find(c, at);
        if (at == std::string::npos)
            return false;
        ++at;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const char* stream = reinterpret_cast<const char*>(data + 1);
    const size_t length = size - 1;
    const size_t piece = data[0] == 0 ? length + 1 : data[0];

    const std::vector<std::string> whole = ReadLines(stream, length, length + 1);
    size_t lineFeeds = 0;
    for (size_t i = 0; i < length; ++i)
        lineFeeds += stream[i] == '\n';
    // One line per line feed; an overlong line that no line feed ends gives one more.
    FUZZ_CHECK(whole.size() >= lineFeeds && whole.size() <= lineFeeds + 1);
    // Line i is the i-th piece of the stream between line feeds, less the bytes the reader
    // drops, and no longer than kMaxLine.
    const std::string text(stream, length);
    size_t start = 0;
    for (const std::string& line : whole) {
        const size_t end = std::min(text.find('\n', start), length);
        FUZZ_CHECK(line.size() <= sim::LineReader::kMaxLine);
        FUZZ_CHECK(IsSubsequence(line, text.substr(start, end - start)));
        start = end + 1;
    }
    FUZZ_CHECK(ReadLines(stream, length, piece) == whole);
    return 0;
}
