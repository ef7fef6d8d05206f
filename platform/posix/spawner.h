#pragma once
// Starts programs on Linux from a helper process that holds none of this program's descriptors.
// A child made straight from a busy process holds a copy of every descriptor it has, sockets and
// unit locks among them, from its creation until its exec, close-on-exec or not; a lock that
// another thread releases meanwhile stays taken, and its unit is refused. The helper is made once,
// sheds every inherited descriptor at once, and makes each child from its own empty table.

#include <string>
#include <vector>

namespace platform::posix {

// Starts the helper unless it runs already. Called early, before the program holds descriptors
// that no child may see even for a moment; SpawnDetached starts it itself when needed.
void StartSpawner();

// Runs the program at `path` with `args` (args[0] first) and its standard streams on /dev/null,
// neither waiting for it nor looking at its result; the helper reaps it. false when it could not
// be handed over (no helper, an argument with a zero byte, too long a command).
bool SpawnDetached(const std::string& path, const std::vector<std::string>& args);

// The program's path as the shell would find it through PATH, or empty.
std::string FindInPath(const std::string& name);

} // namespace platform::posix
