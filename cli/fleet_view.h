#pragma once
// What a person sees of a fleet run. On a terminal: one line per unit, redrawn in place
// (address, model, step, bar, status); otherwise (a pipe, CI) one plain line per event and no
// control sequences. Then a summary table in both cases.

#include "cli/unit_run.h"

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace cli {

class FleetView {
  public:
    FleetView(std::FILE* out, bool terminal, std::string model);

    // Shows the units' current state (a redraw, or a line per change since the last call).
    void Refresh(const std::vector<std::unique_ptr<UnitRun>>& units);
    // Says at once what an interrupt does.
    void Interrupted(size_t running, size_t notStarted);
    void Summary(const std::vector<std::unique_ptr<UnitRun>>& units);

  private:
    struct Seen {
        UnitResult result = UnitResult::Waiting;
        int label = 0;
        std::string status;
    };
    std::string Line(const UnitRun& unit, const WindowState& window) const;

    std::FILE* m_out;
    const bool m_terminal;
    const std::string m_model;
    std::vector<Seen> m_seen;
    size_t m_drawnLines = 0;
};

} // namespace cli
