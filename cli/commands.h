#pragma once
// kqvorlink-cli's commands: `check` and `update` of many units from one update set. Exit status:
// 0 every unit completed (check: answered and is of the set's model), 1 otherwise, 2 a usage
// error (nothing has been sent to any unit then), 130 the run was interrupted (Ctrl-C, SIGTERM,
// a hang-up; the running units finished, the others were not started).

#include <cstdio>

namespace cli {

int RunCli(int argc, char** argv, std::FILE* out, std::FILE* err);

} // namespace cli
