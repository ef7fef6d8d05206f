#pragma once
// At most `jobs` units at a time, on as many threads, until every unit has run or an interrupt
// (or startNoMore) has stopped the rest from starting. Units already running always finish.
// Each thread looks at the interrupt itself before it starts a unit, so that none starts after
// it whatever the calling thread is doing (its output may be blocked for good).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace cli {

// What a free thread does next.
struct PoolPick {
    enum class Kind { Start, Wait, Done } kind = Kind::Done;
    size_t unit = 0;      // Start: this one
    uint64_t untilMs = 0; // Wait: ask again by then (platform::NowMs), or when a unit ends
};

// What the pool calls, given by name ({.run = ..., .ended = ...}); every one but run may be left
// out.
struct PoolCallbacks {
    std::function<void(size_t unit)> run; // on a pool thread
    // Once, when the interrupt is first seen (also after startNoMore has stopped the starts):
    // `running` units are at work, units from `first` on never start. On the thread that saw
    // it, a pool thread or the calling one, under the pool's lock: it must not wait for output.
    std::function<void(size_t running, size_t first)> interrupt = {};
    std::function<void()> tick = {}; // on the calling thread
    // Asked before each unit starts; once true no further unit starts (the rest stay as they
    // are).
    std::function<bool()> startNoMore = {};
    // A unit's run that ended with an exception, and why; on its pool thread, which then goes on
    // with the next unit. Whatever this throws in turn is dropped.
    std::function<void(size_t unit, const std::string& why)> escaped = {};
    // Chooses what a free thread does (under the pool's lock), instead of the units in order;
    // Done once nothing is left to start. `first` of interrupt is then the number of units.
    std::function<PoolPick()> next = {};
    // After interrupt, with the same numbers, on the calling thread: what a person is told of
    // it.
    std::function<void(size_t running, size_t first)> interruptShown = {};
    // Once no unit runs and none will start: on the pool thread that ended last (the calling
    // thread when there was none), whatever the calling thread is doing.
    std::function<void()> ended = {};
};

// Returns once every pool thread has ended; interrupts are looked at and tick is called every
// tickMs milliseconds meanwhile. A thread told to wait asks again at least that often.
void RunPool(size_t units, unsigned jobs, const PoolCallbacks& callbacks, unsigned tickMs = 100);

} // namespace cli
