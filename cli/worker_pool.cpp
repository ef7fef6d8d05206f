#include "cli/worker_pool.h"

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
    bool stopped = false;

    const auto mayStart = [&] {
        if (callbacks.startNoMore && callbacks.startNoMore())
            stopped = true;
        return !stopped && next < units;
    };
    const auto worker = [&] {
        std::unique_lock lock(mutex);
        while (mayStart()) {
            const size_t unit = next++;
            ++running;
            lock.unlock();
            callbacks.run(unit);
            lock.lock();
            --running;
            changed.notify_all();
        }
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
            callbacks.interrupt(running, next);
        }
        if ((next >= units || stopped) && running == 0)
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
