#pragma once
// Which unit of an update starts next, and when: waves with a failure budget, the stop after N
// failures, a maintenance window, and further attempts for units that did not answer. The
// worker pool asks Next whenever a thread is free; each run's end is told to Ended. Thread-safe.
//
// A unit whose run ended without a word from it (its FTP connection refused or timed out before
// the greeting) was sent nothing, so it is tried again after a pause, at most retryUnanswered more
// times; a unit that answered and then failed is never tried again. Such a unit counts as ended
// (and failed) only when it has no attempt left, so a wave waits for its further attempts.
//
// A wave and its failure budget count the units that were sent the set. A unit that was not (it
// was current, did not answer in any attempt, was busy with another run, or is of another model)
// gives its place in the wave to the next unit, as a current one does.

#include "cli/finish_window.h"
#include "cli/worker_pool.h"

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace cli {

struct RolloutRules {
    std::vector<size_t> waves; // cumulative ends (PlanWaves); the last is the number of units
    unsigned maxFailPercent = 0;
    unsigned stopAfterFailures = 0; // 0: never
    unsigned retryUnanswered = 0;
    unsigned retryDelaySeconds = 30;
    std::optional<FinishWindow> window;
    bool wavesGiven = false; // --waves: each unit is told the wave it starts in
};

// The pause before further attempt `retry` (1: the first retry): the delay doubled for each
// attempt after the first retry, at most 300 s; in milliseconds of protocol time.
uint64_t RetryDelayMs(unsigned delaySeconds, unsigned retry);

// How a unit's run ended. NotSent: it failed before it was sent anything of the set (busy, of
// another model, not identified); Unanswered: it said nothing at all (tried again while it may
// be).
enum class RunEnd { Complete, Current, Failed, Unanswered, NotSent };

struct RolloutNow {
    uint64_t monotonicMs; // platform::NowMs()
    int64_t epochMs;      // the wall clock, for the window
};

// What the roll-out decides about units, said as it decides (under its lock).
struct RolloutEvents {
    std::function<void(size_t unit, const std::string& why)> notStarted;
    // A unit that did not answer and will be tried again after delayMs (real time).
    // The unit's run, told MayTryAgain before it began, has left it waiting for this or for
    // givenUp.
    std::function<void(size_t unit, uint64_t delayMs)> retryLater;
    // A unit waiting for a further attempt that will get none: it stays failed, and why.
    std::function<void(size_t unit, const std::string& why)> givenUp;
    // With wavesGiven, a unit about to run for the first time and its wave (1-based).
    std::function<void(size_t unit, size_t wave)> startsInWave;
    // How a notice names a unit (its address); "unit N" (1-based) without it.
    std::function<std::string(size_t unit)> name;
};

class Rollout {
  public:
    using Pick = PoolPick; // Wait's untilMs: when a further attempt falls due

    Rollout(size_t units, RolloutRules rules, RolloutEvents events);

    Pick Next(RolloutNow now);
    // A unit that is not running (its end was told already) is left as it is.
    void Ended(size_t unit, RunEnd end, uint64_t realMs, RolloutNow now);
    // No further unit starts (an interrupt): units that never ran are not started, those waiting
    // for a further attempt stay failed.
    void Stop(const std::string& notStartedText, const std::string& givenUpReason);

    // "wave 2/3 | until 2026-12-08 06:00, 4:12 per unit (...)"; empty when neither applies.
    std::string HeaderText() const;
    // What stopped the roll-out before every unit could start ("" when nothing did), and how
    // many units it left not started.
    std::string StopNotice() const;
    size_t StoppedUnits() const;
    unsigned Attempts(size_t unit) const;
    // Whether a run of the unit that ends unanswered now would be followed by a further attempt
    // (the one place that weighs the attempts against retryUnanswered).
    bool MayTryAgain(size_t unit) const;

  private:
    enum class State { Waiting, Running, RetryPending, Ended };
    struct Unit {
        State state = State::Waiting;
        unsigned attempts = 0;
        uint64_t dueMs = 0;
        bool failed = false;
    };
    void StopLocked(const std::string& notice, const std::string& notStartedText,
                    const std::string& givenUpReason);
    std::optional<size_t> Candidate(uint64_t nowMs) const;
    bool MayTryAgainLocked(size_t unit) const;
    std::string WaveStoppedLocked() const;
    std::string NameOf(size_t unit) const;

    mutable std::mutex m_mutex;
    const RolloutRules m_rules;
    std::optional<FinishWindow> m_window;
    const RolloutEvents m_events;
    std::vector<Unit> m_units;
    std::vector<size_t> m_pending; // units waiting for a further attempt, in the order they ended
    size_t m_wave = 0;
    size_t m_nextNew = 0;
    size_t m_running = 0;
    std::vector<size_t> m_sent;       // units that ended after being sent the set, in order
    std::vector<size_t> m_sentFailed; // those of them that failed
    size_t m_failed = 0;              // every failed unit, sent the set or not
    bool m_stopped = false;
    std::string m_stopNotice;
    std::string m_givenUpReason;
    size_t m_stoppedUnits = 0;
};

} // namespace cli
