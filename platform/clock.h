#pragma once
// Every pause and every bounded wait of the program goes through this clock. The product always
// runs at scale 1; tests may shrink the protocol's fixed pauses by setting a smaller scale.

#include <cstdint>

namespace platform {

// Sleeps for the given number of milliseconds of protocol time (scaled).
void SleepMs(uint32_t ms);

// Converts a protocol duration to the real duration that the current scale gives (at least 1 ms
// for any non-zero duration).
uint32_t ScaledMs(uint32_t ms);

// Monotonic real time in milliseconds, for measuring and for deadlines built from ScaledMs.
uint64_t NowMs();

// Sets the scale (1.0 = real time). Only tests call this.
void SetTimeScale(double scale);
double TimeScale();

} // namespace platform
