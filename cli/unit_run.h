#pragma once
// One unit of a fleet: a run of the dialog's own update (CUpdaterDlg::RunUpdate) hosted in a
// UnitWindow, with its own activity log, and its outcome once it has ended.

#include "cli/unit_window.h"
#include "cli/update_set.h"
#include "cli/version_rule.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class ComponentStore;

namespace cli {

// Waiting: never started yet; AwaitingRetry: its last attempt went unanswered and a further one
// is to come. Current: the unit already had the version asked for and was left as it was.
enum class UnitResult { Waiting, Running, Complete, Current, Failed, NotStarted, AwaitingRetry };
// The result's word in the report, and back: nullopt for a word that the update report's schema
// (docs/schema/update-report.schema.json, units[].result) does not list. Both kinds of waiting
// unit are "waiting" there (the one awaiting a further attempt has attempts), and the word is
// read back as Waiting.
const char* ResultName(UnitResult result);
std::optional<UnitResult> ResultFromName(std::string_view name);
// Whether a unit needs nothing more: it completed, or was current already. The one rule behind
// the exit status, the units --retry-from runs again and the view (the schema's "complete" and
// "current"; every other word means the unit is to be run again).
bool Done(UnitResult result);
// Whether the unit waits, for its first start or for a further attempt.
bool Waits(UnitResult result);

// One run that went to the unit.
struct AttemptRun {
    std::string start, end; // local times, ISO 8601; end empty while it goes on
    std::string message;    // the attempt's last message (its box, or why it failed)
};

struct UnitOutcome {
    UnitResult result = UnitResult::Waiting;
    std::string message;                     // the box that ended the run, or why it did not start
    std::string messageKind;                 // "information", "warning", "stop" or empty
    std::string start, end;                  // local times, ISO 8601 (of the first attempt's start)
    double seconds = 0;                      // of the last attempt
    std::optional<std::string> versionAfter; // read after the update (the comparable form)
    std::optional<size_t> wave;              // 1-based, the wave it first started in (--waves)
    std::vector<AttemptRun> runs;            // each attempt, in order: runs.size() attempts
    // Whether the unit answered anything in its last attempt (a running one: so far); nullopt
    // before any attempt, or while one goes on without an answer yet.
    std::optional<bool> answered;
};

// Everything the report says of a unit, taken at one moment.
struct UnitSnapshot {
    UnitOutcome outcome;
    RunFacts facts; // what the unit confirmed in its last run
    bool logKept = false;
};

struct LogPolicy {
    std::string dir;       // where DIR/KQVorlink-<address>.log go
    bool keepAfterSuccess; // --keep-logs
};

class UnitRun {
  public:
    // A unit of the set's model at the rule's current version is only identified (as `check`
    // does it) and left as it is; after "Update Complete." the rule may ask the unit again.
    UnitRun(std::string address, const UpdateSet& set, std::shared_ptr<ComponentStore> store,
            const LogPolicy& logs, VersionRule versions = {});
    ~UnitRun();

    const std::string& Address() const { return m_address; }
    const std::string& LogPath() const { return m_logPath; }
    // Runs the whole update on the calling thread. With mayTryAgain, a run that ends unanswered
    // leaves the unit awaiting its further attempt (never failed in between), for AwaitRetry or
    // GiveUp.
    void Run(bool mayTryAgain = false);
    // Marks the unit as running from now on (Run does it too).
    void MarkRunning();
    // The wave the unit starts in (1-based); told once, before it first runs.
    void InWave(size_t wave);
    // Marks a unit that will not run (an interrupt came first).
    void MarkNotStarted(const std::string& why);
    // Marks a run that ended with an exception (never a complete one): failed, saying why.
    void MarkFailed(const std::string& why);
    // Whether the last run failed without a word from the unit: its FTP connection was refused
    // or timed out before the greeting, so it was sent nothing.
    bool Unanswered() const { return m_unanswered; }
    // Whether the last run got as far as sending the set: the unit answered and was identified
    // as the set's model (a busy unit, one of another model or one that said nothing was not).
    bool SentTheSet() const;
    // The further attempt comes in delayMs (real time): said in its message.
    void AwaitRetry(uint64_t delayMs);
    // A unit waiting for a further attempt that it will not get: failed, with its last message.
    void GiveUp(const std::string& why);

    UnitResult Result() const { return m_result; }
    UnitOutcome Outcome() const; // complete once Result() is final
    UnitSnapshot Snapshot() const;
    WindowState Window() const; // what the run shows now (empty before it starts)
    // The model the unit named itself, empty until it has answered.
    std::string Model() const;

  private:
    // Whether the unit is at the version to skip; if so its outcome is set.
    bool AlreadyCurrent();
    // Asks the unit again after "Update Complete."; false when it fails the rule (the outcome
    // then says why).
    bool VersionAfterPasses();
    void Ended(UnitResult result);
    // Ends the attempt that goes on (if one does) with its last message.
    void CloseAttempt(const std::string& message);
    bool LogExists() const;

    const std::string m_address;
    const UpdateSet& m_set;
    const std::shared_ptr<ComponentStore> m_store;
    const std::string m_logPath;
    const bool m_keepLog;
    const VersionRule m_versions;
    mutable std::mutex m_mutex; // guards the window and the outcome while others read them
    UnitWindow* m_window = nullptr;
    std::unique_ptr<CUpdaterDlg> m_dialog;
    WindowState m_final;
    RunFacts m_finalFacts; // the record of the last run, once its dialog is gone
    std::string m_model;   // as the unit named itself, once the run has ended
    std::atomic<UnitResult> m_result{UnitResult::Waiting};
    std::atomic<bool> m_unanswered{false};
    UnitOutcome m_outcome;
    uint64_t m_beganMs = 0;
    bool m_logKept = false;    // looked at once, when the run has ended
    std::string m_lastFailure; // the message of the last unanswered attempt
};

} // namespace cli
