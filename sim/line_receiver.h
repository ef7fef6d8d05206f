#pragma once
// The receive loop of a command connection: waits for bytes until the unit stops, cuts them into
// lines and hands each on, until the peer leaves, a receive fails or the session closes.

#include <cstddef>
#include <functional>
#include <string>

#include "sim/unit_core.h"

namespace sim {

// `open`: the session's own flag, read before every wait and every line (handling a line may
// close the connection). `received`: what one receive brought, returned as the text to cut into
// lines (a session may take its protocol's own bytes out, or answer them). `line`: each line.
void ReceiveLines(UnitCore& core, int fd, const bool& open,
                  const std::function<std::string(const char*, size_t)>& received,
                  const std::function<void(const std::string&)>& line);

} // namespace sim
