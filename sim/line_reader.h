#pragma once
// Cuts a byte stream into command lines at LF, dropping the CR (and the NUL that telnet may
// put behind a CR). An overlong line is cut at kMaxLine so a peer cannot grow it without end.

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
