// The JSON reports with texts a unit might send (model, version, refusal message) and a folder
// name of any bytes: the report is valid JSON (strict UTF-8), and every text gives back the
// bytes it was made of when its \xHH escapes are undone.
//
// Input: NUL-separated texts: set folder, model, version, message, log path (missing ones are
// empty); the first byte of the version also picks the unit's result.

#include "cli/report.h"
#include "cli/unit_text.h"
#include "tests/fuzz/fuzz_check.h"

#include <nlohmann/json.hpp>

#include <cctype>
#include <string>
#include <vector>

namespace {

// What a reader of the report does to get the bytes back.
std::string Undo(const std::string& text) {
    const auto hex = [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; };
    std::string bytes;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text.compare(i, 2, "\\x") == 0 && i + 3 < text.size() && hex(text[i + 2]) &&
            hex(text[i + 3])) {
            bytes += char(std::stoi(text.substr(i + 2, 2), nullptr, 16));
            i += 3;
        } else {
            bytes += text[i];
        }
    }
    return bytes;
}

std::vector<std::string> Texts(const uint8_t* data, size_t size) {
    std::vector<std::string> texts(1);
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0 && texts.size() < 5)
            texts.emplace_back();
        else
            texts.back() += char(data[i]);
    }
    texts.resize(5);
    return texts;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const cli::UpdateSet set; // the current folder's: no parameter file, no components
    const std::vector<std::string> t = Texts(data, size);
    const cli::ReportHead head{t[0], "2026-12-08T01:00:00", ""};

    cli::CheckResult check;
    check.answered = !t[1].empty();
    check.model = t[1];
    check.version = cli::VersionAsShown(t[2]);
    check.message = t[3];
    const auto checkReport =
        nlohmann::json::parse(cli::CheckReport(set, head, {"127.0.0.1"}, {check}));
    const auto& checked = checkReport["units"][0];
    FUZZ_CHECK(Undo(checkReport["set"]["folder"]) == t[0]);
    if (check.answered) {
        FUZZ_CHECK(Undo(checked["model"]) == check.model);
        FUZZ_CHECK(Undo(checked["version"]) == check.version);
    } else {
        FUZZ_CHECK(Undo(checked["message"]) == check.message);
    }

    cli::ReportedUnit unit{"127.0.0.1", t[4], {}};
    unit.state.outcome.result =
        t[2].empty() ? cli::UnitResult::Running
                     : static_cast<cli::UnitResult>(static_cast<uint8_t>(t[2][0]) % 6);
    unit.state.outcome.message = t[3];
    unit.state.facts.version = t[2];
    const auto updateReport = nlohmann::json::parse(cli::UpdateReport(set, head, {unit}));
    const auto& updated = updateReport["units"][0];
    FUZZ_CHECK(Undo(updated["version_before"]) == cli::VersionAsShown(t[2]));
    FUZZ_CHECK(Undo(updated["message"]) == t[3]);
    FUZZ_CHECK(updated["result"] == cli::ResultName(unit.state.outcome.result));
    if (!updated["log"].is_null())
        FUZZ_CHECK(Undo(updated["log"]) == t[4]);
    return 0;
}
