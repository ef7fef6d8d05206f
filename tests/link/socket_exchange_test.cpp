// Sending, receiving and judging on a real loopback connection whose far end the test holds.

#include "tests/support/link_test_support.h"

#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;
const std::string kRx = "PC <- Device";

// A connected pair on 127.0.0.n: ours for the code under test, theirs for the test.
struct LoopbackPair {
    platform::Socket ours;
    platform::Socket theirs;
};

LoopbackPair Connected(int n) {
    LoopbackPair pair;
    platform::Socket listening = platform::CreateTcpSocket();
    platform::SockAddrIn at{platform::InetAddr(("127.0.0." + std::to_string(n)).c_str()), 0};
    EXPECT_TRUE(platform::Bind(listening, at));
    EXPECT_TRUE(platform::Listen(listening));
    EXPECT_TRUE(platform::GetSockName(listening, at));
    pair.ours = platform::CreateTcpSocket();
    EXPECT_TRUE(platform::Connect(pair.ours, at, 1000));
    platform::SockAddrIn peer;
    pair.theirs = platform::AcceptWithin(listening, 1000, peer);
    EXPECT_TRUE(pair.theirs.IsValid());
    return pair;
}

void SendAll(const platform::Socket& s, const std::string& bytes) {
    ASSERT_EQ(platform::Send(s, bytes.data(), bytes.size()), static_cast<long>(bytes.size()));
}

// Reads until the other end has sent `count` bytes (bounded).
std::vector<uint8_t> ReadExactly(const platform::Socket& s, size_t count) {
    std::vector<uint8_t> got;
    std::vector<uint8_t> chunk(1 << 16);
    while (got.size() < count) {
        const long n = platform::Receive(s, chunk.data(), chunk.size(), 5000);
        if (n <= 0)
            break;
        got.insert(got.end(), chunk.begin(), chunk.begin() + n);
    }
    return got;
}

class SocketExchangeTest : public LinkTest {
  protected:
    void Forget() {
        platform::DeleteFileNamed(kActivityLogName);
        headless::Desktop::Instance().Reset();
    }
};

struct Judged {
    std::string reply;
    int tolerate;
    int result;
};

TEST_F(SocketExchangeTest, RepliesOfTheNegativeClassesAreRefusals) {
    const std::vector<Judged> cases = {
        {"220 ready\r\n", 0, 0},
        {"150 Opening\r\n", 0, 0},
        {"331 Password\r\n", 0, 0},
        {" 500 failed.\r\n", 0, 0}, // only the first byte counts
        {"Ausgabe 5\r\n", 0, 0},
        {"\xFF\xFD\x18", 0, 0}, // telnet option bytes
        {"550 LOGO.bmp: No such file.\r\n", 0, 1},
        {"450 busy\r\n", 1, 1},
        {"500 failed.\r\n", 0, 1},
        {"500 failed.\r\n", 1, 0},
        {"500 command failed.\r\n", 1, 1}, // not the phrase
        {"421 later; 500 failed.\r\n", 1, 0},
    };
    LoopbackPair pair = Connected(57);
    for (const Judged& c : cases) {
        SCOPED_TRACE(c.reply);
        Forget();
        SendAll(pair.theirs, c.reply);
        ReplyBuffer buffer;
        int received = -5;

        EXPECT_EQ(m_dialog->ReceiveReply(pair.ours, buffer, received, c.tolerate), c.result);

        EXPECT_EQ(received, static_cast<int>(c.reply.size()));
        EXPECT_EQ(std::string(buffer.Text()), c.reply);
        EXPECT_EQ(ReadLogEntries(), std::vector<std::string>{Entry(kRx, c.reply)});
        if (c.result == 0) {
            EXPECT_TRUE(Boxes().empty());
        } else {
            ASSERT_EQ(Boxes().size(), 1u);
            EXPECT_EQ(Boxes()[0].text, c.reply);
            EXPECT_EQ(Boxes()[0].style, platform::kMbIconWarning);
            EXPECT_TRUE(Boxes()[0].owned);
            EXPECT_TRUE(TimerStoppedBeforeBox());
        }
    }
}

