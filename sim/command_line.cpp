#include "sim/command_line.h"

#include <algorithm>
#include <cctype>

namespace sim {

CommandLine ReadCommandLine(const std::string& raw, bool strict) {
    CommandLine line;
    if (!strict) {
        std::copy_if(raw.begin(), raw.end(), std::back_inserter(line.text),
                     [](char c) { return c != '\r' && c != '\0'; });
        return line;
    }
    const bool endsWithCr = !raw.empty() && raw.back() == '\r';
    line.text = endsWithCr ? raw.substr(0, raw.size() - 1) : raw;
    if (!endsWithCr) {
        line.problem = "line ends without CR";
    } else if (line.text.find_first_of(std::string("\r\0", 2)) != std::string::npos) {
        line.problem = "CR or NUL inside the line";
    }
    return line;
}

FtpCommand ParseFtpCommand(const std::string& raw, bool strict) {
    FtpCommand cmd;
    CommandLine line = ReadCommandLine(raw, strict);
    cmd.text = std::move(line.text);
    cmd.problem = std::move(line.problem);
    const size_t blank = cmd.text.find(' ');
    cmd.verb = cmd.text.substr(0, blank);
    if (blank == std::string::npos) {
        // no argument
    } else if (!strict) {
        const size_t argAt = cmd.text.find_first_not_of(' ', blank);
        cmd.arg = argAt == std::string::npos ? "" : cmd.text.substr(argAt);
    } else if (cmd.verb == "STOR") {
        // "STOR", two blanks, then the name.
        if (cmd.text.compare(blank, 2, "  ") != 0 || cmd.text.size() <= blank + 2 ||
            cmd.text[blank + 2] == ' ') {
            cmd.problem =
                cmd.problem.empty() ? "STOR needs two blanks before the name" : cmd.problem;
        }
        cmd.arg = cmd.text.size() > blank + 2 ? cmd.text.substr(blank + 2) : "";
    } else {
        cmd.arg = cmd.text.substr(blank + 1);
    }
    const bool upper = std::none_of(cmd.verb.begin(), cmd.verb.end(), [](char c) {
        return std::islower(static_cast<unsigned char>(c));
    });
    if (!strict) {
        std::transform(cmd.verb.begin(), cmd.verb.end(), cmd.verb.begin(), [](char c) {
            return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        });
    } else if (!upper && cmd.problem.empty()) {
        cmd.problem = "verb not in upper case";
    }
    return cmd;
}

} // namespace sim
