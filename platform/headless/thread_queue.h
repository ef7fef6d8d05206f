#pragma once
// The work queue of one dialog thread. Every modal loop on the thread, nested ones included,
// takes its work from here, so that work for an outer dialog (a worker's control call) still
// runs while an inner dialog (the About box) is open, as window messages do.

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <utility>
#include <vector>

namespace headless {

class ThreadQueue {
  public:
    using Work = std::function<void()>;

    // The calling thread's queue (made on first use).
    static std::shared_ptr<ThreadQueue> ForThisThread();

    // The owner (a dialog) starts taking work.
    void Open(const void* owner);
    // The owner stops taking work; returns what was queued for it and not yet run.
    std::vector<Work> Close(const void* owner);
    // Queues work for the owner; false when the owner does not take work.
    bool Post(const void* owner, Work work);
    // Runs queued work, in order, until done() holds (checked before each item).
    void RunUntil(const std::function<bool()>& done);
    // Lets RunUntil look at done() again.
    void Wake();

  private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::deque<std::pair<const void*, Work>> m_work;
    std::set<const void*> m_open;
};

} // namespace headless
