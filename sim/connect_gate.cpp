#include "sim/connect_gate.h"

#include <arpa/inet.h>
#include <linux/filter.h>
#include <netinet/ip.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace sim {

namespace {

constexpr size_t kSeenAttempts = 256;
constexpr uint8_t kFin = 0x01, kSyn = 0x02, kRst = 0x04, kAck = 0x10;

// A classic socket filter for the raw socket: only SYNs without ACK to addr on one of ports.
// The packet starts with the IP header.
std::vector<sock_filter> SynFilter(const in_addr& addr, const std::vector<uint16_t>& ports) {
    std::vector<sock_filter> code;
    code.push_back(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, 16)); // destination address
    code.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ntohl(addr.s_addr), 0, 0));
    const size_t addrJump = code.size() - 1;
    code.push_back(BPF_STMT(BPF_LDX | BPF_B | BPF_MSH, 0)); // X = IP header length
    code.push_back(BPF_STMT(BPF_LD | BPF_H | BPF_IND, 2));  // destination port
    std::vector<size_t> portJumps;
    for (uint16_t port : ports) {
        code.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, port, 0, 0));
        portJumps.push_back(code.size() - 1);
    }
    code.push_back(BPF_STMT(BPF_RET | BPF_K, 0));
    const size_t flagsAt = code.size();
    code.push_back(BPF_STMT(BPF_LD | BPF_B | BPF_IND, 13)); // TCP flags
    code.push_back(BPF_STMT(BPF_ALU | BPF_AND | BPF_K, kSyn | kAck | kRst | kFin));
    code.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kSyn, 0, 1));
    code.push_back(BPF_STMT(BPF_RET | BPF_K, 0xffff));
    code.push_back(BPF_STMT(BPF_RET | BPF_K, 0));
    const size_t dropAt = code.size() - 1;
    code[addrJump].jf = static_cast<uint8_t>(dropAt - addrJump - 1);
    for (size_t j : portJumps) {
        code[j].jt = static_cast<uint8_t>(flagsAt - j - 1);
    }
    return code;
}

uint16_t Checksum(const uint8_t* data, size_t length, uint32_t sum) {
    for (size_t i = 0; i + 1 < length; i += 2) {
        sum += uint32_t(data[i]) << 8 | data[i + 1];
    }
    if (length & 1) {
        sum += uint32_t(data[length - 1]) << 8;
    }
    while (sum >> 16) {
        sum = (sum & 0xffff) + (sum >> 16);
    }
    return static_cast<uint16_t>(~sum);
}

void Put16(uint8_t* at, uint16_t v) {
    at[0] = static_cast<uint8_t>(v >> 8);
    at[1] = static_cast<uint8_t>(v);
}

void Put32(uint8_t* at, uint32_t v) {
    Put16(at, static_cast<uint16_t>(v >> 16));
    Put16(at + 2, static_cast<uint16_t>(v));
}

} // namespace

bool ConnectGate::Open(const in_addr& addr, const std::vector<uint16_t>& ports,
                       std::string* error) {
    net::Fd raw(::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_TCP));
    if (!raw.Valid()) {
        *error = std::string("counting refused connection attempts needs a raw socket "
                             "(CAP_NET_RAW, run as root): ") +
                 std::strerror(errno);
        return false;
    }
    auto code = SynFilter(addr, ports);
    sock_fprog program{static_cast<unsigned short>(code.size()), code.data()};
    sockaddr_in local = net::MakeAddress(addr, 0);
    if (::setsockopt(raw.Get(), SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program) != 0 ||
        ::bind(raw.Get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        *error = std::string("raw socket set-up: ") + std::strerror(errno);
        return false;
    }
    m_raw = std::move(raw);
    m_addr = addr;
    m_ports = ports;
    return true;
}

