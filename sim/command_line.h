#pragma once
// What the unit makes of one received command line (the bytes before its LF), in its two
// modes. Strict, as a real unit: the line must end with CR, hold no other CR and no NUL, its
// verb must be in upper case, and STOR must have exactly two blanks before the file name (the
// tool's "STOR  name"). Lenient, for plain FTP clients: CR and NUL are dropped, blanks between
// verb and argument skipped and the verb taken in any case. Pure functions of the bytes.

#include <string>

namespace sim {

struct CommandLine {
    std::string text;    // the line without its CR
    std::string problem; // strict mode: why a real unit would refuse it; "" when fine
};

// The line end and the bytes of a line (FTP and telnet alike).
CommandLine ReadCommandLine(const std::string& raw, bool strict);

struct FtpCommand {
    std::string text;    // as ReadCommandLine gives it
    std::string verb;    // upper case in lenient mode, as received in strict mode
    std::string arg;     // what follows the verb and its blank(s)
    std::string problem; // "" when fine
};

FtpCommand ParseFtpCommand(const std::string& raw, bool strict);

} // namespace sim
