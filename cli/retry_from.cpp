#include "cli/retry_from.h"

#include "cli/terminal_text.h"
#include "cli/unit_list.h"
#include "cli/unit_run.h"

#include <nlohmann/json.hpp>

#include <algorithm>

namespace cli {
namespace {

using nlohmann::json;

// The layouts of the update report this program can read (see cli/report.h); a new layout that
// a reader must know joins here once UnitsToRetry reads it. It reads no time, so 3 (times with
// their offset) reads as 2 does.
constexpr int kReadableSchemas[] = {1, 2, 3};

bool IsText(const json& object, const char* key) {
    return object.is_object() && object.contains(key) && object[key].is_string();
}

bool ReadableSchema(const json& report) {
    if (!report.contains("schema") || !report["schema"].is_number_integer())
        return false;
    const auto schema = report["schema"].get<int64_t>();
    return std::find(std::begin(kReadableSchemas), std::end(kReadableSchemas), schema) !=
           std::end(kReadableSchemas);
}

} // namespace

RetryUnits UnitsToRetry(const std::string& reportText, const std::string& model) {
    RetryUnits retry;
    const json report = json::parse(reportText, nullptr, false);
    if (report.is_discarded() || !report.is_object())
        return {{}, "is no JSON report"};
    if (!IsText(report, "report") || report["report"] != "update")
        return {{}, "is no update report of kqvorlink-cli"};
    if (!ReadableSchema(report))
        return {{},
                "has schema " + (report.contains("schema") ? report["schema"].dump() : "(none)") +
                    ", which this program cannot read"};
    if (!report.contains("set") || !IsText(report["set"], "model"))
        return {{}, "names no model"};
    const std::string reportModel = report["set"]["model"];
    if (reportModel != model)
        return {{}, "is a report of model " + reportModel + ", the set is for " + model};
    if (!report.contains("units") || !report["units"].is_array())
        return {{}, "has no list of units"};
    for (const json& unit : report["units"]) {
        if (!IsText(unit, "address") || !IsText(unit, "result"))
            return {{}, "has a unit without address or result"};
        const std::string address = unit["address"];
        const std::optional<uint32_t> parsed = ParseDottedAddress(address);
        if (!parsed)
            return {{}, "names '" + address + "', which is no dotted IPv4 address"};
        const std::string word = unit["result"];
        const std::optional<UnitResult> result = ResultFromName(word);
        if (!result)
            return {{},
                    "gives " + address + " the result '" + TerminalText(word) +
                        "', which no update report has"};
        if (Done(*result))
            continue;
        const std::string dotted = DottedAddress(*parsed);
        if (std::find(retry.addresses.begin(), retry.addresses.end(), dotted) ==
            retry.addresses.end())
            retry.addresses.push_back(dotted);
    }
    return retry;
}

} // namespace cli
