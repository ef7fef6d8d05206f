#include "cli/worker_pool.h"

#include "platform/clock.h"
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
    size_t exited = 0;
    bool stopped = false;
    bool interrupted = false;

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
            RunOne(callbacks, what.unit);
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
            guarded([&] { callbacks.interrupt(running, callbacks.next ? units : next); });
            changed.notify_all();
        }
        if (failure && !stopped) {
            stopped = true;
            changed.notify_all();
        }
        if (exited == threads.size())
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
