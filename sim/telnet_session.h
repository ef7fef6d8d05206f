#pragma once
// One telnet connection of the unit: answers the option offer, takes command lines, and after
// "u_soft" says nothing at all while the CPU program is written (a restart follows once the
// tool has closed its connections).

#include <optional>
#include <string>

#include "sim/sim_socket.h"
#include "sim/unit_core.h"

namespace sim {

class TelnetSession {
  public:
    // `connectFault`: the fault that fired when the connection was accepted, if any.
    TelnetSession(UnitCore& core, net::Fd connection, std::optional<Fault> connectFault);
    void Run();

  private:
    // Takes the option commands out of the received bytes, collecting the answers to them.
    std::string Filter(const char* data, size_t length);
    void HandleLine(const std::string& raw);
    bool Send(const std::string& bytes);

    UnitCore& m_core;
    net::Fd m_conn;
    std::optional<Fault> m_connectFault;
    bool m_open = true;
    bool m_silent = false;
    Pace m_pace;
    uint32_t m_answerDelayMs = 0;
    std::string m_answers;
    // Option parsing state carried across receives.
    int m_iacState = 0;
    unsigned char m_verb = 0;
    bool m_answered[4][256] = {}; // each request is answered once, so offers cannot loop
};

} // namespace sim
