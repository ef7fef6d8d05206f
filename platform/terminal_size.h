#pragma once
// The size of the terminal window a program's output shows in, kept current while the window is
// resized, so that a view drawn in place never takes more rows or columns than are visible.

#include <cstdio>

namespace platform {

struct TerminalSize {
    int rows = 0;
    int columns = 0;
    bool operator==(const TerminalSize&) const = default;
};

class TerminalSizeWatch {
  public:
    // Reads the size of the window `stream` goes to and starts noticing its resizes.
    explicit TerminalSizeWatch(std::FILE* stream);
    ~TerminalSizeWatch();
    TerminalSizeWatch(const TerminalSizeWatch&) = delete;
    TerminalSizeWatch& operator=(const TerminalSizeWatch&) = delete;

    // The visible rows and columns now ({0, 0} when the stream's window has no known size).
    TerminalSize Current();

  private:
    std::FILE* m_stream;
    TerminalSize m_size;
    unsigned m_seenResizes = 0; // resizes noticed when m_size was read (POSIX)
};

} // namespace platform
