// DialogRunner: a dialog's modal loop on a thread of its own, as a test drives it.

#include "platform/headless/desktop.h"
#include "platform/headless/host.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <stdexcept>

namespace headless {
namespace {

// Long enough for any OnInitDialog; a test that gets here has a hung dialog to report.
constexpr std::chrono::seconds kInitBound{30};

} // namespace

struct DialogRunner::Impl {
    HeadlessHost* host = nullptr;
    std::thread thread;
    mutable std::mutex mutex;
    std::condition_variable endedCv;
    std::atomic<bool> ended{false};
    int result = 0;
};

DialogRunner::DialogRunner(platform::CDialog& dialog) : m_impl(std::make_unique<Impl>()) {
    m_impl->host = HeadlessHost::Of(dialog);
    if (m_impl->host == nullptr)
        throw std::logic_error("the dialog has no headless window");
    const unsigned initsBefore = m_impl->host->InitCount();
    Impl* impl = m_impl.get();
    impl->thread = std::thread([impl, &dialog] {
        const int result = dialog.DoModal();
        {
            std::lock_guard lock(impl->mutex);
            impl->result = result;
            impl->ended = true;
        }
        impl->endedCv.notify_all();
        impl->host->WakeWaiters();
    });
    impl->host->WaitForInit(
        initsBefore, [impl] { return impl->ended.load(); }, kInitBound);
}

DialogRunner::~DialogRunner() {
    if (!m_impl->ended)
        m_impl->host->EndEveryDialogOnItsThread(platform::kIdCancel);
    m_impl->thread.join();
}

DialogView& DialogRunner::View() {
    return *m_impl->host;
}

bool DialogRunner::WaitEnded(std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_impl->mutex);
    return m_impl->endedCv.wait_for(lock, timeout, [&] { return m_impl->ended.load(); });
}

bool DialogRunner::Ended() const {
    return m_impl->ended;
}

int DialogRunner::Result() const {
    std::lock_guard lock(m_impl->mutex);
    return m_impl->result;
}

} // namespace headless
