// kqvorlink-cli: the fleet front end (see cli/commands.h).

#include "cli/commands.h"

int main(int argc, char** argv) {
    return cli::RunCli(argc, argv, stdout, stderr);
}
