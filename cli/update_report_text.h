#pragma once
// The update report's text as a run goes: its head, whose end the run sets while the report's
// writer reads it, and the builder that keeps each unit's text between writings.

#include "cli/report.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace cli {

class UpdateReportText {
  public:
    UpdateReportText(const UpdateSet& set, ReportHead head,
                     const std::vector<std::unique_ptr<UnitRun>>& units);

    // The whole report now: on one thread at a time (the first on the calling thread before the
    // writer starts, then only on the writer's).
    std::string Text();
    // The run has ended now (any thread).
    void MarkEnded();

  private:
    const UpdateSet& m_set;
    const std::vector<std::unique_ptr<UnitRun>>& m_units;
    std::mutex m_headMutex;
    ReportHead m_head;
    UpdateReportBuilder m_builder;
};

} // namespace cli
