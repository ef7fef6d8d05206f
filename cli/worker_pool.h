#pragma once
// At most `jobs` units at a time, on as many threads, until every unit has run or an interrupt
// (or startNoMore) has stopped the rest from starting. Units already running always finish.

#include <cstddef>
#include <functional>

namespace cli {

struct PoolCallbacks {
    std::function<void(size_t unit)> run;                        // on a pool thread
    std::function<void(size_t running, size_t first)> interrupt; // units from `first` on stay
    std::function<void()> tick;                                  // on the calling thread
    // Asked before each unit starts; once true no further unit starts (the rest stay as they
    // are). May be empty.
    std::function<bool()> startNoMore;
};

// Returns once every pool thread has ended; interrupts are looked at and tick is called every
// tickMs milliseconds meanwhile.
void RunPool(size_t units, unsigned jobs, const PoolCallbacks& callbacks, unsigned tickMs = 100);

} // namespace cli
