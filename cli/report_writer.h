#pragma once
// The update report's one writer: a thread of its own that writes the newest state when
// something has changed, at most once every kGapMs, and a last time at the end. Units only say
// that something changed (a start, an end, and every fact of a running unit that the report
// shows); the text is built here, one snapshot after the other, so the report on disk only ever
// moves forward (a unit once written as ended is never written as running again), every change
// reaches the disk within about a gap and one write, and the cost is one report per gap however
// many changes come in it: linear in the rig and the run's length.

#include "cli/report_file.h"

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace cli {

class ReportWriter {
  public:
    static constexpr unsigned kGapMs = 200; // at most five writes a second

    // snapshot: the whole report text of the state now (called on the writer's thread).
    // failed: told on the writer's thread, with why, when a write fails after none had or after
    // one that succeeded.
    ReportWriter(ReportFile& file, std::function<std::string()> snapshot,
                 std::function<void(const std::string& why)> failed);
    ReportWriter(const ReportWriter&) = delete;
    ReportWriter& operator=(const ReportWriter&) = delete;
    ~ReportWriter(); // finishes

    // Something in the report has changed (any thread, cheap).
    void Changed();
    // Writes the state now a last time and ends the thread. false when the last write failed
    // (a write that succeeds clears the failures before it: the report on disk is whole and
    // newest again).
    bool Finish();

  private:
    void Loop();
    void WriteOnce();

    ReportFile& m_file;
    const std::function<std::string()> m_snapshot;
    const std::function<void(const std::string&)> m_failed;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_changed = false;
    bool m_finishing = false;
    bool m_failing = false; // only the writer's thread touches it until it is joined
    std::thread m_thread;
};

} // namespace cli
