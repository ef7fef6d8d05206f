#pragma once
// A block of lines at the bottom of a terminal's output, redrawn in place: the cursor goes back
// to the block's first row, each row is rewritten and cleared to its end, and rows the block no
// longer needs are erased. The cursor rests on the last line, so a block as tall as the window
// never makes the terminal scroll its own rows away.

#include <cstdio>
#include <string>
#include <vector>

namespace cli {

class InPlaceScreen {
  public:
    explicit InPlaceScreen(std::FILE* out) : m_out(out) {}

    // Replaces the block with these lines (each shorter than the window is wide, no more of them
    // than it has rows); nothing is written when they are what is shown already.
    void Draw(const std::vector<std::string>& lines);
    // Erases the block, e.g. after the window was resized (its rows may have moved) or to put a
    // notice in its place; the next Draw starts where the block began.
    void Erase();

  private:
    void BackToFirstRow(std::string& text) const;

    std::FILE* m_out;
    std::vector<std::string> m_shown; // the block's lines as they are on the screen
};

} // namespace cli
