#pragma once
// Who runs the program and where it keeps what it remembers between runs.

#include <string>

namespace platform {

// The account that runs the program (Linux: its effective user's name; Windows: the logged-on
// user's); "?" when the system does not say.
std::string UserName();
// This computer's name; "?" when the system does not say.
std::string HostName();
// The folder for state kept between runs: $XDG_STATE_HOME/kqvorlink, else
// ~/.local/state/kqvorlink on Linux; %LOCALAPPDATA%\KQVorlink on Windows. Empty when neither the
// variable nor a home is known.
std::string DefaultStateFolder();

} // namespace platform
