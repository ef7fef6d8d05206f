// A unit that vanishes without closing its connections is noticed: the control and telnet
// connections carry TCP keepalive, read back from the sockets themselves while a run uses them.

#include "tests/support/run_test_support.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <algorithm>

using sim::Fault;

namespace {

struct KeepaliveCase {
    const char* what;
    int n; // the unit's address 127.0.4.n
    const char* cpuFile;
    const char* heldCommand; // the unit holds its answer while the test looks
    int occurrence;
    bool telnet;
};

std::ostream& operator<<(std::ostream& out, const KeepaliveCase& c) {
    return out << c.what;
}

int Option(intptr_t socket, int level, int name) {
    int value = -1;
    socklen_t length = sizeof value;
    if (::getsockopt(int(socket), level, name, &value, &length) != 0)
        return -1;
    return value;
}

class KeepaliveTest : public RunTest, public ::testing::WithParamInterface<KeepaliveCase> {};

TEST_P(KeepaliveTest, ConnectionCarriesKeepaliveOfAboutHalfAMinute) {
    const KeepaliveCase& c = GetParam();
    sim::UnitConfig config;
    Fault held = FaultOf(Fault::Trigger::Command, c.heldCommand, Fault::Action::Delay);
    held.delayMs = 400;
    held.occurrence = c.occurrence;
    config.faults.push_back(held);
    sim::Unit& unit = OpenOneStep(c.n, c.cpuFile, 500, config);

    int on = -1, idle = -1, interval = -1, count = -1;
    m_whileRunning = [&] {
        const auto seen = unit.Commands();
        const auto held = std::count_if(seen.begin(), seen.end(), [&](const std::string& line) {
            return line.rfind(c.heldCommand, 0) == 0;
        });
        if (on != -1 || held < c.occurrence)
            return;
        const intptr_t s = c.telnet ? m_dialog->m_sockTelnet.Get() : m_dialog->m_sockCtrl.Get();
        on = Option(s, SOL_SOCKET, SO_KEEPALIVE);
        idle = Option(s, IPPROTO_TCP, TCP_KEEPIDLE);
        interval = Option(s, IPPROTO_TCP, TCP_KEEPINTVL);
        count = Option(s, IPPROTO_TCP, TCP_KEEPCNT);
    };
    ASSERT_EQ(RunAgainst(c.n), RunEnd::Complete) << BoxTexts();
    ASSERT_NE(on, -1) << "the socket was not read during the run";
    EXPECT_EQ(on, 1);
    EXPECT_GT(idle, 0);
    EXPECT_GT(interval, 0);
    EXPECT_GT(count, 0);
    EXPECT_LE(idle + interval * count, 30)
        << idle << " s idle, " << count << " probes " << interval << " s apart";
}

INSTANTIATE_TEST_SUITE_P(
    EachConnection, KeepaliveTest,
    ::testing::Values(KeepaliveCase{"control connection", 60, "", "EXCM k_prism", 1, false},
                      KeepaliveCase{"telnet connection", 61, "ab07.cpu", "STOR", 1, true},
                      KeepaliveCase{"control connection after the CPU program", 62, "ab07.cpu",
                                    "EXCM k_prism", 2, false}));

} // namespace
