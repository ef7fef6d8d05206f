// kqvorlink-cli: the fleet front end (see cli/commands.h).

#include "cli/commands.h"

#include <cstdio>
#include <exception>

int main(int argc, char** argv) {
    // The last line of defence: a fault of the program is said, never an abort.
    try {
        return cli::RunCli(argc, argv, stdout, stderr);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kqvorlink-cli: the run ended unexpectedly: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "kqvorlink-cli: the run ended unexpectedly\n");
    }
    return 1;
}
