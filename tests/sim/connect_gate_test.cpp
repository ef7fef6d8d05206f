// The connect gate counts an attempt only when it is a SYN to its own unit's address and ports:
// whatever else runs on loopback at the time is none of its business.

#include <netinet/in.h>

#include <cstring>

#include "sim/connect_gate.h"
#include "tests/support/sim_test_support.h"
#include "tests/support/unit_address_claims.h"

namespace {

using namespace simtest;
using sim::ConnectGate;

constexpr uint8_t kFin = 0x01, kSyn = 0x02, kRst = 0x04, kPsh = 0x08, kAck = 0x10;
const char* const kGateAddress = "127.0.7.1";

struct SegmentRow {
    const char* name;
    const char* to;
    uint16_t toPort;
    uint8_t flags;
    bool counted;
    uint8_t ipWords = 5; // length of the IP header in 32-bit words
    size_t cutOff = 0;   // bytes missing at the end
    uint8_t protocol = IPPROTO_TCP;
};

void PrintTo(const SegmentRow& row, std::ostream* out) {
    *out << row.name;
}

// The packet as the raw socket receives it: IP header, then the TCP header.
std::vector<uint8_t> Packet(const SegmentRow& row) {
    const size_t ip = size_t(row.ipWords) * 4;
    std::vector<uint8_t> p(ip + 20, 0);
    p[0] = uint8_t(0x40 | row.ipWords);
    p[9] = row.protocol;
    const in_addr from = Ip("127.0.0.1"), to = Ip(row.to);
    std::memcpy(&p[12], &from.s_addr, 4);
    std::memcpy(&p[16], &to.s_addr, 4);
    p[ip] = 0xc3; // from port 50000
    p[ip + 1] = 0x50;
    p[ip + 2] = uint8_t(row.toPort >> 8);
    p[ip + 3] = uint8_t(row.toPort);
    p[ip + 7] = 7; // sequence number
    p[ip + 12] = 5 << 4;
    p[ip + 13] = row.flags;
    p.resize(p.size() - row.cutOff);
    return p;
}

class ConnectGateSegmentTest : public ::testing::TestWithParam<SegmentRow> {};

TEST_P(ConnectGateSegmentTest, CountsOnlySynsToItsOwnAddressAndPorts) {
    const SegmentRow& row = GetParam();
    const std::vector<uint8_t> packet = Packet(row);
    const auto syn =
        ConnectGate::AttemptIn(packet.data(), packet.size(), Ip(kGateAddress), {21, 23});
    ASSERT_EQ(syn.has_value(), row.counted);
    if (syn) {
        EXPECT_EQ(syn->toPort, row.toPort);
        EXPECT_EQ(syn->fromPort, 50000);
        EXPECT_EQ(syn->seq, 7u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ConnectGateSegmentTest,
    ::testing::Values(SegmentRow{"SynToItsFtpPort", kGateAddress, 21, kSyn, true},
                      SegmentRow{"SynToItsTelnetPort", kGateAddress, 23, kSyn, true},
                      SegmentRow{"SynWithIpOptions", kGateAddress, 21, kSyn, true, 6},
                      SegmentRow{"SynToAnotherUnit", "127.0.7.2", 21, kSyn, false},
                      SegmentRow{"SynToAnotherPort", kGateAddress, 2121, kSyn, false},
                      SegmentRow{"AckOfAnOpenConnection", kGateAddress, 21, kAck, false},
                      SegmentRow{"DataOfAnOpenConnection", kGateAddress, 21, kAck | kPsh, false},
                      SegmentRow{"SynAck", kGateAddress, 21, kSyn | kAck, false},
                      SegmentRow{"Reset", kGateAddress, 21, kRst | kAck, false},
                      SegmentRow{"SynFin", kGateAddress, 21, kSyn | kFin, false},
                      SegmentRow{"CutShort", kGateAddress, 21, kSyn, false, 5, 1},
                      SegmentRow{"NotTcp", kGateAddress, 21, kSyn, false, 5, 0, IPPROTO_UDP}),
    [](const auto& info) { return std::string(info.param.name); });

// Live traffic while the gate watches: a connection to another unit, an attempt at another port
// of its own address, and one attempt at its FTP port, which is the only one it counts.
TEST(ConnectGateTest, CountsOnlyAttemptsAtItsOwnAddressAndPorts) {
    std::string error;
    for (const char* address : {kGateAddress, "127.0.7.2"}) {
        EXPECT_TRUE(testsupport::ClaimUnitAddress(address, &error)) << error;
    }
    ConnectGate gate;
    ASSERT_TRUE(gate.Open(Ip(kGateAddress), {21, 23}, &error)) << error;
    const Fd otherUnit = sim::net::Listen(sim::net::MakeAddress(Ip("127.0.7.2"), 21), &error);
    ASSERT_TRUE(otherUnit.Valid()) << error;
    auto other = Peer::Connect("127.0.7.2", 21);
    ASSERT_TRUE(other);
    other->Send("USER anonymous\r\n");
    EXPECT_FALSE(Peer::Connect(kGateAddress, 2121)) << "nothing listens there";
    EXPECT_FALSE(Peer::Connect(kGateAddress, 21)) << "nothing listens there";
    const std::vector<ConnectGate::Syn> syns = gate.Take();
    ASSERT_EQ(syns.size(), 1u);
    EXPECT_EQ(syns[0].toPort, 21);
}

} // namespace
