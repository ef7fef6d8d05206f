#include "cli/update_report_text.h"

#include "cli/local_time.h"

namespace cli {

UpdateReportText::UpdateReportText(const UpdateSet& set, ReportHead head,
                                   const std::vector<std::unique_ptr<UnitRun>>& units)
    : m_set(set), m_units(units), m_head(std::move(head)) {}

std::string UpdateReportText::Text() {
    std::unique_lock lock(m_headMutex);
    const ReportHead now = m_head;
    lock.unlock();
    return m_builder.Text(m_set, now, m_units);
}

void UpdateReportText::MarkEnded() {
    const std::lock_guard lock(m_headMutex);
    m_head.ended = LocalTimeNow();
}

} // namespace cli
