#include "platform/headless/thread_queue.h"

#include <algorithm>

namespace headless {

std::shared_ptr<ThreadQueue> ThreadQueue::ForThisThread() {
    thread_local std::shared_ptr<ThreadQueue> queue = std::make_shared<ThreadQueue>();
    return queue;
}

void ThreadQueue::Open(const void* owner) {
    std::lock_guard lock(m_mutex);
    m_open.insert(owner);
}

std::vector<ThreadQueue::Work> ThreadQueue::Close(const void* owner) {
    std::vector<Work> left;
    std::lock_guard lock(m_mutex);
    m_open.erase(owner);
    for (auto it = m_work.begin(); it != m_work.end();) {
        if (it->first == owner) {
            left.push_back(std::move(it->second));
            it = m_work.erase(it);
        } else {
            ++it;
        }
    }
    return left;
}

bool ThreadQueue::Post(const void* owner, Work work) {
    {
        std::lock_guard lock(m_mutex);
        if (m_open.count(owner) == 0)
            return false;
        m_work.emplace_back(owner, std::move(work));
    }
    m_cv.notify_all();
    return true;
}

void ThreadQueue::RunUntil(const std::function<bool()>& done) {
    for (;;) {
        Work work;
        {
            std::unique_lock lock(m_mutex);
            m_cv.wait(lock, [&] { return done() || !m_work.empty(); });
            if (done())
                return;
            work = std::move(m_work.front().second);
            m_work.pop_front();
        }
        work();
    }
}

void ThreadQueue::Wake() {
    { std::lock_guard lock(m_mutex); }
    m_cv.notify_all();
}

} // namespace headless
