#include "cli/report_writer.h"

#include <chrono>
#include <exception>

namespace cli {

ReportWriter::ReportWriter(ReportFile& file, std::function<std::string()> snapshot,
                           std::function<void(const std::string&)> failed)
    : m_file(file), m_snapshot(std::move(snapshot)), m_failed(std::move(failed)),
      m_thread([this] { Loop(); }) {}

ReportWriter::~ReportWriter() {
    Finish();
}

void ReportWriter::Changed() {
    {
        std::lock_guard lock(m_mutex);
        // Told already: the next write takes this change too, and the thread is not woken
        // once for every reply of every unit.
        if (m_changed)
            return;
        m_changed = true;
    }
    m_wake.notify_one();
}

bool ReportWriter::Finish() {
    {
        std::lock_guard lock(m_mutex);
        m_finishing = true;
    }
    m_wake.notify_one();
    if (m_thread.joinable())
        m_thread.join();
    return !m_failing;
}

void ReportWriter::WriteOnce() {
    // Nothing may leave this thread: a report that cannot be built is a report not written.
    std::string why;
    try {
        if (m_file.Write(m_snapshot())) {
            m_failing = false;
            return;
        }
        why = m_file.Error();
    } catch (const std::exception& e) {
        why = e.what();
    } catch (...) {
        why = "unknown error";
    }
    if (!m_failing)
        m_failed(why);
    m_failing = true;
}

void ReportWriter::Loop() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_changed || m_finishing; });
        const bool last = m_finishing;
        m_changed = false;
        lock.unlock();
        WriteOnce();
        lock.lock();
        if (last)
            return;
        // The gap: what changes meanwhile goes into the next write (an end cuts it short).
        m_wake.wait_for(lock, std::chrono::milliseconds(kGapMs), [this] { return m_finishing; });
    }
}

} // namespace cli
