#pragma once
// kqvorlink-cli's command line: the commands `check`, `update`, `manifest` and `verify`, their
// options, and its
// parsing (help, the version and what cannot be parsed end the program there).

#include "cli/rollout_options.h"
#include "cli/trust_options.h"

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace cli {

constexpr unsigned kDefaultJobs = 16;

struct CommandOptions {
    std::string setDir = ".";
    unsigned jobs = kDefaultJobs;
    std::string reportFile;
    std::string logDir;
    bool keepLogs = false;
    unsigned stopAfterFailures = 0; // 0: never stop
    std::string retryFrom;
    std::optional<std::string> skipVersion;
    std::optional<std::string> targetVersion;
    RolloutOptions rollout;
    TrustOptions trust;
    std::vector<std::string> units;
};

struct Commands {
    CLI::App* check;
    CLI::App* update;
    CLI::App* manifest;
    CLI::App* verify;
};

// Declares the commands on app, each option filling in its member of options.
Commands DeclareCommands(CLI::App& app, CommandOptions& options);

// Parses the arguments into the options; the status to end with when there is nothing to run
// (--help, --version, a usage error, each said on out or err).
std::optional<int> ParseCommandLine(CLI::App& app, int argc, char** argv, std::FILE* out,
                                    std::FILE* err);

// The text of a file that an argument names, or nullopt when it cannot be read.
std::optional<std::string> ReadFileText(const std::string& path);

} // namespace cli
