#include "cli/fleet_view.h"

#include "cli/terminal_text.h"

#include <algorithm>

namespace cli {
namespace {

constexpr int kBarWidth = 20;

std::string Bar(const WindowState& window) {
    const uint32_t high = std::max<uint32_t>(window.barHigh, 1);
    const int filled = int(uint64_t(std::min(window.barPos, high)) * kBarWidth / high);
    return "[" + std::string(size_t(filled), '#') + std::string(size_t(kBarWidth - filled), '.') +
           "]";
}

std::string Padded(std::string text, size_t width) {
    if (text.size() < width)
        text.append(width - text.size(), ' ');
    return text;
}

} // namespace

FleetView::FleetView(std::FILE* out, bool terminal, std::string model)
    : m_out(out), m_terminal(terminal), m_model(std::move(model)) {}

std::string FleetView::Line(const UnitRun& unit, const WindowState& window) const {
    const UnitResult result = unit.Result();
    std::string line = Padded(unit.Address(), 16) + Padded(m_model, 7);
    if (result == UnitResult::Running) {
        line += Padded(ComponentName(window.boldLabel), 22) + Bar(window) + " " + window.status;
    } else if (result == UnitResult::Waiting) {
        line += "waiting";
    } else {
        line += std::string(ResultName(result)) + ": " + TerminalText(unit.Outcome().message);
    }
    return line;
}

void FleetView::Refresh(const std::vector<std::unique_ptr<UnitRun>>& units) {
    m_seen.resize(units.size());
    if (m_terminal) {
        if (m_drawnLines > 0)
            std::fprintf(m_out, "\x1b[%zuA", m_drawnLines); // back to the first unit's line
        for (const auto& unit : units)
            std::fprintf(m_out, "\r%s\x1b[K\n", Line(*unit, unit->Window()).c_str());
        m_drawnLines = units.size();
        std::fflush(m_out);
        return;
    }
    for (size_t i = 0; i < units.size(); ++i) {
        const UnitRun& unit = *units[i];
        const WindowState window = unit.Window();
        Seen now{unit.Result(), window.boldLabel, window.status};
        Seen& seen = m_seen[i];
        if (now.result == seen.result && now.label == seen.label && now.status == seen.status)
            continue;
        if (now.result == UnitResult::Running) {
            // A step's end alone (its label off, the status unchanged) is no event of its own.
            if (!(now.label == 0 && now.status == seen.status && seen.result == now.result))
                std::fprintf(m_out, "%s %s%s%s\n", unit.Address().c_str(),
                             now.label ? ComponentName(now.label).c_str() : "connecting",
                             now.status.empty() ? "" : ": ", now.status.c_str());
        } else if (now.result != UnitResult::Waiting) {
            const UnitOutcome outcome = unit.Outcome();
            const std::string kind =
                outcome.messageKind.empty() ? "" : " (" + outcome.messageKind + ")";
            std::fprintf(m_out, "%s %s%s: %s\n", unit.Address().c_str(), ResultName(now.result),
                         kind.c_str(), TerminalText(outcome.message).c_str());
        }
        seen = now;
    }
    std::fflush(m_out);
}

void FleetView::Interrupted(size_t running, size_t notStarted) {
    std::fprintf(m_out,
                 "Interrupted. Cannot be ended during download processing. %zu running unit(s) "
                 "will finish; %zu unit(s) will not be started.\n",
                 running, notStarted);
    m_drawnLines = 0; // the redraw continues below the notice
    std::fflush(m_out);
}

void FleetView::Summary(const std::vector<std::unique_ptr<UnitRun>>& units) {
    std::fprintf(m_out, "\n%-16s%-13s%9s  %s\n", "unit", "result", "duration", "message");
    for (const auto& unit : units) {
        const UnitOutcome outcome = unit->Outcome();
        std::fprintf(m_out, "%-16s%-13s%8.1fs  %s\n", unit->Address().c_str(),
                     ResultName(outcome.result), outcome.seconds,
                     TerminalText(outcome.message).c_str());
    }
    std::fflush(m_out);
}

} // namespace cli
