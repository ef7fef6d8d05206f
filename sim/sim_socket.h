#pragma once
// Bounded POSIX socket helpers for the simulated unit. Every call that could block takes a
// time limit, so that no thread of the unit can hang on a peer.

#include <netinet/in.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace sim::net {

// Owns one file descriptor.
class Fd {
  public:
    Fd() = default;
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd() { Close(); }
    Fd(Fd&& other) noexcept : m_fd(other.m_fd) { other.m_fd = -1; }
    Fd& operator=(Fd&& other) noexcept;
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;

    int Get() const { return m_fd; }
    bool Valid() const { return m_fd >= 0; }
    void Close();
    // Closes with a reset instead of an orderly end, so the peer sees the connection refused.
    void Reset();

  private:
    int m_fd = -1;
};

// Parses a dotted IPv4 address; false when it is not one.
bool ParseIpv4(const std::string& text, in_addr* out);
bool IsLoopback(const in_addr& addr);
// "A" or "A-B" (dotted IPv4, A <= B) as the first and last address in host order.
bool ParseAddressRange(const std::string& text, uint32_t* first, uint32_t* last);
in_addr FromHostOrder(uint32_t address);
std::string AddressText(const in_addr& addr);
sockaddr_in MakeAddress(const in_addr& addr, uint16_t port);

// A listening socket on address:port; an invalid Fd and a reason on failure. `beforeListen`
// may set the socket up between bind and listen (false fails the call).
Fd Listen(const sockaddr_in& at, std::string* error,
          const std::function<bool(int)>& beforeListen = {});

// Waits until fd is readable (or closed by the peer); false after timeoutMs.
bool WaitReadable(int fd, int timeoutMs);

// Accepts one pending connection (call after WaitReadable on the listener).
Fd AcceptNow(int listenFd);

// Connects within timeoutMs, optionally from a given local address (port chosen by the system)
// and with a receive buffer of `receiveBuffer` bytes (0: the system's choice).
Fd ConnectBounded(const sockaddr_in& to, const in_addr* from, int timeoutMs, std::string* error,
                  int receiveBuffer = 0);

// Sends every byte unless the peer stops taking them for timeoutMs.
bool SendAll(int fd, const void* data, size_t length, int timeoutMs);

// One receive of at most `capacity` bytes: >0 bytes read, 0 the peer closed, -1 an error.
long ReceiveSome(int fd, void* buffer, size_t capacity);

// The peer's IPv4 address of a connected socket.
bool PeerAddress(int fd, in_addr* out);

// Sends segments of a reply separately (no coalescing by the system).
void SetNoDelay(int fd);

} // namespace sim::net
