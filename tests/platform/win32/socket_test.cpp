// The Winsock backend on loopback: round trips, the Windows Sockets codes of the usual failures,
// and waits that end at their bound (scaled through the platform clock).

#include "platform/clock.h"
#include "platform/socket.h"

#include "tests/platform/win32/win_test_support.h"

#include <winsock2.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>

namespace {

using namespace platform;

class SocketsStarted : public ::testing::Environment {
  public:
    void SetUp() override { ASSERT_EQ(StartupSockets(), 0); }
    void TearDown() override { CleanupSockets(); }
};
[[maybe_unused]] ::testing::Environment* const g_sockets =
    ::testing::AddGlobalTestEnvironment(new SocketsStarted);

const uint32_t kLoopback = HostToNet32(0x7F000001);

// A listening socket on 127.0.0.1 with a port of the system's choosing.
struct Listener {
    Socket socket = CreateTcpSocket();
    SockAddrIn address{kLoopback, 0};
    Listener() {
        EXPECT_TRUE(socket.IsValid());
        EXPECT_TRUE(Bind(socket, address));
        EXPECT_TRUE(Listen(socket));
        EXPECT_TRUE(GetSockName(socket, address));
    }
};

struct Pair {
    Socket client;
    Socket server;
};

Pair Connected(const Listener& listener) {
    Pair pair;
    pair.client = CreateTcpSocket();
    EXPECT_TRUE(Connect(pair.client, listener.address, 2000)) << LastSocketError();
    SockAddrIn peer;
    pair.server = AcceptWithin(listener.socket, 2000, peer);
    EXPECT_TRUE(pair.server.IsValid()) << LastSocketError();
    SockAddrIn clientName;
    EXPECT_TRUE(GetSockName(pair.client, clientName));
    EXPECT_EQ(peer.addrNet, clientName.addrNet);
    EXPECT_EQ(peer.portNet, clientName.portNet);
    return pair;
}

TEST(Win32Socket, BytesTravelBothWaysAndAClosedPeerReadsAsZero) {
    Listener listener;
    Pair pair = Connected(listener);
    ASSERT_EQ(Send(pair.client, "220 ready\r\n", 11), 11);
    char buffer[64] = {};
    ASSERT_EQ(Receive(pair.server, buffer, sizeof buffer, 2000), 11);
    EXPECT_EQ(std::string(buffer, 11), "220 ready\r\n");
    ASSERT_EQ(Send(pair.server, "QUIT\r\n", 6), 6);
    ASSERT_EQ(Receive(pair.client, buffer, sizeof buffer, 2000), 6);

    SockAddrIn peer;
    ASSERT_TRUE(GetPeerName(pair.client, peer));
    EXPECT_EQ(peer.portNet, listener.address.portNet);
    EXPECT_EQ(DottedAddress(peer.addrNet), "127.0.0.1");

    EXPECT_TRUE(ShutdownBoth(pair.client));
    pair.client.Close();
    EXPECT_EQ(WaitReadable(pair.server, 2000), 1);
    EXPECT_EQ(Receive(pair.server, buffer, sizeof buffer, 2000), 0);
}

TEST(Win32Socket, RefusedConnectionAndBusyPortGiveTheirCodes) {
    SockAddrIn closed;
    {
        Listener gone;
        closed = gone.address;
    }
    Socket s = CreateTcpSocket();
    const uint64_t start = StopwatchMs();
    EXPECT_FALSE(Connect(s, closed, 5000));
    EXPECT_EQ(LastSocketError(), kWsaEconnrefused);
    EXPECT_LT(StopwatchMs() - start, 4500u); // refused, not timed out

    Listener busy;
    Socket second = CreateTcpSocket();
    EXPECT_FALSE(Bind(second, busy.address));
    EXPECT_EQ(LastSocketError(), kWsaEaddrinuse);
}

TEST(Win32Socket, WaitsEndAtTheirBoundWithTimedOut) {
    Listener listener;
    SockAddrIn peer;
    uint64_t start = StopwatchMs();
    Socket none = AcceptWithin(listener.socket, 300, peer);
    uint64_t took = StopwatchMs() - start;
    EXPECT_FALSE(none.IsValid());
    EXPECT_EQ(LastSocketError(), kWsaEtimedout);
    EXPECT_GE(took, 250u);
    EXPECT_LT(took, 2000u);

    Pair pair = Connected(listener);
    char buffer[16];
    start = StopwatchMs();
    EXPECT_EQ(Receive(pair.client, buffer, sizeof buffer, 300), -1);
    EXPECT_EQ(LastSocketError(), kWsaEtimedout);
    EXPECT_GE(StopwatchMs() - start, 250u);
    EXPECT_EQ(WaitReadable(pair.client, 100), 0);

    // A scaled clock shortens the same bound.
    SetTimeScale(0.05);
    start = StopwatchMs();
    EXPECT_EQ(Receive(pair.client, buffer, sizeof buffer, 4000), -1);
    took = StopwatchMs() - start;
    SetTimeScale(1.0);
    EXPECT_LT(took, 1500u);
}

// A peer that stops reading: once the buffers are full, a send fails with "timed out" at its
// bound instead of waiting for as long as the peer likes.
TEST(Win32Socket, SendToAPeerThatStopsReadingEndsAtItsBound) {
    Listener listener;
    Pair pair = Connected(listener);
    const int small = 64 * 1024;
    ::setsockopt(static_cast<SOCKET>(pair.client.Get()), SOL_SOCKET, SO_SNDBUF,
                 reinterpret_cast<const char*>(&small), sizeof small);
    ::setsockopt(static_cast<SOCKET>(pair.server.Get()), SOL_SOCKET, SO_RCVBUF,
                 reinterpret_cast<const char*>(&small), sizeof small);
    // The peer resets the connection after 5 s, so that an unbounded send ends there.
    std::atomic<bool> done{false};
    std::thread peer([&] {
        const uint64_t giveUp = StopwatchMs() + 5000;
        while (!done && StopwatchMs() < giveUp)
            ::Sleep(10);
        const linger abort{1, 0};
        ::setsockopt(static_cast<SOCKET>(pair.server.Get()), SOL_SOCKET, SO_LINGER,
                     reinterpret_cast<const char*>(&abort), sizeof abort);
        pair.server.Close();
    });

    SetTimeScale(0.05); // the bound of 4 s in 200 ms
    const std::string chunk(65536, 'x');
    long sent = 0;
    int error = 0;
    uint64_t took = 0;
    for (int call = 0; call < 2000 && sent >= 0; ++call) {
        const uint64_t start = StopwatchMs();
        sent = Send(pair.client, chunk.data(), chunk.size(), 4000);
        error = LastSocketError();
        took = StopwatchMs() - start;
    }
    SetTimeScale(1.0);
    done = true;
    peer.join();

    EXPECT_EQ(sent, -1);
    EXPECT_EQ(error, kWsaEtimedout);
    EXPECT_GE(took, 150u);
    EXPECT_LT(took, 1500u);
}

TEST(Win32Socket, EitherReadableNamesTheSocketWithData) {
    Listener listener;
    Pair a = Connected(listener);
    Pair b = Connected(listener);
    EXPECT_EQ(WaitEitherReadable(a.client, b.client, 100), -1);
    ASSERT_EQ(Send(b.server, "x", 1), 1);
    EXPECT_EQ(WaitEitherReadable(a.client, b.client, 2000), 1);
    char c;
    ASSERT_EQ(Receive(b.client, &c, 1, 1000), 1);
    ASSERT_EQ(Send(a.server, "y", 1), 1);
    EXPECT_EQ(WaitEitherReadable(a.client, b.client, 2000), 0);
    EnableKeepAlive(a.client); // must leave the connection usable
    ASSERT_EQ(Receive(a.client, &c, 1, 1000), 1);
    EXPECT_EQ(c, 'y');
}

TEST(Win32Socket, NamesAndAddressesResolveAsTheRunNeedsThem) {
    EXPECT_EQ(InetAddr("127.0.0.1"), kLoopback);
    EXPECT_EQ(InetAddr("192.168.10.2"), HostToNet32(0xC0A80A02));
    EXPECT_EQ(InetAddr("no address"), INADDR_NONE);
    EXPECT_EQ(InetAddr(nullptr), INADDR_NONE);

    EXPECT_EQ(ServicePortNet("ftp", "tcp", 9999), HostToNet16(21));
    EXPECT_EQ(ServicePortNet("no-such-service", "tcp", 4021), HostToNet16(4021));

    char name[256] = {};
    ASSERT_TRUE(GetLocalHostName(name, sizeof name));
    EXPECT_GT(std::string(name).size(), 0u);
    EXPECT_FALSE(GetLocalHostName(name, 0));

    const auto local = LookUpHostAddresses("localhost");
    ASSERT_TRUE(local.has_value());
    EXPECT_NE(std::find(local->begin(), local->end(), kLoopback), local->end());
}

} // namespace
