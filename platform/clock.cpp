// The process-wide time scale and the sleeps and deadlines built on it.

#include "platform/clock.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>

namespace platform {
namespace {

std::atomic<double> g_scale{1.0};

} // namespace

uint32_t ScaledMs(uint32_t ms) {
    if (ms == 0)
        return 0;
    const double scale = g_scale.load();
    if (scale == 1.0)
        return ms;
    const double scaled = std::ceil(double(ms) * scale);
    if (scaled < 1.0)
        return 1;
    if (scaled > double(UINT32_MAX))
        return UINT32_MAX;
    return uint32_t(scaled);
}

void SleepMs(uint32_t ms) {
    const uint32_t real = ScaledMs(ms);
    if (real != 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(real));
}

uint64_t NowMs() {
    using namespace std::chrono;
    return uint64_t(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void SetTimeScale(double scale) {
    // A scale that is not a positive number would turn every bound into nothing or forever.
    if (!(scale > 0.0) || std::isinf(scale))
        scale = 1.0;
    g_scale.store(scale);
}

double TimeScale() {
    return g_scale.load();
}

} // namespace platform