TEST_F(SocketExchangeTest, AReplyKeepsItsFirst65536BytesAndTheNextReplyFollows) {
    LoopbackPair pair = Connected(58);
    SendAll(pair.theirs, std::string(70000, '2') + "\r\n451 No space.\r\n");

    ReplyBuffer buffer;
    int received = 0;
    EXPECT_EQ(m_dialog->ReceiveReply(pair.ours, buffer, received, 0), 0);
    EXPECT_EQ(received, 65536);
    EXPECT_EQ(std::strlen(buffer.Text()), 65536u);

    // The rest of that reply is dropped: the next read is the next reply.
    EXPECT_EQ(m_dialog->ReceiveReply(pair.ours, buffer, received, 0), 1);
    EXPECT_EQ(std::string(buffer.Text()), "451 No space.\r\n");
}

// A reply and the one behind it, cut into two pieces at every byte: each is read whole (a reply
// that arrives in one piece is the same bytes) and judged on its own.
const struct {
    const char* name;
    std::string first, next;
} kReplyPairs[] = {
    {"CrLf", "200 KQ-A2.01.02.45\r\n", "426 Connection closed; transfer aborted.\r\n"},
    {"LfAlone", "200 KQ-A2.01.02.45\n", "451 LOGO.bmp: cannot store.\r\n"},
    {"CrAlone", "200 KQ-A2.01.02.45 \r", "550 Write failed.\r\n"},
    {"BlankLineBehind", "200 KQ-A2.01.02.45\r\n\r\n", "421 Closing.\r\n"},
    {"MultiLine", "200-Camera control unit.\r\n 200 is not the end\r\n200 KQ-A2\r\n",
     "550 No.\r\n"},
};

TEST_F(SocketExchangeTest, RepliesAreReadWholeWhereverTheNetworkCutsThem) {
    platform::SetTimeScale(0.1); // a quiet period of 200 ms: far beyond any pause below
    LoopbackPair pair = Connected(59);
    for (const auto& replies : kReplyPairs) {
        const std::string stream = replies.first + replies.next;
        // The shortest form of the first reply: up to the first byte of its last line end.
        const size_t shortest = replies.first.find_last_not_of("\r\n") + 2;
        for (size_t cut = 1; cut < stream.size(); ++cut) {
            SCOPED_TRACE(std::string(replies.name) + " cut at " + std::to_string(cut));
            Forget();
            SendAll(pair.theirs, stream.substr(0, cut));
            auto rest = std::async(std::launch::async, [&] {
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
                SendAll(pair.theirs, stream.substr(cut));
            });
            ReplyBuffer buffer;
            int received = 0;
            EXPECT_EQ(m_dialog->ReceiveReply(pair.ours, buffer, received, 0), 0);
            // Never less than the reply up to its line end, nor any byte of the next.
            const std::string first(buffer.Bytes());
            EXPECT_EQ(replies.first.substr(0, first.size()), first);
            EXPECT_GE(first.size(), std::min(std::max(cut, shortest), replies.first.size()));
            EXPECT_EQ(ReadLogEntries(), std::vector<std::string>{Entry(kRx, buffer.Text())});
            rest.get();
            EXPECT_EQ(m_dialog->ReceiveReply(pair.ours, buffer, received, 0), 1);
            EXPECT_EQ(std::string(buffer.Bytes()), replies.next);
        }
    }
}

// A closed connection is no answer: the empty receive is logged, then reported as a reset, so
// a unit that hangs up before confirming a step never lets the run pass as complete.
TEST_F(SocketExchangeTest, ClosedConnectionIsReadableAtOnceAndFailsTheReply) {
    LoopbackPair pair = Connected(57);
    pair.theirs.Close();

    const auto start = Clock::now();
    EXPECT_EQ(CUpdaterDlg::WaitReadable(pair.ours), 0);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(50));
    ReplyBuffer buffer;
    int received = -5;
    EXPECT_EQ(m_dialog->ReceiveReply(pair.ours, buffer, received, 0), 1);
    EXPECT_EQ(received, 0);
    EXPECT_EQ(ReadLogEntries(),
              (std::vector<std::string>{
                  Entry(kRx, ""), Entry("recv() Error", "Error : Connection reset by peer.")}));
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0].text, "Error : Connection reset by peer.");
    EXPECT_EQ(Boxes()[0].style, platform::kMbIconError);
}

