#pragma once
// A scenario file for kqunit: one setting or one scripted fault per line, '#' starts a comment.
//
//   model KQ-B2                       version "KQ-B2.01.02.45"
//   version-after "KQ-B2.01.02.50"    version-after keep
//   info-reply "200 ..."              uname-reply "200 ..."
//   greeting "220 ..."                telnet-greeting "..."
//   telnet off                        telnet-options off
//   restart-refuse-ms 3000            idle-timeout-s 120
//   <trigger> <action> [occurrence N] [times N | always] [repeat N] [after MS]
//
// Sections: a line "[127.0.0.101]" or "[127.0.0.101-127.0.0.104]" starts the lines meant only for
// the units at those addresses (a fleet of units in one kqunit); lines before the first section
// are for every unit. Every line is checked, whichever unit it is for.
//
// Triggers (where a fault strikes):
//   greeting         the FTP greeting
//   command "TEXT"   an FTP command line that begins with TEXT: "USER", "PASS", "EXCM r_INF",
//                    "EXCM uname", "EXCM k_prism", "EXCM c_Varek", "CWD", "EXCM k_Lg" (any
//                    selector), "PORT", "TYPE", "STOR" (its first answer, before the data
//                    connection), "EXCM u_soft", "EXCM w_stupall", "QUIT"
//   data-connect     the data connection, just before the unit connects it
//   transfer-end     the data connection has ended: the answer that ends the transfer
//   ftp-connect      an attempt to connect to the FTP port (also after a restart)
//   telnet-connect   an attempt to connect to the telnet port; its option answers
//   telnet-usoft     "u_soft" on the telnet connection
// occurrence N: the N-th time the trigger is met (default 1); times N: that many times in a
// row (default 1); always: from then on. A connection trigger is met once per attempt.
// after MS: the fault strikes MS milliseconds late (its answer, its close, its silence).
//
// Actions:
//   reply "TEXT"        answer TEXT instead (CR LF added unless it ends with LF)
//   raw "TEXT"          answer TEXT exactly as given: no line end added; with \0 and \xHH any
//                       byte; repeat N sends it N times in one piece (repeat 70000 of a
//                       one-byte text: a reply of more than 64 KiB)
//   close               close the connection without answering
//   silent              never answer again; the connection stays open until the unit stops
//   delay MS            answer normally, MS milliseconds late (no upper bound)
//   split [MS] [at N]   send the normal answer in two pieces, MS apart (default 100); the first
//                       piece holds N bytes (default half the answer)
//   trickle [MS]        send the normal answer one byte at a time, MS apart (default 20)
//   refuse              ftp-connect / telnet-connect: refuse the attempt with nothing listening
//                       ("connection refused"); "ftp-connect refuse times 3" refuses the first
//                       three attempts, then accepts. Counting needs root (raw socket), except
//                       for "refuse always" from the first attempt. Attempts while the unit
//                       restarts after a CPU program are refused anyway and not counted.
//   no-connect ["TEXT"] [MS]  STOR: answer TEXT (default "425 Can't open data connection.")
//                       without connecting; every line of TEXT goes out as its own piece, MS
//                       apart: "150 Opening.\n425 No data connection." 200
//   stall [MS]          data-connect: connect, answer 150, then never read (small receive
//                       buffer, so the sender blocks soon); held open until the unit stops.
//                       With MS: read nothing for MS milliseconds, then take the rest
//   late MS             ftp-connect / telnet-connect: leave the attempt unanswered for MS
//                       milliseconds; the caller's system sends its SYN again (Linux: every
//                       second four times, then 2, 4, 8 s apart; others 1, 3, 7 s after the
//                       first), and the first of those after MS is taken (needs root, as
//                       counted refusals)
//   drop                data-connect: connect, answer 150, reset the data connection, then
//                       answer "426 Connection closed; transfer aborted."
//   stranger            data-connect: someone else connects first, then the unit
// On telnet-usoft, reply, raw, split and trickle answer "u_soft" (which fails the tool's step)
// and no restart follows; silent and delay keep the unit's normal silence and restart.
// Quoted texts know the escapes \" \\ \r \n \t \0 and \xHH.
//
// Examples:
//   command "EXCM k_Lg" reply "550 Selector refused."   # the logo is refused
//   ftp-connect refuse occurrence 2 times 3             # after the CPU program: 3 refusals
//   transfer-end close                                  # hang up at the end of the transfer
//   command "EXCM uname" raw "200 \0\x01garbage"        # NUL bytes, no line end
//   command "EXCM r_INF" raw "A" repeat 70000           # 70,000 bytes, no line end
//   command "EXCM u_soft" trickle 5                     # byte by byte, 5 ms apart
//   command "EXCM uname" split 200 at 19                # the line end's LF 200 ms behind
//   greeting delay 600000                               # ten minutes late
//   ftp-connect late 2000                               # taken at the retry 3 s after the try
//   telnet-usoft reply "550 Bad image." after 1500      # the refusal comes 1.5 s late

#include <istream>
#include <string>

#include "sim/sim_unit.h"

namespace sim {

// Applies every line meant for `config.address` to `config`; false with "line N: reason" at the
// first bad line.
bool ApplyScenario(std::istream& in, UnitConfig& config, std::string* error);

} // namespace sim
