#include "sim/line_reader.h"

namespace sim {

void LineReader::Feed(const char* data, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        char c = data[i];
        if (c == '\n') {
            if (!m_discarding) {
                m_lines.push_back(std::move(m_partial));
            }
            m_partial.clear();
            m_discarding = false;
        } else if (m_discarding) {
            continue;
        } else if (m_partial.size() == kMaxLine) {
            m_lines.push_back(std::move(m_partial));
            m_partial.clear();
            m_discarding = true;
        } else {
            m_partial += c;
        }
    }
}

std::string LineReader::PopLine() {
    std::string line = std::move(m_lines.front());
    m_lines.pop_front();
    return line;
}

} // namespace sim
