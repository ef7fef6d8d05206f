#include "cli/unit_run.h"

#include "app/res/resource.h"
#include "cli/check_unit.h"
#include "platform/clock.h"
#include "platform/file.h"
#include "update/component_store.h"

#include <ctime>
#include <mutex>

namespace cli {

const char* ResultName(UnitResult result) {
    switch (result) {
    case UnitResult::Waiting:
        return "waiting";
    case UnitResult::Running:
        return "running";
    case UnitResult::Complete:
        return "complete";
    case UnitResult::Current:
        return "current";
    case UnitResult::Failed:
        return "failed";
    case UnitResult::NotStarted:
        return "not started";
    }
    return "";
}

std::string LocalIsoTime() {
    static std::mutex s_lock; // localtime's result is shared within the C library
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    {
        std::lock_guard lock(s_lock);
        if (const std::tm* tm = std::localtime(&now))
            local = *tm;
    }
    char text[32] = {};
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    return text;
}

UnitRun::UnitRun(std::string address, const UpdateSet& set, std::shared_ptr<ComponentStore> store,
                 const LogPolicy& logs, std::optional<std::string> skipVersion)
    : m_address(std::move(address)), m_set(set), m_store(std::move(store)),
      m_logPath((logs.dir.empty() ? std::string() : logs.dir + "/") + "KQVorlink-" + m_address +
                ".log"),
      m_keepLog(logs.keepAfterSuccess), m_skipVersion(std::move(skipVersion)) {}

UnitRun::~UnitRun() = default;

bool UnitRun::AlreadyCurrent() {
    if (!m_skipVersion)
        return false;
    // A unit that does not answer here goes to the update all the same: its own run then says
    // what is wrong, in its log.
    const CheckResult check = CheckUnit(m_address, m_set);
    std::lock_guard lock(m_mutex);
    m_model = check.model;
    if (!check.answered || !check.modelMatches || check.version != *m_skipVersion)
        return false;
    m_outcome.message = "Version " + check.version + " is current; not updated.";
    m_outcome.messageKind = "information";
    m_final.firstVersionLine = check.version;
    m_final.versionLine = check.version;
    return true;
}

void UnitRun::MarkRunning() {
    std::lock_guard lock(m_mutex);
    if (m_result != UnitResult::Waiting)
        return;
    m_outcome.start = LocalIsoTime();
    m_result = UnitResult::Running;
}

void UnitRun::Ended(UnitResult result, uint64_t began) {
    std::lock_guard lock(m_mutex);
    m_outcome.end = LocalIsoTime();
    m_outcome.seconds = double(platform::NowMs() - began) / 1000.0;
    m_result = result;
}

void UnitRun::Run() {
    MarkRunning();
    const uint64_t began = platform::NowMs();
    if (AlreadyCurrent()) {
        Ended(UnitResult::Current, began);
        return;
    }
    {
        std::lock_guard lock(m_mutex);
        m_dialog = std::make_unique<CUpdaterDlg>(UnitWindowFactory(&m_window), m_logPath, m_store,
                                                 m_keepLog);
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
            m_outcome.message = window.boxes.back().text;
            m_outcome.messageKind = window.boxes.back().kind;
        } else if (result != kRunOk) {
            m_outcome.message = "The update ended without a message; see the log.";
        }
        // Only what the report needs stays: a fleet's memory must not grow with its units.
        m_final = window;
        if (!m_dialog->m_strDeviceModel.empty())
            m_model = m_dialog->m_strDeviceModel;
        m_dialog.reset();
        m_window = nullptr;
    }
    Ended(result == kRunOk ? UnitResult::Complete : UnitResult::Failed, began);
}

void UnitRun::MarkNotStarted(const std::string& why) {
    std::lock_guard lock(m_mutex);
    m_outcome.message = why;
    m_result = UnitResult::NotStarted;
}

UnitOutcome UnitRun::Outcome() const {
    std::lock_guard lock(m_mutex);
    UnitOutcome outcome = m_outcome;
    outcome.result = m_result;
    return outcome;
}

WindowState UnitRun::Window() const {
    std::lock_guard lock(m_mutex);
    return m_window ? m_window->State() : m_final;
}

std::string UnitRun::Model() const {
    std::lock_guard lock(m_mutex);
    // While the run goes on its dialog is the worker's; a unit whose version line is shown has
    // named the set's model, a unit of another model ends its run at once.
    if (m_model.empty() && m_window && m_window->Identified())
        return m_set.Model();
    return m_model;
}

bool UnitRun::LogKept() const {
    return platform::RegularFileSize(m_logPath.c_str()).has_value();
}

std::string UnitRun::VersionBefore() const {
    return Window().firstVersionLine;
}

} // namespace cli
