#include "cli/commands.h"

#include "app/res/program_version.h"
#include "cli/check_unit.h"
#include "cli/fleet_view.h"
#include "cli/report.h"
#include "cli/terminal_text.h"
#include "cli/unit_list.h"
#include "cli/worker_pool.h"
#include "platform/console.h"
#include "platform/file.h"
#include "platform/socket.h"
#include "update/component_store.h"

#include <CLI/CLI.hpp>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace cli {
namespace {

constexpr unsigned kDefaultJobs = 16;
constexpr unsigned kMaxJobs = 256;

struct Options {
    std::string setDir = ".";
    unsigned jobs = kDefaultJobs;
    std::string reportFile;
    std::string logDir;
    bool keepLogs = false;
    std::vector<std::string> units;
};

std::optional<std::string> ReadFileText(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return std::nullopt;
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

int UsageError(std::FILE* err, const std::string& text) {
    std::fprintf(err, "kqvorlink-cli: %s\nRun with --help for more information.\n", text.c_str());
    return 2;
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

int Check(const Options& options, const UnitList& units, std::FILE* out) {
    UpdateSet set;
    PrintPlan(out, set);
    std::vector<CheckResult> results(units.addresses.size());
    RunPool(units.addresses.size(), options.jobs,
            {[&](size_t i) { results[i] = CheckUnit(units.addresses[i], set); },
             [](size_t, size_t) {}, [] {}});
    bool allGood = true;
    for (size_t i = 0; i < results.size(); ++i) {
        const CheckResult& r = results[i];
        const char* address = units.addresses[i].c_str();
        if (!r.answered) {
            std::fprintf(out, "%-16s no answer: %s\n", address, TerminalText(r.message).c_str());
            allGood = false;
            continue;
        }
        std::fprintf(out, "%-16s model %s (%s), version \"%s\"", address,
                     TerminalText(r.model).c_str(),
                     r.modelMatches ? "matches the set" : "NOT the set's model",
                     TerminalText(r.version).c_str());
        if (r.cpuPasses > 0)
            std::fprintf(out, ", CPU program in %d pass%s", r.cpuPasses,
                         r.cpuPasses == 1 ? "" : "es");
        std::fprintf(out, "\n");
        allGood = allGood && r.modelMatches;
    }
    return allGood ? 0 : 1;
}

int Update(const Options& options, const UnitList& list, bool terminal, std::FILE* out) {
    UpdateSet set;
    PrintPlan(out, set);
    const auto store = std::make_shared<ComponentStore>(true);
    const LogPolicy logs{options.logDir.empty() ? std::filesystem::current_path().string()
                                                : options.logDir,
                         options.keepLogs};
    std::vector<std::unique_ptr<UnitRun>> units;
    for (const std::string& address : list.addresses)
        units.push_back(std::make_unique<UnitRun>(address, set, store, logs));

    FleetView view(out, terminal, set.Model());
    const std::string started = LocalIsoTime();
    RunPool(units.size(), options.jobs,
            {[&](size_t i) { units[i]->Run(); },
             [&](size_t running, size_t first) {
                 for (size_t i = first; i < units.size(); ++i)
                     units[i]->MarkNotStarted("Not started: the run was interrupted.");
                 view.Interrupted(running, units.size() - first);
             },
             [&] { view.Refresh(units); }});
    view.Refresh(units);
    view.Summary(units);

    if (!options.reportFile.empty()) {
        const std::string report = FleetReport(set, std::filesystem::current_path().string(), units,
                                               started, LocalIsoTime());
        std::ofstream file(options.reportFile, std::ios::binary);
        file << report;
        if (!file)
            std::fprintf(out, "kqvorlink-cli: the report cannot be written to %s\n",
                         options.reportFile.c_str());
    }
    for (const auto& unit : units) {
        if (unit->Result() != UnitResult::Complete)
            return 1;
    }
    return 0;
}

// Relative paths name places as seen from where the program was started, before it changes to
// the set's folder.
std::string Absolute(const std::string& path) {
    return path.empty() ? path : std::filesystem::absolute(path).string();
}

} // namespace

int RunCli(int argc, char** argv, std::FILE* out, std::FILE* err) {
    CLI::App app{"Updates many KQ-A2/KQ-B2 camera control units at once from one update set.",
                 "kqvorlink-cli"};
    app.set_version_flag("--version", "kqvorlink-cli " + ProgramVersion());
    app.require_subcommand(1, 1);
    Options options;
    const auto addSet = [&](CLI::App* command) {
        command
            ->add_option("--set", options.setDir,
                         "the update set's folder (default: the current one)")
            ->check(CLI::ExistingDirectory);
        command->add_option("--jobs", options.jobs, "units at a time (1-256, default 16)")
            ->check(CLI::Range(1u, kMaxJobs));
        command
            ->add_option("UNIT", options.units,
                         "a dotted IPv4 address, a range FIRST-LAST, or @FILE (one per line, "
                         "# comments)")
            ->required();
    };
    CLI::App* check = app.add_subcommand(
        "check", "log in, ask model and version, log out; show what an update would send");
    addSet(check);
    CLI::App* update = app.add_subcommand("update", "update every unit");
    addSet(update);
    update->add_option("--report", options.reportFile, "write a JSON report to FILE");
    update
        ->add_option("--log-dir", options.logDir,
                     "folder of the units' logs KQVorlink-<address>.log (default: the set's)")
        ->check(CLI::ExistingDirectory);
    update->add_flag("--keep-logs", options.keepLogs, "keep the logs of complete units too");

    if (argc > 1 && argv[1][0] != '-' && std::string(argv[1]) != "check" &&
        std::string(argv[1]) != "update")
        return UsageError(err, "'" + std::string(argv[1]) + "' is no command (check or update)");
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        std::fprintf(out, "%s", app.help().c_str());
        return 0;
    } catch (const CLI::CallForVersion& e) {
        std::fprintf(out, "%s\n", e.what());
        return 0;
    } catch (const CLI::ParseError& e) {
        return UsageError(err, e.what());
    }
    const UnitList units = ParseUnits(options.units, ReadFileText);
    if (!units.error.empty())
        return UsageError(err, units.error);

    options.reportFile = Absolute(options.reportFile);
    options.logDir = Absolute(options.logDir);
    std::error_code changed;
    std::filesystem::current_path(options.setDir, changed);
    if (changed)
        return UsageError(err, "--set '" + options.setDir + "': " + changed.message());
    if (platform::StartupSockets() != 0) {
        std::fprintf(err, "kqvorlink-cli: the socket library cannot be started\n");
        return 1;
    }
    platform::CatchInterrupts();
    const bool terminal = platform::IsTerminal(out);
    const int status =
        check->parsed() ? Check(options, units, out) : Update(options, units, terminal, out);
    platform::CleanupSockets();
    return status;
}

} // namespace cli
