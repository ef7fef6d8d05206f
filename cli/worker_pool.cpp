#include "cli/worker_pool.h"

#include "platform/clock.h"
#include "platform/console.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace cli {

void RunPool(size_t units, unsigned jobs, const PoolCallbacks& callbacks, unsigned tickMs) {
    std::mutex mutex;
    std::condition_variable changed;
    size_t next = 0;
    size_t running = 0;
    size_t exited = 0;
    bool stopped = false;

    const auto pick = [&]() -> PoolPick {
        if (callbacks.next)
            return callbacks.next();
        if (callbacks.startNoMore && callbacks.startNoMore())
            stopped = true;
        if (stopped || next >= units)
            return {};
        return {PoolPick::Kind::Start, next++};
    };
    const auto worker = [&] {
        std::unique_lock lock(mutex);
        while (!stopped) {
            const PoolPick what = pick();
            if (what.kind == PoolPick::Kind::Done)
                break;
            if (what.kind == PoolPick::Kind::Wait) {
                const uint64_t now = platform::NowMs();
                const uint64_t ms = what.untilMs > now
                                        ? std::min<uint64_t>(what.untilMs - now, tickMs)
                                        : (what.untilMs == 0 ? tickMs : 0);
                if (ms > 0)
                    changed.wait_for(lock, std::chrono::milliseconds(ms));
                continue;
            }
            ++running;
            lock.unlock();
            callbacks.run(what.unit);
            lock.lock();
            --running;
            changed.notify_all();
        }
        ++exited;
        changed.notify_all();
    };
    std::vector<std::thread> threads;
    {
        const platform::InterruptsKeptFromNewThreads onlyHere;
        const size_t count = std::min<size_t>(jobs, units);
        for (size_t i = 0; i < count; ++i)
            threads.emplace_back(worker);
    }

    std::unique_lock lock(mutex);
    for (;;) {
        if (!stopped && platform::InterruptRequested()) {
            stopped = true;
            callbacks.interrupt(running, callbacks.next ? units : next);
            changed.notify_all();
        }
        if (exited == threads.size())
            break;
        lock.unlock();
        callbacks.tick();
        lock.lock();
        changed.wait_for(lock, std::chrono::milliseconds(tickMs));
    }
    lock.unlock();
    for (std::thread& thread : threads)
        thread.join();
}

} // namespace cli
