#include "cli/in_place_screen.h"

namespace cli {

void InPlaceScreen::BackToFirstRow(std::string& text) const {
    text += '\r';
    if (m_shown.size() > 1)
        text += "\x1b[" + std::to_string(m_shown.size() - 1) + "A";
}

void InPlaceScreen::Draw(const std::vector<std::string>& lines) {
    if (lines == m_shown)
        return;
    std::string text;
    BackToFirstRow(text);
    for (size_t i = 0; i < lines.size(); ++i)
        text += (i > 0 ? "\n" : "") + lines[i] + "\x1b[K";
    if (lines.size() < m_shown.size())
        text += "\x1b[J"; // the rows below, which the block had before
    // The cursor waits at the start of the last row: what the terminal echoes there (a typed
    // key, "^C") overwrites that row's first columns and never wraps into a row of its own.
    text += '\r';
    // One write per frame, so that a terminal never shows half of one.
    std::fwrite(text.data(), 1, text.size(), m_out);
    std::fflush(m_out);
    m_shown = lines;
}

void InPlaceScreen::Erase() {
    std::string text;
    BackToFirstRow(text);
    text += "\x1b[J";
    std::fwrite(text.data(), 1, text.size(), m_out);
    std::fflush(m_out);
    m_shown.clear();
}

} // namespace cli
