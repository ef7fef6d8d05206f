#pragma once
// What a person sees of a fleet run. On a terminal: a block redrawn in place that never takes
// more rows than the window has (a header with the counts and times, then the failed and running
// units, one line each, as many as fit); otherwise (a pipe, CI) one plain line per event and no
// control sequences. Then a summary table in both cases.

#include "cli/in_place_screen.h"
#include "cli/unit_run.h"
#include "platform/terminal_size.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace cli {

class FleetView {
  public:
    FleetView(std::FILE* out, bool terminal);

    // Shows the units' current state (a redraw at most a few times a second, or a line per
    // change since the last call).
    void Refresh(const std::vector<std::unique_ptr<UnitRun>>& units);
    // What the roll-out is at ("wave 2/3 | until 06:00, ..."): on a terminal a row under the
    // header (when at least three rows are left), otherwise a line whenever it changes.
    void SetNote(const std::string& note);
    // Says at once what an interrupt does.
    // Units awaiting a further attempt (notTriedAgain) stay failed: they are not "not started".
    void Interrupted(size_t running, size_t notStarted, size_t notTriedAgain);
    // A line about the whole run; on a terminal it takes the view's place and the view goes on
    // below it.
    void Notice(const std::string& text);
    // The table of every unit, those that did not complete last, then the counts.
    void Summary(const std::vector<std::unique_ptr<UnitRun>>& units);

  private:
    // What the terminal view keeps of a unit between frames.
    struct Timing {
        uint64_t startedMs = 0;  // when it was first seen running
        uint64_t completeMs = 0; // how long it took, once complete
    };
    static std::string Line(const UnitRun& unit, UnitResult result, const WindowState& window);
    // What a plain line says of the unit's state after its columns ("CPU Program: writing").
    static std::string Event(const UnitRun& unit, UnitResult result, const WindowState& window);
    void PrintEvents(const std::vector<std::unique_ptr<UnitRun>>& units);
    void Redraw(const std::vector<std::unique_ptr<UnitRun>>& units);

    std::FILE* m_out;
    const bool m_terminal;
    std::vector<std::string> m_printed; // each unit's last event in the plain view
    std::string m_note;
    // The terminal view.
    std::optional<platform::TerminalSizeWatch> m_window;
    platform::TerminalSize m_size;
    InPlaceScreen m_screen;
    int m_noticeRows = 0; // rows that the interrupt's notice took above the view
    const uint64_t m_startMs;
    uint64_t m_drawnMs = 0;
    std::vector<Timing> m_timing;
};

} // namespace cli
