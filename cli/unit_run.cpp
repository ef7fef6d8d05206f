#include "cli/unit_run.h"

#include "app/res/resource.h"
#include "cli/check_unit.h"
#include "cli/local_time.h"
#include "cli/unit_text.h"
#include "files/activity_log.h"
#include "platform/clock.h"
#include "platform/file.h"
#include "update/component_store.h"
#include "update/component_table.h"

#include <mutex>

namespace cli {

namespace {

constexpr std::pair<UnitResult, const char*> kResultNames[] = {
    {UnitResult::Waiting, "waiting"},       {UnitResult::Running, "running"},
    {UnitResult::Complete, "complete"},     {UnitResult::Current, "current"},
    {UnitResult::Failed, "failed"},         {UnitResult::NotStarted, "not started"},
    {UnitResult::AwaitingRetry, "waiting"},
};

} // namespace

const char* ResultName(UnitResult result) {
    for (const auto& [value, name] : kResultNames) {
        if (value == result)
            return name;
    }
    return "";
}

std::optional<UnitResult> ResultFromName(std::string_view name) {
    for (const auto& [value, word] : kResultNames) {
        if (name == word)
            return value;
    }
    return std::nullopt;
}

bool Done(UnitResult result) {
    return result == UnitResult::Complete || result == UnitResult::Current;
}

bool Waits(UnitResult result) {
    return result == UnitResult::Waiting || result == UnitResult::AwaitingRetry;
}

UnitRun::UnitRun(std::string address, const UpdateSet& set, std::shared_ptr<ComponentStore> store,
                 const LogPolicy& logs, VersionRule versions)
    : m_address(std::move(address)), m_set(set), m_store(std::move(store)),
      m_logPath((logs.dir.empty() ? std::string() : logs.dir + "/") + "KQVorlink-" + m_address +
                ".log"),
      m_keepLog(logs.keepAfterSuccess), m_versions(std::move(versions)) {}

UnitRun::~UnitRun() = default;

bool UnitRun::AlreadyCurrent() {
    if (!m_versions.current)
        return false;
    // A unit that does not answer here goes to the update all the same: its own run then says
    // what is wrong, in its log.
    const CheckResult check = CheckUnit(m_address, m_set);
    std::lock_guard lock(m_mutex);
    m_model = check.model;
    if (!IsCurrent(m_versions, check))
        return false;
    m_outcome.message = "Version " + check.version + " is current; not updated.";
    m_outcome.messageKind = "information";
    m_outcome.answered = true;
    m_finalFacts.version = check.version;
    return true;
}

bool UnitRun::VersionAfterPasses() {
    {
        std::lock_guard lock(m_mutex);
        m_final.status = "reading the version...";
    }
    // The same bounds as the reconnection after the CPU program; the exchange goes into the
    // unit's log, which is kept until the unit has passed.
    const CheckResult after =
        CheckUnit(m_address, m_set, {kReconnectAttempts, kCpuRestartPauseMs, m_logPath});
    const std::string failure = VersionAfterFailure(m_versions, after);
    std::lock_guard lock(m_mutex);
    m_final.status.clear();
    if (after.answered)
        m_outcome.versionAfter = VersionAsShown(after.version);
    if (!failure.empty()) {
        m_outcome.message = failure;
        m_outcome.messageKind = "stop";
        return false;
    }
    if (!m_keepLog)
        ActivityLog(m_logPath).Delete();
    return true;
}

void UnitRun::MarkRunning() {
    std::lock_guard lock(m_mutex);
    if (!Waits(m_result))
        return;
    const std::string now = LocalTimeNow();
    if (m_outcome.start.empty())
        m_outcome.start = now;
    m_outcome.runs.push_back({now, "", ""});
    m_outcome.answered.reset();
    m_beganMs = platform::NowMs();
    m_outcome.end.clear();
    m_outcome.message.clear();
    m_outcome.messageKind.clear();
    m_unanswered = false;
    m_result = UnitResult::Running;
}

bool UnitRun::LogExists() const {
    return platform::RegularFileSize(m_logPath.c_str()).has_value();
}

void UnitRun::InWave(size_t wave) {
    std::lock_guard lock(m_mutex);
    if (!m_outcome.wave)
        m_outcome.wave = wave;
}

void UnitRun::CloseAttempt(const std::string& message) {
    if (m_outcome.runs.empty() || !m_outcome.runs.back().end.empty())
        return;
    m_outcome.runs.back().end = LocalTimeNow();
    m_outcome.runs.back().message = message;
    m_outcome.answered = m_outcome.answered.value_or(false);
}

void UnitRun::Ended(UnitResult result) {
    const bool logKept = LogExists();
    std::lock_guard lock(m_mutex);
    m_logKept = logKept;
    CloseAttempt(m_outcome.message);
    m_outcome.end = m_outcome.runs.empty() ? LocalTimeNow() : m_outcome.runs.back().end;
    m_outcome.seconds = double(platform::NowMs() - m_beganMs) / 1000.0;
    m_result = result;
}

void UnitRun::Run(bool mayTryAgain) {
    MarkRunning();
    if (AlreadyCurrent()) {
        Ended(UnitResult::Current);
        return;
    }
    {
        std::lock_guard lock(m_mutex);
        m_dialog = std::make_unique<CUpdaterDlg>(UnitWindowFactory(&m_window), m_logPath, m_store,
                                                 m_keepLog || m_versions.readAfter);
    }
    m_dialog->AdoptUpdateSet(m_set.Found());
    m_dialog->m_log.Delete(); // a fresh log, as the dialog starts one
    // The address as a person types it into the four fields.
    size_t from = 0;
    for (const int field : {IDC_IP1, IDC_IP2, IDC_IP3, IDC_IP4}) {
        const size_t dot = m_address.find('.', from);
        m_dialog->SetDlgItemText(field, m_address.substr(from, dot - from));
        from = dot + 1;
    }

    const int result = m_dialog->RunUpdate();

    const WindowState window = m_window->State();
    {
        std::lock_guard lock(m_mutex);
        // The box that ended the run is its last one; a run may also end without any box (a
        // file that could not be read whole).
        if (!window.boxes.empty()) {
            m_outcome.message = WithoutLineEnd(window.boxes.back().text);
            m_outcome.messageKind = window.boxes.back().kind;
        } else if (result != kRunOk) {
            m_outcome.message = "The update ended without a message; see the log.";
        }
        m_unanswered = result != kRunOk && m_dialog->m_nUnitContact == kContactTried;
        m_outcome.answered = m_dialog->m_nUnitContact == kContactAnswered;
        // Only what the report needs stays: a fleet's memory must not grow with its units.
        m_final = window;
        m_finalFacts = m_dialog->m_record.Facts();
        if (!m_dialog->m_strDeviceModel.empty())
            m_model = m_dialog->m_strDeviceModel;
        m_dialog.reset();
        m_window = nullptr;
    }
    // A unit that may be tried again waits for it without ever being seen as failed.
    if (m_unanswered && mayTryAgain) {
        const bool logKept = LogExists();
        std::lock_guard lock(m_mutex);
        m_logKept = logKept;
        m_lastFailure = m_outcome.message;
        CloseAttempt(m_lastFailure);
        m_outcome.message += " Attempt " + std::to_string(m_outcome.runs.size()) + " unanswered.";
        m_outcome.seconds = double(platform::NowMs() - m_beganMs) / 1000.0;
        m_result = UnitResult::AwaitingRetry;
        return;
    }
    if (m_unanswered && m_outcome.runs.size() > 1) {
        std::lock_guard lock(m_mutex);
        CloseAttempt(m_outcome.message);
        m_outcome.message +=
            " No answer in " + std::to_string(m_outcome.runs.size()) + " attempts.";
    }
    const bool passed = result == kRunOk && (!m_versions.readAfter || VersionAfterPasses());
    Ended(passed ? UnitResult::Complete : UnitResult::Failed);
}

void UnitRun::MarkFailed(const std::string& why) {
    {
        std::lock_guard lock(m_mutex);
        if (m_window)
            m_final = m_window->State();
        if (m_dialog) {
            m_finalFacts = m_dialog->m_record.Facts();
            m_outcome.answered = m_dialog->m_nUnitContact == kContactAnswered;
        }
        m_dialog.reset(); // its connections close
        m_window = nullptr;
        m_outcome.message = "Error : the run ended unexpectedly: " + why;
        m_outcome.messageKind.clear();
    }
    Ended(UnitResult::Failed);
}

void UnitRun::MarkNotStarted(const std::string& why) {
    std::lock_guard lock(m_mutex);
    m_outcome.message = why;
    m_result = UnitResult::NotStarted;
}

void UnitRun::AwaitRetry(uint64_t delayMs) {
    std::lock_guard lock(m_mutex);
    m_outcome.message = m_lastFailure + " Attempt " + std::to_string(m_outcome.runs.size()) +
                        " unanswered; trying again in " + std::to_string((delayMs + 999) / 1000) +
                        " s.";
}

void UnitRun::GiveUp(const std::string& why) {
    const bool logKept = LogExists(); // the unanswered attempts' log
    std::lock_guard lock(m_mutex);
    m_logKept = logKept;
    m_outcome.message = m_lastFailure + " Not tried again: " + why + ".";
    // It ended with its last attempt: nothing went to it after.
    m_outcome.end = m_outcome.runs.empty() ? LocalTimeNow() : m_outcome.runs.back().end;
    m_result = UnitResult::Failed;
}

bool UnitRun::SentTheSet() const {
    std::lock_guard lock(m_mutex);
    return m_finalFacts.version.has_value();
}

UnitOutcome UnitRun::Outcome() const {
    std::lock_guard lock(m_mutex);
    UnitOutcome outcome = m_outcome;
    outcome.result = m_result;
    return outcome;
}

UnitSnapshot UnitRun::Snapshot() const {
    std::lock_guard lock(m_mutex);
    UnitSnapshot snapshot{m_outcome, m_dialog ? m_dialog->m_record.Facts() : m_finalFacts,
                          m_logKept};
    snapshot.outcome.result = m_result;
    // A running unit's log is being written; whether it has answered is known as soon as it has.
    if (m_result == UnitResult::Running) {
        snapshot.logKept = true;
        if (m_dialog && m_dialog->m_nUnitContact == kContactAnswered)
            snapshot.outcome.answered = true;
    }
    return snapshot;
}

WindowState UnitRun::Window() const {
    std::lock_guard lock(m_mutex);
    return m_window ? m_window->State() : m_final;
}

std::string UnitRun::Model() const {
    std::lock_guard lock(m_mutex);
    // While the run goes on its dialog is the worker's; a unit whose version is recorded has
    // named the set's model, a unit of another model ends its run at once.
    if (m_model.empty() && m_dialog && m_dialog->m_record.VersionKnown())
        return m_set.Model();
    return m_model;
}

} // namespace cli
