#pragma once
// Refusing chosen connection attempts one by one, as a port with nothing listening refuses them.
//
// A port with no listener is refused by the system at once, so a program cannot count the
// attempts and then start listening in time for the next one: the peer may try again before
// the program has seen the last refusal. The gate therefore keeps the decision in its own
// hands. While attempts are to be refused, the port's listening socket carries a socket filter
// that drops every segment, so the system answers nothing; a raw socket (CAP_NET_RAW) sees each
// SYN to the unit's ports and the gate answers it with the segment the system sends for a port
// without listener (RST and ACK of the SYN), after which the peer's connect fails with
// "connection refused". Before it answers the attempt after which connections are accepted
// again, it lifts the filter: the peer cannot try again before that answer, so the next attempt
// is always accepted and every attempt is counted exactly once.

#include <netinet/in.h>

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "sim/sim_socket.h"

namespace sim {

class ConnectGate {
  public:
    struct Syn {
        in_addr from{};
        uint16_t fromPort = 0; // host order
        uint16_t toPort = 0;   // host order
        uint32_t seq = 0;
    };

    // Watches SYNs to `addr` on the given ports (host order); false with a reason.
    bool Open(const in_addr& addr, const std::vector<uint16_t>& ports, std::string* error);
    bool Valid() const { return m_raw.Valid(); }
    int Fd() const { return m_raw.Get(); }

    // The SYNs that arrived since the last call, without retransmissions of one attempt.
    std::vector<Syn> Take();

    // The attempt a packet (from its IP header on) is, when it is a SYN without ACK to `addr`
    // on one of `ports`. The raw socket takes every TCP segment on the machine until its filter
    // is in place, so each packet is checked again here: another test's traffic on loopback
    // must never count as an attempt at this unit.
    static std::optional<Syn> AttemptIn(const uint8_t* packet, size_t length, const in_addr& addr,
                                        const std::vector<uint16_t>& ports);

    // Answers an attempt as a port without listener does.
    bool Refuse(const Syn& syn) const;

    // Makes a listening socket drop (or take again) every segment it is offered.
    static bool SetDropping(int listenFd, bool drop);

  private:
    net::Fd m_raw;
    in_addr m_addr{};
    std::vector<uint16_t> m_ports;
    std::deque<uint64_t> m_seen; // the latest attempts, to know a retransmitted SYN
};

} // namespace sim
