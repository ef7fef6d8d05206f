#pragma once
// State that the unit's threads share: the configuration and faults, what the unit saw, the
// time of the last activity (for the idle stop) and the stop flag every wait looks at.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "sim/fault_book.h"
#include "sim/history.h"
#include "sim/sim_socket.h"
#include "sim/sim_unit.h"

namespace sim {

// A scripted text as the unit sends it: CR LF added unless it already ends with LF.
std::string WithLineEnd(const std::string& text);

// The text of a Reply or Raw fault: `text` repeated, with the line end of a Reply.
std::string FaultText(const Fault& fault);

// How an answer goes out: whole, in two segments, or one byte at a time, `ms` apart.
struct Pace {
    enum class Kind { Whole, Split, Trickle };
    Kind kind = Kind::Whole;
    uint32_t ms = 0;
    uint32_t at = 0; // Split: the first segment's bytes (0: half)
};

// The pace a Split or Trickle fault asks for (Whole for any other).
Pace PaceOf(const Fault& fault);

class UnitCore {
  public:
    // The loop looks at the idle time this often; everything else wakes it (WakeFd).
    static constexpr int kLoopCheckMs = 500;

    explicit UnitCore(UnitConfig config);

    const UnitConfig& Config() const { return m_config; }
    FaultBook& Faults() { return m_faults; }

    void Touch();
    bool IdleExpired() const;
    // Every wait of the unit also waits on the stop descriptor, so a stop is seen at once.
    void RequestStop();
    bool Stopping() const { return m_stopping; }
    // The loop's wake-up: written when a session ends, a restart becomes due or the unit is
    // to stop; the loop empties it.
    int WakeFd() const { return m_wake.Get(); }
    void Wake() const;
    void ClearWake() const;

    // A restart becomes due when "u_soft" arrives on telnet.
    void SetRestartDue(bool due) {
        m_restartDue = due;
        Wake();
    }
    bool RestartDue() const { return m_restartDue; }
    void CountRestart();

    // The version text "EXCM uname" gives now.
    std::string VersionText() const;
    // A CPU program file arrived (an upload without a selector); the next restart writes it.
    void ProgramReceived(const std::string& name);
    // The restart writes the program received last, and the version text changes with it.
    void WriteProgram();

    void Note(const std::string& line) { m_history.Note(line); }
    const History& Seen() const { return m_history; }
    // Keeps an upload; beyond kKeptUploads the oldest is forgotten, and beyond the configured
    // content bytes the oldest uploads' contents are released (the stored files stay).
    void AddUpload(StoredUpload upload);
    std::vector<StoredUpload> Uploads() const;
    int Restarts() const;

    // Sends bytes to a peer, touching the activity time, at the given pace (a default pause
    // when its ms is 0) so that the pieces arrive as receives of their own.
    bool Send(int fd, const std::string& bytes, Pace pace = {});

    // Keeps a connection open, untouched, until the unit stops.
    void Hold(net::Fd connection);
    void ReleaseHeld();

    // Sleeps in slices; false when the unit stops meanwhile.
    bool Sleep(uint32_t ms) const;
    enum class Wait { Ready, TimedOut, Stopping };
    // Waits for `fd` to become readable, at most limitMs (-1: until the unit stops).
    Wait WaitReadable(int fd, int limitMs) const;

  private:
    static int64_t NowMs();

    const UnitConfig m_config;
    FaultBook m_faults;
    std::atomic<bool> m_stopping{false};
    net::Fd m_stop; // an eventfd, readable once the unit is to stop
    net::Fd m_wake; // an eventfd, readable while the loop has something to look at
    std::atomic<bool> m_restartDue{false};
    std::atomic<int64_t> m_lastActivityMs;

    static constexpr size_t kKeptUploads = 1024;

    History m_history;
    mutable std::mutex m_mutex;
    std::deque<StoredUpload> m_uploads;
    size_t m_contentBytes = 0;
    std::vector<net::Fd> m_held;
    int m_restarts = 0;
    std::string m_version;
    std::string m_programReceived; // its file name; empty when none is waiting
};

} // namespace sim