TEST_F(SocketExchangeTest, ReplyDeadlineIsLongerWhileTheUnitWrites) {
    platform::SetTimeScale(0.001); // ordinary 60 ms, writing 600 ms
    LoopbackPair pair = Connected(58);
    auto late = std::async(std::launch::async, [&pair] {
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        SendAll(pair.theirs, "226 Transfer complete.\r\n");
    });
    ReplyBuffer buffer;
    int received = 0;

    const auto start = Clock::now();
    EXPECT_EQ(m_dialog->ReceiveReply(pair.ours, buffer, received, 0, ReplyWait::Ordinary), 1);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(240));
    EXPECT_EQ(received, -1);
    EXPECT_EQ(ReadLogEntries(),
              std::vector<std::string>{Entry("recv() Error", "Error : Connection timed out.")});
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0].text, "Error : Connection timed out.");
    EXPECT_EQ(Boxes()[0].style, platform::kMbIconError);
    EXPECT_TRUE(TimerStoppedBeforeBox());

    Forget();
    EXPECT_EQ(m_dialog->ReceiveReply(pair.ours, buffer, received, 0, ReplyWait::Writing), 0);
    EXPECT_EQ(std::string(buffer.Text()), "226 Transfer complete.\r\n");
    late.get();
}

TEST_F(SocketExchangeTest, SendGoesOutInChunksWithTheBarFollowing) {
    LoopbackPair pair = Connected(59);
    for (const uint32_t size : {0u, 10u, 65536u, 65537u, 200000u}) {
        SCOPED_TRACE(size);
        headless::Desktop::Instance().ClearEvents();
        std::vector<uint8_t> data(size);
        for (uint32_t i = 0; i < size; ++i)
            data[i] = static_cast<uint8_t>(i * 7 + i / 251);
        auto reader = std::async(std::launch::async,
                                 [&pair, size] { return ReadExactly(pair.theirs, size); });

        EXPECT_EQ(m_dialog->SendCommand(pair.ours, data.data(), size, 1), 0);

        EXPECT_TRUE(reader.get() == data);
        EXPECT_EQ(Progress(), ProgressOfTransfer(size));
    }
    EXPECT_TRUE(ReadLogEntries().empty()) << "sending logs nothing by itself";

    headless::Desktop::Instance().ClearEvents();
    const std::string text = "TYPE I\r\n";
    EXPECT_EQ(m_dialog->SendCommand(pair.ours, text.data(), 8, 0), 0);
    const auto got = ReadExactly(pair.theirs, 8);
    EXPECT_EQ(std::string(got.begin(), got.end()), text);
    EXPECT_TRUE(Progress().empty());
}

TEST_F(SocketExchangeTest, SendToAResetConnectionIsReported) {
    LoopbackPair pair = Connected(59);
    // An abortive close: the unit resets the connection.
    const linger abort{1, 0};
    ASSERT_EQ(::setsockopt(static_cast<int>(pair.theirs.Get()), SOL_SOCKET, SO_LINGER, &abort,
                           sizeof abort),
              0);
    pair.theirs.Close();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const std::vector<uint8_t> data(300000, 0x5A);

    EXPECT_EQ(m_dialog->SendCommand(pair.ours, data.data(), 300000, 1), 1);

    EXPECT_EQ(ReadLogEntries(),
              std::vector<std::string>{Entry("send() Error", "Error : Connection reset by peer.")});
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0].text, "Error : Connection reset by peer.");
    EXPECT_EQ(Boxes()[0].style, platform::kMbIconError);
    EXPECT_TRUE(TimerStoppedBeforeBox());
    // The bar is not emptied after a failure.
    for (const auto& e : Progress())
        EXPECT_FALSE(e.kind == "pos" && e.a == 0) << "bar emptied after a failure";
}

