// The long reply deadline of the three exchanges that wait while the unit writes: the end of a
// transfer, "EXCM u_soft" and "EXCM w_stupall". A unit that answers just inside ten minutes
// passes; one that answers just after fails the run with a time-out.

#include "tests/support/run_test_support.h"

#include "sim/sim_socket.h"

#include <poll.h>

namespace {

// Stands on 127.0.4.N:21 in front of a unit on port 2121 of the same address (so that the unit's
// data connections still come from the address the tool talks to) and passes bytes both ways,
// holding back the first reply that starts with `held` for `holdMs` real milliseconds.
class HoldingProxy {
  public:
    HoldingProxy(const std::string& address, std::string held, uint32_t holdMs)
        : m_held(std::move(held)), m_holdMs(holdMs) {
        sim::net::ParseIpv4(address, &m_addr);
        std::string error;
        m_listener = sim::net::Listen(sim::net::MakeAddress(m_addr, 21), &error);
        m_thread = std::thread([this] { Serve(); });
    }
    ~HoldingProxy() {
        m_stop = true;
        m_thread.join();
    }
    bool Ok() const { return m_listener.Valid(); }

  private:
    void Serve() {
        while (!m_stop) {
            if (!sim::net::WaitReadable(m_listener.Get(), 20))
                continue;
            const sim::net::Fd client = sim::net::AcceptNow(m_listener.Get());
            std::string error;
            const sim::net::Fd unit = sim::net::ConnectBounded(sim::net::MakeAddress(m_addr, 2121),
                                                               nullptr, 2000, &error);
            if (client.Valid() && unit.Valid())
                Relay(client.Get(), unit.Get());
        }
    }

    void Relay(int client, int unit) {
        pollfd p[2] = {{client, POLLIN, 0}, {unit, POLLIN, 0}};
        std::vector<char> buffer(65536);
        while (!m_stop) {
            if (::poll(p, 2, 20) < 0)
                return;
            for (int i = 0; i < 2; ++i) {
                if (!(p[i].revents & (POLLIN | POLLHUP)))
                    continue;
                const long n = sim::net::ReceiveSome(p[i].fd, buffer.data(), buffer.size());
                if (n <= 0)
                    return;
                if (i == 1 && !m_done &&
                    std::string(buffer.data(), size_t(n)).rfind(m_held, 0) == 0) {
                    m_done = true;
                    const auto until =
                        std::chrono::steady_clock::now() + std::chrono::milliseconds(m_holdMs);
                    while (!m_stop && std::chrono::steady_clock::now() < until)
                        std::this_thread::sleep_for(std::chrono::milliseconds(5));
                }
                if (!sim::net::SendAll(p[1 - i].fd, buffer.data(), size_t(n), 2000))
                    return;
            }
        }
    }

    const std::string m_held;
    const uint32_t m_holdMs;
    in_addr m_addr{};
    sim::net::Fd m_listener;
    bool m_done = false; // the proxy's own thread only
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

constexpr double kScale = 0.01;               // ten minutes are 6 s here
constexpr uint32_t kBoundMs = 10 * 60 * 1000; // protocol time

struct DeadlineCase {
    const char* site;
    int n;                 // the unit's address 127.0.4.n
    const char* heldReply; // the reply the unit is slow to give
    double share;          // how long it takes, as a share of the bound
    bool passes;
};

std::ostream& operator<<(std::ostream& out, const DeadlineCase& c) {
    return out << c.site << " after " << c.share << " of the bound";
}

class ReplyDeadlineTest : public RunTest, public ::testing::WithParamInterface<DeadlineCase> {};

TEST_P(ReplyDeadlineTest, UnitWritingJustInsideTenMinutesPassesJustAfterFails) {
    const DeadlineCase& c = GetParam();
    platform::SetTimeScale(kScale);
    m_subnet = 4;
    sim::UnitConfig config;
    config.ftpPort = 2121;
    sim::Unit& unit = StartUnit(c.n, config);
    const uint32_t bound = platform::ScaledMs(kBoundMs);
    HoldingProxy proxy(Address(c.n), c.heldReply, uint32_t(c.share * bound));
    ASSERT_TRUE(proxy.Ok());
    WriteBytes("LOGO.bmp", PatternBytes(1000, 1));
    WriteTextFile("KQVorlink.prm", "KQ-A2  Update\nA\nD\n");
    Open();

    const uint64_t start = platform::NowMs();
    const RunEnd end = RunAgainst(c.n);
    const uint64_t elapsed = platform::NowMs() - start;

    if (c.passes) {
        EXPECT_EQ(end, RunEnd::Complete) << BoxTexts();
        EXPECT_EQ(unit.Commands().back(), "QUIT");
        return;
    }
    ASSERT_EQ(end, RunEnd::ProgramEnded) << BoxTexts();
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0].text, "Error : Connection timed out.");
    EXPECT_EQ(Boxes()[0].style, platform::kMbIconError);
    EXPECT_EQ(ReadLogEntries().back(), Entry("recv() Error", "Error : Connection timed out."));
    EXPECT_GE(elapsed, bound);
    EXPECT_LT(elapsed, uint64_t(c.share * bound)) << "the failure came when the unit answered";
}

INSTANTIATE_TEST_SUITE_P(
    ThreeWaits, ReplyDeadlineTest,
    ::testing::Values(DeadlineCase{"end of transfer", 1, "226 ", 0.85, true},
                      DeadlineCase{"end of transfer", 2, "226 ", 1.2, false},
                      DeadlineCase{"EXCM u_soft", 3, "200 k_Lg written.", 0.85, true},
                      DeadlineCase{"EXCM u_soft", 4, "200 k_Lg written.", 1.2, false},
                      DeadlineCase{"EXCM w_stupall", 5, "200 Default data set.", 0.85, true},
                      DeadlineCase{"EXCM w_stupall", 6, "200 Default data set.", 1.2, false}));

} // namespace
