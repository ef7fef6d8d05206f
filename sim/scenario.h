#pragma once
// A scenario file for kqunit: one setting or one scripted fault per line, '#' starts a comment.
//
//   model KQ-B2                       version "KQ-B2.01.02.45"
//   info-reply "200 ..."              uname-reply "200 ..."
//   greeting "220 ..."                telnet-greeting "..."
//   telnet off                        telnet-options off
//   restart-refuse-ms 3000            idle-timeout-s 120
//   <trigger> <action> [occurrence N] [times N | always]
//
// Triggers: greeting, command "TEXT", telnet-connect, telnet-usoft, data-connect, ftp-connect.
// Actions: reply "TEXT", no-connect ["TEXT"], close, silent, delay MS, split [MS], stranger,
// refuse [MS]. Quoted texts know the escapes \" \\ \r \n \t.
// Example: command "EXCM k_Lg" reply "550 Selector refused."

#include <istream>
#include <string>

#include "sim/sim_unit.h"

namespace sim {

// Applies every line to `config`; false with "line N: reason" at the first bad line.
bool ApplyScenario(std::istream& in, UnitConfig& config, std::string* error);

} // namespace sim
