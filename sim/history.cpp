#include "sim/history.h"

#include <algorithm>

namespace sim {

void History::Note(const std::string& line) {
    std::string kept = line.size() <= kKeptLineBytes ? line
                                                     : line.substr(0, kKeptLineBytes) + "... (" +
                                                           std::to_string(line.size()) + " bytes)";
    {
        std::lock_guard lock(m_mutex);
        m_bytes += kept.size();
        m_lines.push_back(std::move(kept));
        if (m_lines.size() > kKeptLines) {
            m_bytes -= m_lines.front().size();
            m_lines.pop_front();
        }
        ++m_count;
    }
    m_changed.notify_all();
}

size_t History::Count() const {
    std::lock_guard lock(m_mutex);
    return m_count;
}

std::vector<std::string> History::Lines() const {
    std::lock_guard lock(m_mutex);
    return {m_lines.begin(), m_lines.end()};
}

std::vector<std::string> History::LinesFrom(size_t first, size_t* next) const {
    std::lock_guard lock(m_mutex);
    const size_t oldest = m_count - m_lines.size();
    const size_t skip = std::min(std::max(first, oldest) - oldest, m_lines.size());
    *next = m_count;
    return {m_lines.begin() + static_cast<std::ptrdiff_t>(skip), m_lines.end()};
}

bool History::WaitFor(size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return m_count >= count; });
}

size_t History::KeptBytes() const {
    std::lock_guard lock(m_mutex);
    return m_bytes;
}

} // namespace sim
