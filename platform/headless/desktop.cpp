// The headless desktop: the open dialogs, the event record and the message-box responder.

#include "platform/headless/desktop.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>

namespace headless {

struct Desktop::Impl {
    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    std::vector<Event> events;
    std::vector<MessageBoxRecord> boxes;
    std::function<int(const MessageBoxRecord&)> responder;
    std::vector<DialogView*> views; // in the order they opened
};

Desktop::Desktop() : m_impl(std::make_unique<Impl>()) {}

Desktop& Desktop::Instance() {
    static Desktop desktop;
    return desktop;
}

void Desktop::Reset() {
    std::lock_guard lock(m_impl->mutex);
    m_impl->events.clear();
    m_impl->boxes.clear();
    m_impl->responder = nullptr;
}

void Desktop::SetMessageBoxResponder(std::function<int(const MessageBoxRecord&)> responder) {
    std::lock_guard lock(m_impl->mutex);
    m_impl->responder = std::move(responder);
}

std::vector<MessageBoxRecord> Desktop::MessageBoxes() const {
    std::lock_guard lock(m_impl->mutex);
    return m_impl->boxes;
}

bool Desktop::WaitForMessageBoxes(size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(m_impl->mutex);
    return m_impl->changed.wait_for(lock, timeout, [&] { return m_impl->boxes.size() >= count; });
}

std::vector<Event> Desktop::Events() const {
    std::lock_guard lock(m_impl->mutex);
    return m_impl->events;
}

void Desktop::ClearEvents() {
    std::lock_guard lock(m_impl->mutex);
    m_impl->events.clear();
}

DialogView* Desktop::Find(int templateId) {
    std::lock_guard lock(m_impl->mutex);
    const auto it = std::find_if(m_impl->views.rbegin(), m_impl->views.rend(),
                                 [&](DialogView* v) { return v->TemplateId() == templateId; });
    return it == m_impl->views.rend() ? nullptr : *it;
}

DialogView* Desktop::WaitFor(int templateId, std::chrono::milliseconds timeout) {
    DialogView* found = nullptr;
    std::unique_lock lock(m_impl->mutex);
    m_impl->changed.wait_for(lock, timeout, [&] {
        for (auto it = m_impl->views.rbegin(); it != m_impl->views.rend() && !found; ++it)
            if ((*it)->TemplateId() == templateId)
                found = *it;
        return found != nullptr;
    });
    return found;
}

void Desktop::Record(const Event& event) {
    {
        std::lock_guard lock(m_impl->mutex);
        m_impl->events.push_back(event);
    }
    m_impl->changed.notify_all();
}

int Desktop::ShowMessageBox(const MessageBoxRecord& box) {
    std::function<int(const MessageBoxRecord&)> responder;
    {
        std::lock_guard lock(m_impl->mutex);
        m_impl->boxes.push_back(box);
        responder = m_impl->responder;
    }
    m_impl->changed.notify_all();
    // Answered on the thread that shows the box, without the desktop's lock.
    return responder ? responder(box) : platform::kIdOk;
}

void Desktop::Register(DialogView* view) {
    {
        std::lock_guard lock(m_impl->mutex);
        m_impl->views.push_back(view);
    }
    m_impl->changed.notify_all();
}

void Desktop::Unregister(DialogView* view) {
    {
        std::lock_guard lock(m_impl->mutex);
        std::erase(m_impl->views, view);
    }
    m_impl->changed.notify_all();
}

} // namespace headless
