#include "cli/fleet_view.h"

#include "cli/fleet_screen.h"
#include "cli/terminal_text.h"
#include "platform/clock.h"

#include <algorithm>

namespace cli {
namespace {

constexpr int kBarWidth = 20;
constexpr uint64_t kRedrawMs = 200; // at most five frames a second
// The usual window, for a terminal that does not tell its size.
constexpr platform::TerminalSize kUsualSize{24, 80};

std::string Bar(const WindowState& window) {
    const uint32_t high = std::max<uint32_t>(window.barHigh, 1);
    const int filled = int(uint64_t(std::min(window.barPos, high)) * kBarWidth / high);
    std::string bar = "[";
    bar.append(size_t(filled), '#').append(size_t(kBarWidth - filled), '.') += ']';
    return bar;
}

std::string Padded(std::string text, size_t width) {
    if (text.size() < width)
        text.append(width - text.size(), ' ');
    return text;
}

const char* const kInterruptNotice = "Interrupted. Cannot be ended during download processing. %zu "
                                     "running unit(s) will finish; %zu unit(s) will not be "
                                     "started.\n";

} // namespace

FleetView::FleetView(std::FILE* out, bool terminal, std::string model)
    : m_out(out), m_terminal(terminal), m_model(std::move(model)), m_screen(out),
      m_startMs(platform::NowMs()) {
    if (m_terminal)
        m_window.emplace(out);
}

std::string FleetView::Line(const UnitRun& unit, UnitResult result,
                            const WindowState& window) const {
    std::string line = Padded(unit.Address(), 16) + Padded(m_model, 7);
    if (result == UnitResult::Running) {
        line += Padded(ComponentName(window.boldLabel), 22) + Bar(window) + " " +
                TerminalText(window.status);
    } else if (result == UnitResult::Waiting) {
        line += "waiting";
    } else {
        line += std::string(ResultName(result)) + ": " + TerminalText(unit.Outcome().message);
    }
    return line;
}

void FleetView::Refresh(const std::vector<std::unique_ptr<UnitRun>>& units) {
    if (!m_terminal) {
        PrintEvents(units);
        return;
    }
    const uint64_t now = platform::NowMs();
    if (m_drawnMs != 0 && now - m_drawnMs < kRedrawMs)
        return;
    m_drawnMs = now;
    Redraw(units, false);
}

void FleetView::Redraw(const std::vector<std::unique_ptr<UnitRun>>& units, bool headerOnly) {
    platform::TerminalSize size = m_window->Current();
    if (size.rows <= 0 || size.columns <= 0)
        size = kUsualSize;
    if (size != m_size && m_size.rows != 0)
        m_screen.Erase(); // the old block's rows may have moved or wrapped
    m_size = size;

    const uint64_t now = platform::NowMs();
    m_timing.resize(units.size());
    FleetCounts counts;
    std::vector<UnitResult> results(units.size());
    std::vector<uint64_t> completeMs, runningForMs;
    for (size_t i = 0; i < units.size(); ++i) {
        const UnitResult result = units[i]->Result();
        Timing& timing = m_timing[i];
        if (result == UnitResult::Running && timing.startedMs == 0)
            timing.startedMs = now;
        if (result == UnitResult::Complete && timing.completeMs == 0)
            timing.completeMs = std::max<uint64_t>(uint64_t(units[i]->Outcome().seconds * 1000), 1);
        if (result == UnitResult::Running)
            runningForMs.push_back(now - timing.startedMs);
        if (timing.completeMs != 0)
            completeMs.push_back(timing.completeMs);
        results[i] = result;
        ++counts[result];
    }
    const size_t waiting = counts[UnitResult::Waiting];
    std::vector<std::string> lines = {
        HeaderLine(counts, now - m_startMs,
                   headerOnly ? std::nullopt : TimeLeftMs(completeMs, runningForMs, waiting))};
    if (!m_note.empty())
        lines[0] += " | " + m_note;
    const int rows = std::max(size.rows - m_noticeRows, 1);
    if (!headerOnly) {
        const UnitChoice choice = ChooseUnits(results, rows);
        for (const size_t i : choice.shown)
            // The result as counted: a unit that ends meanwhile is shown in the next frame.
            lines.push_back(Line(*units[i], results[i], units[i]->Window()));
        const std::string closing = ClosingLine(choice);
        if (!closing.empty() && int(lines.size()) < rows)
            lines.push_back(closing);
    }
    for (std::string& line : lines)
        line = FitToWidth(std::move(line), size.columns);
    m_screen.Draw(lines);
}

void FleetView::PrintEvents(const std::vector<std::unique_ptr<UnitRun>>& units) {
    m_seen.resize(units.size());
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
        } else if (now.result != UnitResult::Waiting || seen.result != UnitResult::Waiting) {
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

void FleetView::SetNote(const std::string& note) {
    if (note == m_note)
        return;
    m_note = note;
    if (!m_terminal && !note.empty()) {
        std::fprintf(m_out, "%s\n", note.c_str());
        std::fflush(m_out);
    }
}

void FleetView::Interrupted(size_t running, size_t notStarted) {
    if (m_terminal) {
        // The notice takes the view's place; the view goes on below it, in the rows left.
        m_screen.Erase();
        const int length = std::snprintf(nullptr, 0, kInterruptNotice, running, notStarted) - 1;
        const int columns = m_size.columns > 0 ? m_size.columns : kUsualSize.columns;
        m_noticeRows += (length + columns - 1) / columns;
        m_drawnMs = 0;
    }
    std::fprintf(m_out, kInterruptNotice, running, notStarted);
    std::fflush(m_out);
}

void FleetView::Summary(const std::vector<std::unique_ptr<UnitRun>>& units) {
    if (m_terminal) {
        // The counts and the time it took stay above the table, which names every unit.
        Redraw(units, true);
        m_screen.Leave();
    }
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
