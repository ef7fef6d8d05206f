#pragma once
// A thin layer over Winsock and BSD sockets. Every failure leaves a Windows Sockets error code
// (10004 ... 11004, see files/socket_error_text.h) that LastSocketError() returns; on POSIX the
// errno values are mapped onto those codes by meaning, so the fixed error texts read the same on
// both systems. All addresses and ports are IPv4; "net" values are in network byte order.
// Every wait takes a bound in protocol milliseconds that goes through the platform clock.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

using SocketHandle = intptr_t;
constexpr SocketHandle kInvalidSocket = -1;

// Windows Sockets codes used by name in the program's own logic.
enum : int {
    kWsaEintr = 10004,
    kWsaEwouldblock = 10035,
    kWsaEinval = 10022,
    kWsaEaddrinuse = 10048,
    kWsaEconnreset = 10054,
    kWsaEtimedout = 10060,
    kWsaEconnrefused = 10061,
    kWsaHostNotFound = 11001,
};

// A system error that has no Windows Sockets code of its own is kept as this base plus the
// system's number (only the POSIX backend makes such codes): its text is the system's own.
constexpr int kSystemErrorBase = 0x20000;
// "Error : Input/output error." for such a code, else empty.
std::string SystemSocketErrorText(int code);

struct SockAddrIn {
    uint32_t addrNet = 0; // IPv4 address, network byte order
    uint16_t portNet = 0; // port, network byte order
};

// Owns one socket; closes it when destroyed.
class Socket {
  public:
    Socket() = default;
    explicit Socket(SocketHandle handle) : m_handle(handle) {}
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    Socket(Socket&& other) noexcept : m_handle(other.Release()) {}
    Socket& operator=(Socket&& other) noexcept;
    ~Socket() { Close(); }

    SocketHandle Get() const { return m_handle; }
    bool IsValid() const { return m_handle != kInvalidSocket; }
    SocketHandle Release();
    void Close();

  private:
    SocketHandle m_handle = kInvalidSocket;
};

// Starts and stops the socket library (WSAStartup 2.0 / WSACleanup; nothing on POSIX).
// StartupSockets returns 0 or the Windows Sockets error code.
int StartupSockets();
void CleanupSockets();

// The calling thread's last socket error, as a Windows Sockets code (0 when none).
int LastSocketError();
// Sets the calling thread's last socket error (used when the layer detects a time-out itself).
void SetLastSocketError(int code);

// A new IPv4 TCP socket, or an invalid one (error in LastSocketError()).
Socket CreateTcpSocket();

// Connects, waiting at most timeoutMs (protocol time). false: error in LastSocketError()
// (kWsaEtimedout when the bound passed).
bool Connect(const Socket& s, const SockAddrIn& to, uint32_t timeoutMs);
bool Bind(const Socket& s, const SockAddrIn& local);
bool Listen(const Socket& s);
bool GetSockName(const Socket& s, SockAddrIn& out);
bool GetPeerName(const Socket& s, SockAddrIn& out);
// Waits at most timeoutMs for a connection. Returns an invalid socket on failure, with
// kWsaEtimedout when the bound passed. peer receives the caller's address.
Socket AcceptWithin(const Socket& listening, uint32_t timeoutMs, SockAddrIn& peer);

// How long a send waits, unless told otherwise, for the peer to take a byte.
constexpr uint32_t kSendWaitMs = 60 * 1000;
// Hands over what the connection takes now, waiting at most timeoutMs (protocol time) for room
// for a first byte; returns the count handed over (possibly fewer than length) or -1 (error in
// LastSocketError(), kWsaEtimedout when the peer took nothing within the bound).
long Send(const Socket& s, const void* data, size_t length, uint32_t timeoutMs = kSendWaitMs);
// One receive of at most capacity bytes, waiting at most timeoutMs; returns the count received,
// 0 when the peer closed the connection, -1 on failure (kWsaEtimedout when the bound passed).
long Receive(const Socket& s, void* buffer, size_t capacity, uint32_t timeoutMs);
// Waits at most timeoutMs for the socket to become readable (data or end of connection):
// 1 readable, 0 time-out, -1 failure.
int WaitReadable(const Socket& s, uint32_t timeoutMs);
// Waits at most timeoutMs for either socket to become readable; returns the readable one's index
// (0 or 1), -1 on time-out, -2 on failure.
int WaitEitherReadable(const Socket& a, const Socket& b, uint32_t timeoutMs);
bool ShutdownBoth(const Socket& s);
// TCP keepalive so that a vanished peer is noticed within about 30 seconds.
void EnableKeepAlive(const Socket& s);

// Port of a service from the services database, network byte order; fallback (host order) when
// the database has no entry.
uint16_t ServicePortNet(const char* service, const char* protocol, uint16_t fallback);

// gethostname; false on failure.
bool GetLocalHostName(char* buffer, size_t capacity);
// gethostbyname: the IPv4 addresses of a host, network byte order; nullopt on failure.
std::optional<std::vector<uint32_t>> LookUpHostAddresses(const char* name);
// inet_addr; INADDR_NONE (0xFFFFFFFF) when the text is not a dotted IPv4 address. Sets
// LastSocketError() on failure as the platform does (it may stay 0).
uint32_t InetAddr(const char* text);

// Formats an address in network byte order as a dotted text.
std::string DottedAddress(uint32_t addrNet);
// Converts between network and host byte order.
uint16_t NetToHost16(uint16_t v);
uint16_t HostToNet16(uint16_t v);
uint32_t NetToHost32(uint32_t v);
uint32_t HostToNet32(uint32_t v);

} // namespace platform
