#pragma once
// What the unit saw, bounded so that a unit can run for ever: the latest kKeptLines lines, each
// cut to kKeptLineBytes, and the count of every line ever noted. Noting a line costs the same
// however long the unit has run (no copy of the whole history); readers copy only what they
// ask for. Shared by the unit's threads, so every call is locked.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace sim {

class History {
  public:
    static constexpr size_t kKeptLines = 2048;
    static constexpr size_t kKeptLineBytes = 256;

    // A line longer than kKeptLineBytes is kept as its start, "..." and its length.
    void Note(const std::string& line);

    // Every line ever noted.
    size_t Count() const;
    // The kept lines, oldest first.
    std::vector<std::string> Lines() const;
    // The kept lines from number `first` on (counted from 0 over every line ever noted; lines
    // no longer kept are skipped); `next` is set to the number of the line after the last.
    std::vector<std::string> LinesFrom(size_t first, size_t* next) const;
    // Waits until `count` lines have been noted in all.
    bool WaitFor(size_t count, std::chrono::milliseconds timeout) const;
    // The bytes the kept lines hold (their texts' lengths).
    size_t KeptBytes() const;

  private:
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::deque<std::string> m_lines;
    size_t m_count = 0;
    size_t m_bytes = 0;
};

} // namespace sim
