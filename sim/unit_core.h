#pragma once
// State that the unit's threads share: the configuration and faults, what the unit saw, the
// time of the last activity (for the idle stop) and the stop flag every wait looks at.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "sim/fault_book.h"
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
};

// The pace a Split or Trickle fault asks for (Whole for any other).
Pace PaceOf(const Fault& fault);

class UnitCore {
  public:
    // Every wait of the unit is cut into slices this long, so a stop is seen promptly.
    static constexpr int kSliceMs = 20;

    explicit UnitCore(UnitConfig config);

    const UnitConfig& Config() const { return m_config; }
    FaultBook& Faults() { return m_faults; }

    void Touch();
    bool IdleExpired() const;
    void RequestStop() { m_stopping = true; }
    bool Stopping() const { return m_stopping; }

    // A restart becomes due when "u_soft" arrives on telnet.
    void SetRestartDue(bool due) { m_restartDue = due; }
    bool RestartDue() const { return m_restartDue; }
    void CountRestart();

    void Note(const std::string& line);
    void AddUpload(StoredUpload upload);
    std::vector<std::string> Commands() const;
    std::vector<StoredUpload> Uploads() const;
    int Restarts() const;
    bool WaitForCommands(size_t count, std::chrono::milliseconds timeout) const;

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
    std::atomic<bool> m_restartDue{false};
    std::atomic<int64_t> m_lastActivityMs;

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::vector<std::string> m_commands;
    std::vector<StoredUpload> m_uploads;
    std::vector<net::Fd> m_held;
    int m_restarts = 0;
};

} // namespace sim
