#pragma once
// What the commands say beside their view and report: usage errors, the plan of the set, a report
// that cannot be written, the units that an imminent ending cuts off; and the statuses they end
// with beside 0 and 1.

#include <cstdio>
#include <string>
#include <vector>

namespace cli {

class ReportFile;
class UpdateSet;

constexpr int kUsageErrorStatus = 2;
constexpr int kInterruptedStatus = 130; // as a shell reports a run ended by Ctrl-C

// Says text as a usage error; returns kUsageErrorStatus.
int UsageError(std::FILE* err, const std::string& text);

// What an update of the set sends.
void PrintPlan(std::FILE* out, const UpdateSet& set);

// The report's first writing, before any unit is contacted: a place that cannot take it is a
// usage error then. Empty when it was written (or no report is wanted).
std::string FirstReportError(ReportFile& report, const std::string& text);

// A rewrite during the run that failed: said at once, and the run ends with status 1.
void SayReportFailed(std::FILE* err, const ReportFile& report, const std::string& why);

// The units that an imminent ending cuts off, named while there is time; then the program may
// end (platform::ReadyToEnd).
void SayCutOffAndEnd(std::FILE* err, const std::vector<std::string>& addresses);

} // namespace cli
