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
    bool shown = false;
    size_t runningThen = 0, firstNotStarted = 0; // when the interrupt was seen
    const size_t threadCount = std::min<size_t>(jobs, units);

    // What a callback throws stops further starts; the first is thrown on once every running
    // unit has ended, so that no pool thread is left behind. Under the lock.
    std::exception_ptr failure;
    const auto fail = [&](std::exception_ptr error) {
        if (!failure)
            failure = error;
        stopped = true;
        changed.notify_all();
    };
    // Under the lock, on whichever thread comes first.
    const auto lookAtInterrupt = [&] {
        if (interrupted || !platform::InterruptRequested())
            return;
        interrupted = stopped = true;
        runningThen = running;
        firstNotStarted = callbacks.next ? units : next;
        changed.notify_all();
        try {
            if (callbacks.interrupt)
                callbacks.interrupt(runningThen, firstNotStarted);
        } catch (...) {
            fail(std::current_exception());
        }
    };
    // Without the lock.
    const auto guarded = [&](const auto& call) {
        try {
            call();
        } catch (...) {
            const std::lock_guard lock(mutex);
            fail(std::current_exception());
        }
    };
    const auto pick = [&]() -> PoolPick {
        lookAtInterrupt(); // a signal that came before the pool began counts too
        if (stopped)
            return {};
        if (callbacks.next)
            return callbacks.next();
        if (callbacks.startNoMore && callbacks.startNoMore())
            stopped = true;
        if (stopped || next >= units)
            return {};
        return {PoolPick::Kind::Start, next++};
    };
    const auto ended = [&] {
        if (callbacks.ended)
            guarded(callbacks.ended);
    };
    const auto worker = [&] {
        std::unique_lock lock(mutex);
        for (;;) {
            PoolPick what;
            try {
                what = pick();
            } catch (...) {
                fail(std::current_exception());
            }
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
        const bool last = ++exited == threadCount;
        changed.notify_all();
        lock.unlock();
        if (last)
            ended();
    };
    // Sees the interrupt within a tick while every pool thread is at a unit and the calling
    // thread is held up by its output.
    const auto watcher = [&] {
        std::unique_lock lock(mutex);
        while (exited < threadCount) {
            lookAtInterrupt();
            changed.wait_for(lock, std::chrono::milliseconds(tickMs));
        }
    };
    std::vector<std::thread> threads;
    {
        const platform::InterruptsKeptFromNewThreads onlyHere;
        for (size_t i = 0; i < threadCount; ++i)
            threads.emplace_back(worker);
        threads.emplace_back(watcher);
    }
    if (threadCount == 0)
        ended();

    std::unique_lock lock(mutex);
    for (;;) {
        lookAtInterrupt();
        const bool failed = failure != nullptr;
        if (interrupted && !shown && !failed && callbacks.interruptShown) {
            shown = true;
            lock.unlock();
            guarded([&] { callbacks.interruptShown(runningThen, firstNotStarted); });
            lock.lock();
        }
        if (exited == threadCount)
            break;
        if (!failed) {
            lock.unlock();
            guarded(callbacks.tick);
            lock.lock();
        }
        changed.wait_for(lock, std::chrono::milliseconds(tickMs));
    }
    lock.unlock();
    for (std::thread& thread : threads)
        thread.join();
    if (failure)
        std::rethrow_exception(failure);
}

} // namespace cli
