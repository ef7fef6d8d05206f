#include "cli/fleet_view.h"

#include "cli/fleet_screen.h"
#include "cli/terminal_text.h"
#include "platform/clock.h"

#include <algorithm>

namespace cli {
namespace {

constexpr int kBarWidth = 20;
constexpr size_t kStepWidth = 22;
constexpr uint64_t kRedrawMs = 200; // at most five frames a second
// The usual window, for a terminal that does not tell its size.
constexpr platform::TerminalSize kUsualSize{24, 80};

std::string Bar(const WindowState& window, bool full) {
    const uint32_t high = std::max<uint32_t>(window.barHigh, 1);
    const int filled =
        full ? kBarWidth : int(uint64_t(std::min(window.barPos, high)) * kBarWidth / high);
    std::string bar = "[";
    bar.append(size_t(filled), '#').append(size_t(kBarWidth - filled), '.') += ']';
    return bar;
}

const char* const kInterruptNotice = "Interrupted. Cannot be ended during download processing. %zu "
                                     "running unit(s) will finish; %zu unit(s) will not be "
                                     "started.";

} // namespace

FleetView::FleetView(std::FILE* out, bool terminal)
    : m_out(out), m_terminal(terminal), m_screen(out), m_startMs(platform::NowMs()) {
    if (m_terminal)
        m_window.emplace(out);
}

std::string FleetView::Line(const UnitRun& unit, UnitResult result, const WindowState& window) {
    std::string line = UnitColumns(unit.Address(), unit.Model());
    if (result != UnitResult::Running)
        return line + Event(unit, result, window);
    const StepShown step = StepOf(window);
    return line + Column(step.name, kStepWidth) + Bar(window, step.done) + " " + step.state;
}

std::string FleetView::Event(const UnitRun& unit, UnitResult result, const WindowState& window) {
    if (result == UnitResult::Running) {
        const StepShown step = StepOf(window);
        return step.name + ": " + step.state;
    }
    // A unit waits again after an attempt that it did not answer: the message says so.
    if (result == UnitResult::Waiting && unit.Outcome().message.empty())
        return ResultName(result);
    return std::string(ResultName(result)) + ": " + TerminalText(unit.Outcome().message);
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
    Redraw(units);
}

void FleetView::Redraw(const std::vector<std::unique_ptr<UnitRun>>& units) {
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
    const size_t waiting = counts[UnitResult::Waiting] + counts[UnitResult::AwaitingRetry];
    std::vector<std::string> lines = {
        HeaderLine(counts, now - m_startMs, TimeLeftMs(completeMs, runningForMs, waiting))};
    // The roll-out's line under the header, when there is room for a unit below it.
    const int noteRows = !m_note.empty() && size.rows - m_noticeRows >= 3 ? 1 : 0;
    if (noteRows > 0)
        lines.push_back(m_note);
    const int rows = std::max(size.rows - m_noticeRows - noteRows, 1);
    const UnitChoice choice = ChooseUnits(results, rows);
    for (const size_t i : choice.shown)
        // The result as counted: a unit that ends meanwhile is shown in the next frame.
        lines.push_back(Line(*units[i], results[i], units[i]->Window()));
    const std::string closing = ClosingLine(choice);
    if (!closing.empty() && int(lines.size()) - noteRows < rows)
        lines.push_back(closing);
    for (std::string& line : lines)
        line = FitToWidth(std::move(line), size.columns);
    m_screen.Draw(lines);
}

void FleetView::PrintEvents(const std::vector<std::unique_ptr<UnitRun>>& units) {
    m_printed.resize(units.size());
    for (size_t i = 0; i < units.size(); ++i) {
        const UnitRun& unit = *units[i];
        const UnitResult result = unit.Result();
        if (result == UnitResult::Waiting && m_printed[i].empty())
            continue;
        std::string event = Event(unit, result, unit.Window());
        if (event == m_printed[i])
            continue;
        const std::string line = UnitColumns(unit.Address(), unit.Model()) + event + "\n";
        std::fwrite(line.data(), 1, line.size(), m_out);
        m_printed[i] = std::move(event);
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

void FleetView::Interrupted(size_t running, size_t notStarted, size_t notTriedAgain) {
    char text[256];
    std::snprintf(text, sizeof text, kInterruptNotice, running, notStarted);
    std::string notice = text;
    if (notTriedAgain > 0) {
        std::snprintf(text, sizeof text, " %zu unit(s) awaiting a further attempt will not get it.",
                      notTriedAgain);
        notice += text;
    }
    Notice(notice);
}

void FleetView::Notice(const std::string& text) {
    if (m_terminal) {
        // The notice takes the view's place; the view goes on below it, in the rows left.
        m_screen.Erase();
        const int columns = m_size.columns > 0 ? m_size.columns : kUsualSize.columns;
        m_noticeRows += std::max((int(text.size()) + columns - 1) / columns, 1);
        m_drawnMs = 0;
    }
    std::fprintf(m_out, "%s\n", text.c_str());
    std::fflush(m_out);
}

void FleetView::Summary(const std::vector<std::unique_ptr<UnitRun>>& units) {
    if (m_terminal)
        m_screen.Erase(); // the table lists every unit, and its last line the counts
    std::vector<UnitResult> results;
    FleetCounts counts;
    for (const auto& unit : units)
        ++counts[results.emplace_back(unit->Result())];
    std::fprintf(m_out, "\n%-16s%-13s%9s  %s\n", "unit", "result", "duration", "message");
    for (const size_t i : SummaryOrder(results)) {
        const UnitOutcome outcome = units[i]->Outcome();
        std::fprintf(m_out, "%-16s%-13s%8.1fs  %s\n", units[i]->Address().c_str(),
                     ResultName(outcome.result), outcome.seconds,
                     TerminalText(outcome.message).c_str());
    }
    std::fprintf(m_out, "%s\n",
                 HeaderLine(counts, platform::NowMs() - m_startMs, std::nullopt).c_str());
    std::fflush(m_out);
}

} // namespace cli
