#include "cli/rollout.h"

#include "cli/waves.h"
#include "platform/clock.h"

#include <algorithm>

namespace cli {

uint64_t RetryDelayMs(unsigned delaySeconds, unsigned retry) {
    constexpr uint64_t kMostMs = 300 * 1000;
    uint64_t ms = uint64_t(delaySeconds) * 1000;
    for (unsigned i = 1; i < retry && ms < kMostMs; ++i)
        ms *= 2;
    return std::min(ms, kMostMs);
}

Rollout::Rollout(size_t units, RolloutRules rules, RolloutEvents events)
    : m_rules(std::move(rules)), m_window(m_rules.window), m_events(std::move(events)),
      m_units(units) {}

// A further attempt that has fallen due comes first (it has waited), then the wave's next unit:
// while the units sent the set, running or waiting for a further attempt are fewer than the
// wave's size (a unit that turns out current leaves its place to the next).
std::optional<size_t> Rollout::Candidate(uint64_t nowMs) const {
    for (const size_t i : m_pending) {
        if (m_units[i].dueMs <= nowMs)
            return i;
    }
    if (!m_rules.waves.empty() && m_nextNew < m_units.size() &&
        m_sent.size() + m_running + m_pending.size() < m_rules.waves[m_wave])
        return m_nextNew;
    return std::nullopt;
}

Rollout::Pick Rollout::Next(RolloutNow now) {
    std::lock_guard lock(m_mutex);
    for (;;) {
        if (m_stopped)
            return {m_running == 0 ? Pick::Kind::Done : Pick::Kind::Wait};
        if (const std::optional<size_t> unit = Candidate(now.monotonicMs)) {
            // A window that closed before the run began: the operator may have meant a later
            // day's, and is told how to say so, with a time that lies ahead.
            if (m_window && m_nextNew == 0 && m_window->Closed(now.epochMs)) {
                const FinishTime& time = m_window->Time();
                StopLocked("The window closed at " + time.shown,
                           "Not started: the window closed at " + time.shown +
                               (time.later.empty()
                                    ? "; for a later one, give a date and time ahead with its "
                                      "offset: --finish-by YYYY-MM-DDTHH:MM+HH:MM."
                                    : "; for the next day's, give the date: --finish-by " +
                                          time.later + "."),
                           "the window closed at " + time.shown);
                continue;
            }
            if (m_window && !m_window->Fits(now.epochMs)) {
                // Until a unit has completed the estimate is the set's, which a real run may
                // well beat: wait for the first that completes before giving up on the rest.
                if (!m_window->Measured() && m_running > 0)
                    return {Pick::Kind::Wait};
                const std::string after = "would end after " + m_window->Time().shown;
                StopLocked("The window closes at " + m_window->Time().shown,
                           "Not started: " + after + " (" + ClockDuration(m_window->ExpectedMs()) +
                               " per unit).",
                           after);
                continue;
            }
            Unit& chosen = m_units[*unit];
            if (chosen.state == State::Waiting) {
                ++m_nextNew;
                if (m_rules.wavesGiven && m_events.startsInWave)
                    m_events.startsInWave(*unit, m_wave + 1);
            } else {
                m_pending.erase(std::find(m_pending.begin(), m_pending.end(), *unit));
            }
            chosen.state = State::Running;
            ++chosen.attempts;
            ++m_running;
            return {Pick::Kind::Start, *unit};
        }
        std::optional<uint64_t> due;
        for (const size_t i : m_pending)
            due = std::min(due.value_or(m_units[i].dueMs), m_units[i].dueMs);
        if (due || m_running > 0)
            return {Pick::Kind::Wait, 0, due.value_or(0)};
        // The wave has ended: it tested as many units as its size, or no unit is left.
        if (m_nextNew >= m_units.size() || m_wave + 1 >= m_rules.waves.size())
            return {Pick::Kind::Done};
        if (BudgetSpent(m_sent.size(), m_sentFailed.size(), m_rules.maxFailPercent)) {
            const std::string why = WaveStoppedText(m_wave + 1, m_rules.waves.size(), m_sent.size(),
                                                    m_sentFailed.size(), m_rules.maxFailPercent);
            StopLocked(WaveStoppedLocked(), why + ".", why);
            continue;
        }
        ++m_wave;
    }
}

void Rollout::Ended(size_t index, RunEnd end, uint64_t realMs, RolloutNow now) {
    std::lock_guard lock(m_mutex);
    if (index >= m_units.size() || m_units[index].state != State::Running)
        return; // told twice (what followed the first end threw): that end stands
    Unit& unit = m_units[index];
    --m_running;
    if (end == RunEnd::Unanswered && MayTryAgainLocked(index)) {
        if (!m_stopped) {
            const uint64_t delay = platform::ScaledMs(
                uint32_t(RetryDelayMs(m_rules.retryDelaySeconds, unit.attempts)));
            unit.state = State::RetryPending;
            unit.dueMs = now.monotonicMs + delay;
            m_pending.push_back(index);
            if (m_events.retryLater)
                m_events.retryLater(index, delay);
            return;
        }
        if (m_events.givenUp) // stopped while it ran
            m_events.givenUp(index, m_givenUpReason);
    }
    unit.state = State::Ended;
    unit.failed = end != RunEnd::Complete && end != RunEnd::Current;
    m_failed += unit.failed ? 1 : 0;
    if (end == RunEnd::Complete || end == RunEnd::Failed) {
        m_sent.push_back(index);
        if (unit.failed)
            m_sentFailed.push_back(index);
    }
    if (end == RunEnd::Complete && m_window)
        m_window->UnitCompleted(realMs);
    if (!m_stopped && m_rules.stopAfterFailures > 0 && m_failed >= m_rules.stopAfterFailures) {
        const std::string failed = std::to_string(m_failed) + " unit(s) had failed";
        StopLocked("Stopped after " + std::to_string(m_failed) + " failed unit(s)",
                   "Not started: " + failed + " (--stop-after-failures " +
                       std::to_string(m_rules.stopAfterFailures) + ").",
                   failed);
    }
}

void Rollout::Stop(const std::string& notStartedText, const std::string& givenUpReason) {
    std::lock_guard lock(m_mutex);
    if (!m_stopped)
        StopLocked("", notStartedText, givenUpReason);
}

void Rollout::StopLocked(const std::string& notice, const std::string& notStartedText,
                         const std::string& givenUpReason) {
    m_stopped = true;
    m_stopNotice = notice;
    m_givenUpReason = givenUpReason;
    m_pending.clear();
    for (size_t i = 0; i < m_units.size(); ++i) {
        Unit& unit = m_units[i];
        if (unit.state == State::Waiting) {
            ++m_stoppedUnits;
            if (m_events.notStarted)
                m_events.notStarted(i, notStartedText);
        } else if (unit.state == State::RetryPending) {
            ++m_failed; // never sent the set: the budget does not count it
            unit.failed = true;
            if (m_events.givenUp)
                m_events.givenUp(i, givenUpReason);
        } else {
            continue;
        }
        unit.state = State::Ended;
    }
}

std::string Rollout::HeaderText() const {
    std::lock_guard lock(m_mutex);
    std::string text;
    if (m_rules.waves.size() > 1)
        text = "wave " + std::to_string(m_wave + 1) + "/" + std::to_string(m_rules.waves.size());
    if (m_window)
        text += (text.empty() ? "" : " | ") + m_window->HeaderText();
    return text;
}

std::string Rollout::StopNotice() const {
    std::lock_guard lock(m_mutex);
    return m_stopNotice;
}

size_t Rollout::StoppedUnits() const {
    std::lock_guard lock(m_mutex);
    return m_stoppedUnits;
}

unsigned Rollout::Attempts(size_t unit) const {
    std::lock_guard lock(m_mutex);
    return m_units[unit].attempts;
}

bool Rollout::MayTryAgain(size_t unit) const {
    std::lock_guard lock(m_mutex);
    return MayTryAgainLocked(unit);
}

bool Rollout::MayTryAgainLocked(size_t unit) const {
    return unit < m_units.size() && m_units[unit].attempts > 0 &&
           m_units[unit].attempts <= m_rules.retryUnanswered;
}

std::string Rollout::NameOf(size_t unit) const {
    return m_events.name ? m_events.name(unit) : "unit " + std::to_string(unit + 1);
}

// The budget's notice, naming the units sent the set and those of them that failed.
std::string Rollout::WaveStoppedLocked() const {
    const auto names = [this](const std::vector<size_t>& units) {
        constexpr size_t kMostNamed = 10;
        std::string text;
        for (size_t i = 0; i < std::min(units.size(), kMostNamed); ++i)
            text += (i ? ", " : "") + NameOf(units[i]);
        if (units.size() > kMostNamed)
            text += " and " + std::to_string(units.size() - kMostNamed) + " more";
        return text;
    };
    return WaveStoppedText(m_wave + 1, m_rules.waves.size(), m_sent.size(), m_sentFailed.size(),
                           m_rules.maxFailPercent) +
           " (sent the set: " + names(m_sent) + "; failed: " + names(m_sentFailed) + ")";
}

} // namespace cli
