// kqvorlink-cli with the protocol's pauses and deadlines scaled, for tests that run the whole
// program on a terminal: kqvorlink-cli-scaled SCALE ARGUMENTS...

#include "cli/commands.h"
#include "platform/clock.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: kqvorlink-cli-scaled SCALE ARGUMENTS...\n");
        return 2;
    }
    platform::SetTimeScale(std::atof(argv[1]));
    argv[1] = argv[0];
    return cli::RunCli(argc - 1, argv + 1, stdout, stderr);
}