std::optional<ConnectGate::Syn> ConnectGate::AttemptIn(const uint8_t* packet, size_t length,
                                                       const in_addr& addr,
                                                       const std::vector<uint16_t>& ports) {
    if (length < 20 || packet[0] >> 4 != 4 || packet[9] != IPPROTO_TCP) {
        return std::nullopt;
    }
    const size_t ipLength = size_t(packet[0] & 0x0f) * 4;
    if (ipLength < 20 || length < ipLength + 20 || std::memcmp(packet + 16, &addr.s_addr, 4) != 0) {
        return std::nullopt;
    }
    const uint8_t* tcp = packet + ipLength;
    if ((tcp[13] & (kSyn | kAck | kRst | kFin)) != kSyn) {
        return std::nullopt;
    }
    Syn syn;
    std::memcpy(&syn.from.s_addr, packet + 12, 4);
    syn.fromPort = static_cast<uint16_t>(tcp[0] << 8 | tcp[1]);
    syn.toPort = static_cast<uint16_t>(tcp[2] << 8 | tcp[3]);
    syn.seq = uint32_t(tcp[4]) << 24 | uint32_t(tcp[5]) << 16 | uint32_t(tcp[6]) << 8 | tcp[7];
    if (std::find(ports.begin(), ports.end(), syn.toPort) == ports.end()) {
        return std::nullopt;
    }
    return syn;
}

std::vector<ConnectGate::Syn> ConnectGate::Take() {
    std::vector<Syn> syns;
    uint8_t packet[256];
    for (;;) {
        const ssize_t n = ::recv(m_raw.Get(), packet, sizeof packet, MSG_DONTWAIT);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        const auto syn = AttemptIn(packet, size_t(n), m_addr, m_ports);
        if (!syn) {
            continue;
        }
        const uint64_t key = uint64_t(syn->fromPort) << 48 ^ uint64_t(syn->toPort) << 32 ^
                             syn->seq ^ uint64_t(syn->from.s_addr) << 16;
        if (std::find(m_seen.begin(), m_seen.end(), key) != m_seen.end()) {
            continue; // the same attempt again
        }
        m_seen.push_back(key);
        if (m_seen.size() > kSeenAttempts) {
            m_seen.pop_front();
        }
        syns.push_back(*syn);
    }
    return syns;
}

bool ConnectGate::Refuse(const Syn& syn) const {
    uint8_t segment[20] = {};
    Put16(segment, syn.toPort);
    Put16(segment + 2, syn.fromPort);
    Put32(segment + 4, 0);           // a SYN carries no acknowledgement: sequence 0
    Put32(segment + 8, syn.seq + 1); // acknowledges the SYN
    segment[12] = 5 << 4;            // header of five words
    segment[13] = kRst | kAck;
    // The checksum covers a pseudo header: both addresses, protocol and length.
    uint8_t pseudo[12];
    std::memcpy(pseudo, &m_addr.s_addr, 4);
    std::memcpy(pseudo + 4, &syn.from.s_addr, 4);
    pseudo[8] = 0;
    pseudo[9] = IPPROTO_TCP;
    Put16(pseudo + 10, sizeof segment);
    uint32_t sum = 0;
    for (size_t i = 0; i < sizeof pseudo; i += 2) {
        sum += uint32_t(pseudo[i]) << 8 | pseudo[i + 1];
    }
    Put16(segment + 16, Checksum(segment, sizeof segment, sum));
    sockaddr_in to = net::MakeAddress(syn.from, 0);
    return ::sendto(m_raw.Get(), segment, sizeof segment, 0, reinterpret_cast<sockaddr*>(&to),
                    sizeof to) == static_cast<ssize_t>(sizeof segment);
}

bool ConnectGate::SetDropping(int listenFd, bool drop) {
    if (!drop) {
        int unused = 0; // the option takes no value, but the call wants an int's room
        return ::setsockopt(listenFd, SOL_SOCKET, SO_DETACH_FILTER, &unused, sizeof unused) == 0 ||
               errno == ENOENT;
    }
    sock_filter dropAll[] = {BPF_STMT(BPF_RET | BPF_K, 0)};
    sock_fprog program{1, dropAll};
    return ::setsockopt(listenFd, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program) == 0;
}

} // namespace sim
