#include "cli/command_output.h"

#include "cli/report_file.h"
#include "cli/update_set.h"
#include "platform/console.h"

namespace cli {

int UsageError(std::FILE* err, const std::string& text) {
    std::fprintf(err, "kqvorlink-cli: %s\nRun with --help for more information.\n", text.c_str());
    return kUsageErrorStatus;
}

void PrintPlan(std::FILE* out, const UpdateSet& set) {
    std::fprintf(out, "Update set: model %s%s; an update sends:\n", set.Model().c_str(),
                 set.DefaultSetting() ? ", then resets the unit to its default data" : "");
    for (const PlannedFile& file : set.Plan())
        std::fprintf(out, "  %-22s %-24s %12llu bytes\n", file.component.c_str(), file.file.c_str(),
                     static_cast<unsigned long long>(file.bytes));
    if (set.Plan().empty())
        std::fprintf(out, "  (no component files found)\n");
}

std::string FirstReportError(ReportFile& report, const std::string& text) {
    if (!report.Wanted() || report.Write(text))
        return "";
    return "--report '" + report.Path() + "': the report cannot be written: " + report.Error();
}

void SayReportFailed(std::FILE* err, const ReportFile& report, const std::string& why) {
    std::fprintf(err, "kqvorlink-cli: the report cannot be written to %s: %s\n",
                 report.Path().c_str(), why.c_str());
}

void SayCutOffAndEnd(std::FILE* err, const std::vector<std::string>& addresses) {
    std::string running;
    for (const std::string& address : addresses)
        running += " " + address;
    std::fprintf(err, "kqvorlink-cli: the program is being ended; still running:%s\n",
                 running.empty() ? " none" : running.c_str());
    std::fflush(err);
    platform::ReadyToEnd();
}

} // namespace cli
