#pragma once
// One unit of a fleet: a run of the dialog's own update (CUpdaterDlg::RunUpdate) hosted in a
// UnitWindow, with its own activity log, and its outcome once it has ended.

#include "cli/unit_window.h"
#include "cli/update_set.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

class ComponentStore;

namespace cli {

// Current: the unit already had the version that was to be skipped and was left as it was.
enum class UnitResult { Waiting, Running, Complete, Current, Failed, NotStarted };
const char* ResultName(UnitResult result);

struct UnitOutcome {
    UnitResult result = UnitResult::Waiting;
    std::string message;     // the box that ended the run, or why it did not start
    std::string messageKind; // "information", "warning", "stop" or empty
    std::string start, end;  // local times, ISO 8601
    double seconds = 0;
};

struct LogPolicy {
    std::string dir;       // where DIR/KQVorlink-<address>.log go
    bool keepAfterSuccess; // --keep-logs
};

class UnitRun {
  public:
    // skipVersion: a unit of the set's model that gives exactly this version text is only
    // identified (as `check` does it) and left as it is.
    UnitRun(std::string address, const UpdateSet& set, std::shared_ptr<ComponentStore> store,
            const LogPolicy& logs, std::optional<std::string> skipVersion = std::nullopt);
    ~UnitRun();

    const std::string& Address() const { return m_address; }
    const std::string& LogPath() const { return m_logPath; }
    // Whether the log is still there after the run (kept after failure or with --keep-logs).
    bool LogKept() const;
    // Runs the whole update on the calling thread.
    void Run();
    // Marks the unit as running from now on (Run does it too).
    void MarkRunning();
    // Marks a unit that will not run (an interrupt came first).
    void MarkNotStarted(const std::string& why);

    UnitResult Result() const { return m_result; }
    UnitOutcome Outcome() const; // complete once Result() is final
    WindowState Window() const;  // what the run shows now (empty before it starts)
    // The model the unit named itself, empty until it has answered.
    std::string Model() const;
    // The unit's version text before the update, empty when it was not read.
    std::string VersionBefore() const;

  private:
    // Whether the unit is at the version to skip; if so its outcome is set.
    bool AlreadyCurrent();
    void Ended(UnitResult result, uint64_t began);

    const std::string m_address;
    const UpdateSet& m_set;
    const std::shared_ptr<ComponentStore> m_store;
    const std::string m_logPath;
    const bool m_keepLog;
    const std::optional<std::string> m_skipVersion;
    mutable std::mutex m_mutex; // guards the window and the outcome while others read them
    UnitWindow* m_window = nullptr;
    std::unique_ptr<CUpdaterDlg> m_dialog;
    WindowState m_final;
    std::string m_model; // as the unit named itself, once the run has ended
    std::atomic<UnitResult> m_result{UnitResult::Waiting};
    UnitOutcome m_outcome;
};

// The local time now as "YYYY-MM-DDTHH:MM:SS".
std::string LocalIsoTime();

} // namespace cli
