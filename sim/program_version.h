#pragma once
// The version text a unit reports after it has written a CPU program and restarted.

#include <string>

namespace sim {

// "<model>.01.02.<NN>": NN is the program file's third and fourth characters when both are
// digits (kq12.cpu gives 12, the number the tool reads from the same name), else 05 (the
// version the tool assumes for such a file).
std::string VersionFromProgram(const std::string& model, const std::string& programName);

} // namespace sim
