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

// One run of the pool: its threads and what they share, under m_mutex unless said otherwise.
class Pool {
  public:
    Pool(size_t units, unsigned jobs, const PoolCallbacks& callbacks, unsigned tickMs)
        : m_callbacks(callbacks), m_units(units), m_tickMs(tickMs),
          m_threadCount(std::min<size_t>(jobs, units)) {}

    void Run() {
        std::vector<std::thread> threads = StartThreads();
        if (m_threadCount == 0)
            Ended();
        Supervise();
        for (std::thread& thread : threads)
            thread.join();
        if (m_failure)
            std::rethrow_exception(m_failure);
    }

  private:
    // The pool threads and the watcher, which keep the interrupt's signal to this thread.
    std::vector<std::thread> StartThreads() {
        std::vector<std::thread> threads;
        const platform::InterruptsKeptFromNewThreads onlyHere;
        for (size_t i = 0; i < m_threadCount; ++i)
            threads.emplace_back([this] { Work(); });
        threads.emplace_back([this] { Watch(); });
        return threads;
    }

    // What a callback throws stops further starts; the first is thrown on once every running
    // unit has ended, so that no pool thread is left behind.
    void Fail(std::exception_ptr error) {
        if (!m_failure)
            m_failure = error;
        m_stopped = true;
        m_changed.notify_all();
    }

    // On whichever thread comes first.
    void LookAtInterrupt() {
        if (m_interrupted || !platform::InterruptRequested())
            return;
        m_interrupted = m_stopped = true;
        m_runningThen = m_running;
        m_firstNotStarted = m_callbacks.next ? m_units : m_next;
        m_changed.notify_all();
        try {
            if (m_callbacks.interrupt)
                m_callbacks.interrupt(m_runningThen, m_firstNotStarted);
        } catch (...) {
            Fail(std::current_exception());
        }
    }

    // Without the lock.
    template <typename Call> void Guarded(const Call& call) {
        try {
            call();
        } catch (...) {
            const std::lock_guard lock(m_mutex);
            Fail(std::current_exception());
        }
    }

    PoolPick Pick() {
        LookAtInterrupt(); // a signal that came before the pool began counts too
        if (m_stopped)
            return {};
        if (m_callbacks.next)
            return m_callbacks.next();
        if (m_callbacks.startNoMore && m_callbacks.startNoMore())
            m_stopped = true;
        if (m_stopped || m_next >= m_units)
            return {};
        return {PoolPick::Kind::Start, m_next++};
    }

    // Without the lock.
    void Ended() {
        if (m_callbacks.ended)
            Guarded(m_callbacks.ended);
    }

    // A pool thread: units until there is none to start.
    void Work() {
        std::unique_lock lock(m_mutex);
        for (;;) {
            PoolPick what;
            try {
                what = Pick();
            } catch (...) {
                Fail(std::current_exception());
            }
            if (what.kind == PoolPick::Kind::Done)
                break;
            if (what.kind == PoolPick::Kind::Wait) {
                WaitFor(what.untilMs, lock);
                continue;
            }
            ++m_running;
            lock.unlock();
            RunOne(m_callbacks, what.unit);
            lock.lock();
            --m_running;
            m_changed.notify_all();
        }
        const bool last = ++m_exited == m_threadCount;
        m_changed.notify_all();
        lock.unlock();
        if (last)
            Ended();
    }

    // Until untilMs (0: a tick), at most a tick, or until a unit ends.
    void WaitFor(uint64_t untilMs, std::unique_lock<std::mutex>& lock) {
        const uint64_t now = platform::NowMs();
        const uint64_t ms = untilMs > now ? std::min<uint64_t>(untilMs - now, m_tickMs)
                                          : (untilMs == 0 ? m_tickMs : 0);
        if (ms > 0)
            m_changed.wait_for(lock, std::chrono::milliseconds(ms));
    }

    // Sees the interrupt within a tick while every pool thread is at a unit and the calling
    // thread is held up by its output.
    void Watch() {
        std::unique_lock lock(m_mutex);
        while (m_exited < m_threadCount) {
            LookAtInterrupt();
            m_changed.wait_for(lock, std::chrono::milliseconds(m_tickMs));
        }
    }

    // The calling thread: shows the interrupt and ticks until every pool thread has ended.
    void Supervise() {
        std::unique_lock lock(m_mutex);
        for (;;) {
            LookAtInterrupt();
            const bool failed = m_failure != nullptr;
            if (m_interrupted && !m_shown && !failed && m_callbacks.interruptShown) {
                m_shown = true;
                lock.unlock();
                Guarded([&] { m_callbacks.interruptShown(m_runningThen, m_firstNotStarted); });
                lock.lock();
            }
            if (m_exited == m_threadCount)
                break;
            if (!failed && m_callbacks.tick) {
                lock.unlock();
                Guarded(m_callbacks.tick);
                lock.lock();
            }
            m_changed.wait_for(lock, std::chrono::milliseconds(m_tickMs));
        }
    }

    const PoolCallbacks& m_callbacks;
    const size_t m_units;
    const unsigned m_tickMs;
    const size_t m_threadCount;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    size_t m_next = 0;
    size_t m_running = 0;
    size_t m_exited = 0;
    bool m_stopped = false;
    bool m_interrupted = false;
    bool m_shown = false;
    size_t m_runningThen = 0, m_firstNotStarted = 0; // when the interrupt was seen
    std::exception_ptr m_failure;
};

} // namespace

void RunPool(size_t units, unsigned jobs, const PoolCallbacks& callbacks, unsigned tickMs) {
    Pool(units, jobs, callbacks, tickMs).Run();
}

} // namespace cli
