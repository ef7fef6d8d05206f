#pragma once
// Cuts a byte stream into command lines at LF. A line keeps every byte before its LF (CR and NUL
// included: ReadCommandLine judges them). An overlong line is cut at kMaxLine so a peer cannot
// grow it without end; the rest of it up to its LF is dropped.

#include <cstddef>
#include <deque>
#include <string>

namespace sim {

class LineReader {
  public:
    static constexpr size_t kMaxLine = 4096;

    void Feed(const char* data, size_t length);
    bool HasLine() const { return !m_lines.empty(); }
    std::string PopLine();

  private:
    std::string m_partial;
    bool m_discarding = false; // the rest of an overlong line is dropped up to its LF
    std::deque<std::string> m_lines;
};

} // namespace sim
