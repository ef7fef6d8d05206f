// The socket layer on real loopback connections (127.0.0.10 to 127.0.0.19, ports the system
// picks): the Windows Sockets codes that failures leave, the bounded waits, and the plain helpers.

#include "platform/clock.h"
#include "platform/socket.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>

using namespace platform;

namespace {

SockAddrIn Loopback(uint8_t last, uint16_t port = 0) {
    return {HostToNet32(0x7F000000u | last), HostToNet16(port)};
}

// A listening socket on 127.0.0.<last> at a port the system picks.
Socket Listener(uint8_t last, SockAddrIn& where) {
    Socket s = CreateTcpSocket();
    EXPECT_TRUE(s.IsValid());
    EXPECT_TRUE(Bind(s, Loopback(last)));
    EXPECT_TRUE(Listen(s));
    EXPECT_TRUE(GetSockName(s, where));
    return s;
}

struct Pair {
    Socket client, server;
};

Pair Connected(uint8_t last) {
    SockAddrIn where;
    Socket listening = Listener(last, where);
    Pair p;
    p.client = CreateTcpSocket();
    EXPECT_TRUE(Connect(p.client, where, 2000));
    SockAddrIn peer;
    p.server = AcceptWithin(listening, 2000, peer);
    EXPECT_TRUE(p.server.IsValid());
    return p;
}

class SocketTest : public ::testing::Test {
  protected:
    void TearDown() override { SetTimeScale(1.0); }
};

TEST_F(SocketTest, ConnectionCarriesBytesBothWaysAndNamesItsEnds) {
    SockAddrIn where;
    Socket listening = Listener(10, where);
    EXPECT_EQ(DottedAddress(where.addrNet), "127.0.0.10");
    EXPECT_NE(where.portNet, 0);

    Socket client = CreateTcpSocket();
    ASSERT_TRUE(Connect(client, where, 2000));
    SockAddrIn peer;
    Socket server = AcceptWithin(listening, 2000, peer);
    ASSERT_TRUE(server.IsValid());

    SockAddrIn clientLocal, serverSeenByClient;
    ASSERT_TRUE(GetSockName(client, clientLocal));
    ASSERT_TRUE(GetPeerName(client, serverSeenByClient));
    EXPECT_EQ(peer.addrNet, clientLocal.addrNet);
    EXPECT_EQ(peer.portNet, clientLocal.portNet);
    EXPECT_EQ(serverSeenByClient.portNet, where.portNet);

    const char greeting[] = "220 ready\r\n";
    EXPECT_EQ(Send(server, greeting, 11), 11);
    char buffer[64] = {};
    EXPECT_EQ(Receive(client, buffer, sizeof buffer, 2000), 11);
    EXPECT_STREQ(buffer, greeting);
    EXPECT_EQ(Send(client, "QUIT\r\n", 6), 6);
    EXPECT_EQ(Receive(server, buffer, 3, 2000), 3); // no more than asked for
    EXPECT_EQ(std::string(buffer, 3), "QUI");
}

TEST_F(SocketTest, RefusedConnectionGivesConnectionRefused) {
    // A bound socket that does not listen answers a connection attempt with a reset.
    Socket closedPort = CreateTcpSocket();
    ASSERT_TRUE(Bind(closedPort, Loopback(11)));
    SockAddrIn where;
    ASSERT_TRUE(GetSockName(closedPort, where));

    Socket client = CreateTcpSocket();
    SetLastSocketError(0);
    EXPECT_FALSE(Connect(client, where, 2000));
    EXPECT_EQ(LastSocketError(), kWsaEconnrefused);
}

TEST_F(SocketTest, ConnectToAFullListenerTimesOutWithinTheScaledBound) {
    // A listener with a backlog of one that nobody accepts from drops further attempts.
    Socket listening = CreateTcpSocket();
    ASSERT_TRUE(Bind(listening, Loopback(12)));
    ASSERT_EQ(::listen(int(listening.Get()), 0), 0);
    SockAddrIn where;
    ASSERT_TRUE(GetSockName(listening, where));
    std::vector<Socket> fillers;
    for (int i = 0; i < 3; ++i) {
        fillers.push_back(CreateTcpSocket());
        Connect(fillers.back(), where, 100);
    }

    SetTimeScale(0.05);
    Socket client = CreateTcpSocket();
    const uint64_t start = NowMs();
    EXPECT_FALSE(Connect(client, where, 4000));
    const uint64_t took = NowMs() - start;
    EXPECT_EQ(LastSocketError(), kWsaEtimedout);
    EXPECT_GE(took, 190u);
    EXPECT_LT(took, 2000u);
}

TEST_F(SocketTest, AcceptAndReceiveTimeOutWithTimedOut) {
    SockAddrIn where;
    Socket listening = Listener(13, where);
    SockAddrIn peer;
    uint64_t start = NowMs();
    Socket nobody = AcceptWithin(listening, 150, peer);
    EXPECT_FALSE(nobody.IsValid());
    EXPECT_EQ(LastSocketError(), kWsaEtimedout);
    EXPECT_GE(NowMs() - start, 140u);

    Pair p = Connected(13);
    char buffer[16];
    SetLastSocketError(0);
    start = NowMs();
    EXPECT_EQ(Receive(p.client, buffer, sizeof buffer, 150), -1);
    EXPECT_EQ(LastSocketError(), kWsaEtimedout);
    EXPECT_GE(NowMs() - start, 140u);
}

TEST_F(SocketTest, PeerThatClosesIsReadableAtOnceAndReceivesZero) {
    Pair p = Connected(14);
    p.server.Close();
    EXPECT_FALSE(p.server.IsValid());

    const uint64_t start = NowMs();
    EXPECT_EQ(WaitReadable(p.client, 2000), 1);
    EXPECT_LT(NowMs() - start, 500u);
    char buffer[16];
    EXPECT_EQ(Receive(p.client, buffer, sizeof buffer, 2000), 0);
}

TEST_F(SocketTest, WaitsReportTimeOutAndTheReadableSide) {
    Pair a = Connected(15);
    Pair b = Connected(15);
    SetTimeScale(0.05);
    uint64_t start = NowMs();
    EXPECT_EQ(WaitReadable(a.client, 2000), 0); // 100 ms real
    EXPECT_GE(NowMs() - start, 95u);
    start = NowMs();
    EXPECT_EQ(WaitEitherReadable(a.client, b.client, 2000), -1);
    EXPECT_GE(NowMs() - start, 95u);

    ASSERT_EQ(Send(b.server, "x", 1), 1);
    EXPECT_EQ(WaitEitherReadable(a.client, b.client, 2000), 1);
    ASSERT_EQ(Send(a.server, "y", 1), 1);
    EXPECT_EQ(WaitEitherReadable(a.client, b.client, 2000), 0);
}

TEST_F(SocketTest, SendingToAResetConnectionFailsWithoutASignal) {
    Pair p = Connected(16);
    // Closing with a zero linger time resets the connection instead of ending it.
    linger hard{1, 0};
    ASSERT_EQ(::setsockopt(int(p.server.Get()), SOL_SOCKET, SO_LINGER, &hard, sizeof hard), 0);
    p.server.Close();
    ASSERT_EQ(WaitReadable(p.client, 2000), 1);

    const std::string data(4096, 'd');
    long result = 0;
    for (int i = 0; i < 5 && result >= 0; ++i)
        result = Send(p.client, data.data(), data.size());
    EXPECT_EQ(result, -1);
    EXPECT_EQ(LastSocketError(), kWsaEconnreset); // and the process is still here
}

TEST_F(SocketTest, FailuresOfTheLocalEndKeepTheirMeaning) {
    SockAddrIn where;
    Socket first = Listener(17, where);
    Socket second = CreateTcpSocket();
    EXPECT_FALSE(Bind(second, where));
    EXPECT_EQ(LastSocketError(), kWsaEaddrinuse);

    Socket none;
    EXPECT_EQ(Send(none, "x", 1), -1);
    EXPECT_EQ(LastSocketError(), 10038); // not a socket
    SetLastSocketError(0);
    const uint64_t start = NowMs();
    EXPECT_EQ(WaitReadable(none, 2000), -1); // at once, not after the bound
    EXPECT_EQ(LastSocketError(), 10038);
    EXPECT_EQ(WaitEitherReadable(first, none, 2000), -2);
    char buffer[4];
    EXPECT_EQ(Receive(none, buffer, sizeof buffer, 2000), -1);
    EXPECT_LT(NowMs() - start, 500u);
    Pair p = Connected(17);
    EXPECT_TRUE(ShutdownBoth(p.client));
    EXPECT_EQ(Send(p.client, "x", 1), -1);
    Socket fresh = CreateTcpSocket();
    EXPECT_FALSE(ShutdownBoth(fresh));
    EXPECT_EQ(LastSocketError(), 10057); // not connected
}

TEST_F(SocketTest, LastErrorBelongsToTheCallingThread) {
    SetLastSocketError(kWsaEconnrefused);
    int seenByOther = -1;
    std::thread([&] { seenByOther = LastSocketError(); }).join();
    EXPECT_EQ(seenByOther, 0);
    EXPECT_EQ(LastSocketError(), kWsaEconnrefused);
}

TEST_F(SocketTest, SocketOwnsItsHandleUntilMovedOrReleased) {
    Socket a = CreateTcpSocket();
    const SocketHandle h = a.Get();
    Socket b = std::move(a);
    EXPECT_FALSE(a.IsValid());
    EXPECT_EQ(b.Get(), h);
    b = CreateTcpSocket(); // closes the first handle
    EXPECT_EQ(::fcntl(int(h), F_GETFD), -1);
    const SocketHandle kept = b.Release();
    EXPECT_FALSE(b.IsValid());
    EXPECT_NE(::fcntl(int(kept), F_GETFD), -1);
    ::close(int(kept));
}

TEST(SocketNames, InetAddrReadsDottedNumbersOnly) {
    EXPECT_EQ(InetAddr("127.0.0.18"), HostToNet32(0x7F000012u));
    EXPECT_EQ(InetAddr("300.1.1.1"), 0xFFFFFFFFu);
    EXPECT_EQ(InetAddr("1.2.3.x"), 0xFFFFFFFFu);
    EXPECT_EQ(InetAddr("unit"), 0xFFFFFFFFu);
    EXPECT_EQ(InetAddr(""), 0xFFFFFFFFu);
    // The classic reader takes a leading zero as an octal number.
    EXPECT_EQ(InetAddr("127.0.0.010"), HostToNet32(0x7F000008u));
}

TEST(SocketNames, HostLookUpAndServices) {
    char name[256];
    ASSERT_TRUE(GetLocalHostName(name, sizeof name));
    EXPECT_GT(std::strlen(name), 0u);

    const auto literal = LookUpHostAddresses("127.0.0.19");
    ASSERT_TRUE(literal.has_value());
    EXPECT_EQ(literal->front(), HostToNet32(0x7F000013u));
    const auto local = LookUpHostAddresses("localhost");
    ASSERT_TRUE(local.has_value());
    EXPECT_NE(std::find(local->begin(), local->end(), HostToNet32(0x7F000001u)), local->end());

    EXPECT_EQ(ServicePortNet("kq-no-such-service", "tcp", 2121), HostToNet16(2121));
}

TEST(SocketNames, ByteOrderAndDottedText) {
    const uint32_t net = HostToNet32(0xC0A80A02u);
    const auto* bytes = reinterpret_cast<const uint8_t*>(&net);
    EXPECT_EQ(bytes[0], 192);
    EXPECT_EQ(bytes[3], 2);
    EXPECT_EQ(NetToHost32(net), 0xC0A80A02u);
    EXPECT_EQ(NetToHost16(HostToNet16(0x1234)), 0x1234);
    EXPECT_EQ(HostToNet16(21), htons(21));
    EXPECT_EQ(DottedAddress(net), "192.168.10.2");
    EXPECT_EQ(DottedAddress(0xFFFFFFFFu), "255.255.255.255");
}

} // namespace
