// kqdriver: works the windows of a running KQVorlink.exe from another process, for the
// end-to-end tests. It reads one command per line from standard input and answers each with one
// JSON line on standard output, so that one driver process serves a whole test session.

#include "commands.h"

#include <iostream>
#include <string>

int main() {
    std::ios::sync_with_stdio(false);
    std::string line;
    bool quit = false;
    while (!quit && std::getline(std::cin, line)) {
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
            line.pop_back();
        if (line.empty())
            continue;
        std::cout << kqdriver::RunCommand(line, quit) << std::endl;
    }
    return 0;
}
