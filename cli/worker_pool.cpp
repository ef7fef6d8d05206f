#include "cli/worker_pool.h"

#include "platform/console.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace cli {
namespace {

// Runs one unit; nothing that it throws leaves the pool thread, which would end the program and
// every other unit's run with it.
void RunOne(const PoolCallbacks& callbacks, size_t unit) {
    std::string why;
    try {
        callbacks.run(unit);
        return;
    } catch (const std::exception& e) {
        why = e.what();
    } catch (...) {
        why = "an unknown exception";
    }
    try {
        if (callbacks.escaped)
            callbacks.escaped(unit, why);
    } catch (...) {
        // Nothing more can be said of this unit.
    }
}

} // namespace

void RunPool(size_t units, unsigned jobs, const PoolCallbacks& callbacks, unsigned tickMs) {
    std::mutex mutex;
    std::condition_variable changed;
    size_t next = 0;
    size_t running = 0;
    bool stopped = false;
    bool interrupted = false;

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
            RunOne(callbacks, unit);
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

    // What the calling thread's own callbacks throw stops further starts; it is thrown on once
    // every running unit has ended, so that no pool thread is left behind.
    std::exception_ptr failure;
    const auto guarded = [&](const auto& call) {
        if (failure)
            return;
        try {
            call();
        } catch (...) {
            failure = std::current_exception();
        }
    };
    std::unique_lock lock(mutex);
    for (;;) {
        if (!interrupted && platform::InterruptRequested()) {
            interrupted = stopped = true;
            guarded([&] { callbacks.interrupt(running, next); });
        }
        if (failure)
            stopped = true;
        if ((next >= units || stopped) && running == 0)
            break;
        lock.unlock();
        guarded(callbacks.tick);
        lock.lock();
        changed.wait_for(lock, std::chrono::milliseconds(tickMs));
    }
    lock.unlock();
    for (std::thread& thread : threads)
        thread.join();
    if (failure)
        std::rethrow_exception(failure);
}

} // namespace cli