// A unit that stops taking bytes fails the send after a minute without progress, like any other
// send failure, with the bar left where it was; one that keeps taking bytes, however slowly, is
// waited for, because every byte taken restarts the wait.
TEST_F(SocketExchangeTest, SendFailsWhenTheUnitTakesNothingForAMinute) {
    struct Case {
        const char* unit;
        int readEveryMs; // 0: never reads again
        int result;
    };
    const Case cases[] = {{"stops reading", 0, 1}, {"reads slowly", 100, 0}};
    platform::SetTimeScale(0.005); // the minute in 300 ms
    for (const Case& c : cases) {
        SCOPED_TRACE(c.unit);
        Forget();
        LoopbackPair pair = Connected(59);
        // Small buffers, so that a few hundred KiB fill the way to the unit.
        const int small = 64 * 1024;
        ::setsockopt(static_cast<int>(pair.ours.Get()), SOL_SOCKET, SO_SNDBUF, &small,
                     sizeof small);
        ::setsockopt(static_cast<int>(pair.theirs.Get()), SOL_SOCKET, SO_RCVBUF, &small,
                     sizeof small);
        const std::vector<uint8_t> data(1u << 20, 0x5A);
        // The unit takes one receive's worth per wake-up until the sender is done; one that stops
        // reading resets the connection after 3 s, so that an unbounded send ends there instead of
        // hanging the suite.
        std::atomic<bool> done{false};
        auto unit = std::async(std::launch::async, [&] {
            std::vector<uint8_t> chunk(256 * 1024);
            const auto giveUp = Clock::now() + std::chrono::seconds(3);
            while (!done && (c.readEveryMs != 0 || Clock::now() < giveUp)) {
                std::this_thread::sleep_for(
                    std::chrono::milliseconds(c.readEveryMs ? c.readEveryMs : 20));
                if (c.readEveryMs != 0)
                    platform::Receive(pair.theirs, chunk.data(), chunk.size(), 2000);
            }
            const linger abort{1, 0};
            ::setsockopt(static_cast<int>(pair.theirs.Get()), SOL_SOCKET, SO_LINGER, &abort,
                         sizeof abort);
            pair.theirs.Close();
        });

        const auto start = Clock::now();
        EXPECT_EQ(
            m_dialog->SendCommand(pair.ours, data.data(), static_cast<uint32_t>(data.size()), 1),
            c.result);
        const auto took = Clock::now() - start;
        done = true;
        unit.get();

        const auto bar = Progress();
        ASSERT_FALSE(bar.empty());
        if (c.result == 0) {
            EXPECT_GT(took, std::chrono::milliseconds(450)) << "longer than one bound in all";
            EXPECT_TRUE(Boxes().empty());
            EXPECT_EQ(bar.back(), (ProgressEvent{"pos", 0, 0}));
            continue;
        }
        EXPECT_GE(took, std::chrono::milliseconds(290));
        EXPECT_LT(took, std::chrono::milliseconds(2000));
        EXPECT_EQ(ReadLogEntries(),
                  std::vector<std::string>{Entry("send() Error", "Error : Connection timed out.")});
        ASSERT_EQ(Boxes().size(), 1u);
        EXPECT_EQ(Boxes()[0].text, "Error : Connection timed out.");
        EXPECT_EQ(Boxes()[0].style, platform::kMbIconError);
        EXPECT_TRUE(TimerStoppedBeforeBox());
        EXPECT_EQ(bar.back().kind, "pos");
        EXPECT_GT(bar.back().a, 0) << "the bar stays where the unit stopped";
        EXPECT_LT(bar.back().a, static_cast<int64_t>(data.size()));
    }
}

TEST_F(SocketExchangeTest, ExchangeLogsTheCommandThenTheReply) {
    LoopbackPair pair = Connected(57);
    auto unit = std::async(std::launch::async, [&pair] {
        const auto got = ReadExactly(pair.theirs, 6);
        SendAll(pair.theirs, "230 ok\r\n");
        return std::string(got.begin(), got.end());
    });
    ReplyBuffer reply;

    EXPECT_EQ(m_dialog->Exchange(pair.ours, "PASS\r\n", reply, 0), 0);

    EXPECT_EQ(unit.get(), "PASS\r\n");
    EXPECT_EQ(ReadLogEntries(), (std::vector<std::string>{Entry("PC -> Device", "PASS\r\n"),
                                                          Entry(kRx, "230 ok\r\n")}));
}

// The fixed pauses at their real length: the product never scales time.
TEST_F(SocketExchangeTest, RealPausesAreTwoSecondsOfQuietAndTwiceTenthOfASecond) {
    platform::SetTimeScale(1.0);
    LoopbackPair pair = Connected(58);

    auto start = Clock::now();
    EXPECT_EQ(CUpdaterDlg::WaitReadable(pair.ours), 1);
    auto elapsed = Clock::now() - start;
    EXPECT_GE(elapsed, std::chrono::milliseconds(1990));
    EXPECT_LT(elapsed, std::chrono::milliseconds(2500));

    SendAll(pair.theirs, "x");
    start = Clock::now();
    EXPECT_EQ(CUpdaterDlg::WaitReadable(pair.ours), 0);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(100));

    const char data[3] = {1, 2, 3};
    start = Clock::now();
    EXPECT_EQ(m_dialog->SendCommand(pair.ours, data, 3, 1), 0);
    elapsed = Clock::now() - start;
    EXPECT_GE(elapsed, std::chrono::milliseconds(199));
    EXPECT_LT(elapsed, std::chrono::milliseconds(600));

    start = Clock::now();
    EXPECT_EQ(m_dialog->SendCommand(pair.ours, data, 3, 0), 0);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(50));
}

} // namespace
