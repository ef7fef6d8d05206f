// Winsock 2 behind the socket layer. WSAGetLastError already speaks the Windows Sockets codes the
// program's error texts are keyed by. Every wait is a select bounded through the platform clock;
// a connect is made non-blocking for its wait so that a silent address cannot hold it for the
// system's own, much longer bound.

#include "platform/socket.h"

#include "platform/clock.h"
#include "platform/socket_backend.h"

#include <winsock2.h>

#include <mstcpip.h>
#include <windows.h>

#include <algorithm>

namespace platform {
namespace {

SOCKET Sock(const Socket& s) {
    return static_cast<SOCKET>(s.Get());
}

timeval TimevalOf(uint32_t realMs) {
    timeval tv{};
    tv.tv_sec = long(realMs / 1000);
    tv.tv_usec = long((realMs % 1000) * 1000);
    return tv;
}

// Waits until one of the sockets is ready in the way asked for, or the protocol-time bound has
// passed. Returns select's result: the count of ready sockets, 0 on time-out, SOCKET_ERROR on
// failure (the error stays in WSAGetLastError).
int SelectWithin(fd_set* readable, fd_set* writable, fd_set* failed, uint32_t timeoutMs) {
    timeval tv = TimevalOf(ScaledMs(timeoutMs));
    return ::select(0, readable, writable, failed, &tv);
}

bool SetNonBlocking(SOCKET s, bool on) {
    u_long mode = on ? 1 : 0;
    return ::ioctlsocket(s, FIONBIO, &mode) == 0;
}

// Waits for the outcome of a non-blocking connect: true when connected; false with the error
// (kWsaEtimedout when the bound passed) in WSAGetLastError.
bool WaitConnected(SOCKET s, uint32_t timeoutMs) {
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(s, &writable);
    FD_SET(s, &failed);
    const int ready = SelectWithin(nullptr, &writable, &failed, timeoutMs);
    if (ready == SOCKET_ERROR)
        return false;
    if (ready == 0) {
        ::WSASetLastError(kWsaEtimedout);
        return false;
    }
    int err = 0;
    int len = sizeof err;
    if (::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len) != 0)
        return false;
    if (err == 0 && FD_ISSET(s, &failed))
        err = kWsaEconnrefused;
    if (err != 0) {
        ::WSASetLastError(err);
        return false;
    }
    return true;
}

// 1 readable, 0 time-out, -1 failure.
int WaitOneReadable(SOCKET s, uint32_t timeoutMs) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(s, &readable);
    const int ready = SelectWithin(&readable, nullptr, nullptr, timeoutMs);
    if (ready == SOCKET_ERROR)
        return -1;
    return ready > 0 ? 1 : 0;
}

} // namespace

void CloseSocketHandle(SocketHandle handle) {
    ::closesocket(static_cast<SOCKET>(handle));
}

int StartupSockets() {
    WSADATA data;
    return ::WSAStartup(MAKEWORD(2, 0), &data);
}

void CleanupSockets() {
    ::WSACleanup();
}

int LastSocketError() {
    return ::WSAGetLastError();
}
void SetLastSocketError(int code) {
    ::WSASetLastError(code);
}

Socket CreateTcpSocket() {
    const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET)
        return Socket();
    // The hidden command interpreter that the run starts must not keep our connections open.
    ::SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    return Socket(static_cast<SocketHandle>(s));
}

bool Connect(const Socket& s, const SockAddrIn& to, uint32_t timeoutMs) {
    const SOCKET sock = Sock(s);
    const sockaddr_in sin = ToSockaddr<sockaddr_in>(to, AF_INET);
    if (!SetNonBlocking(sock, true))
        return false;
    bool connected = ::connect(sock, reinterpret_cast<const sockaddr*>(&sin), sizeof sin) == 0 ||
                     (::WSAGetLastError() == kWsaEwouldblock && WaitConnected(sock, timeoutMs));
    // Switching back must not overwrite the error the caller is about to read.
    const int err = ::WSAGetLastError();
    SetNonBlocking(sock, false);
    ::WSASetLastError(connected ? 0 : err);
    return connected;
}

bool Bind(const Socket& s, const SockAddrIn& local) {
    const sockaddr_in sin = ToSockaddr<sockaddr_in>(local, AF_INET);
    return ::bind(Sock(s), reinterpret_cast<const sockaddr*>(&sin), sizeof sin) == 0;
}

bool Listen(const Socket& s) {
    return ::listen(Sock(s), SOMAXCONN) == 0;
}

bool GetSockName(const Socket& s, SockAddrIn& out) {
    return QueryEnd<sockaddr_in, sockaddr, int>(::getsockname, Sock(s), out);
}

bool GetPeerName(const Socket& s, SockAddrIn& out) {
    return QueryEnd<sockaddr_in, sockaddr, int>(::getpeername, Sock(s), out);
}

Socket AcceptWithin(const Socket& listening, uint32_t timeoutMs, SockAddrIn& peer) {
    const int ready = WaitOneReadable(Sock(listening), timeoutMs);
    if (ready < 0)
        return Socket();
    if (ready == 0) {
        ::WSASetLastError(kWsaEtimedout);
        return Socket();
    }
    sockaddr_in sin{};
    int len = sizeof sin;
    const SOCKET accepted = ::accept(Sock(listening), reinterpret_cast<sockaddr*>(&sin), &len);
    if (accepted == INVALID_SOCKET)
        return Socket();
    ::SetHandleInformation(reinterpret_cast<HANDLE>(accepted), HANDLE_FLAG_INHERIT, 0);
    peer = FromSockaddr(sin);
    return Socket(static_cast<SocketHandle>(accepted));
}

long Send(const Socket& s, const void* data, size_t length, uint32_t timeoutMs) {
    // A blocking send would wait for as long as the peer does not read; this one waits for room
    // within the bound and then, non-blocking for the one call, hands over what fits.
    const SOCKET sock = Sock(s);
    const int count = int(std::min<size_t>(length, INT32_MAX));
    const uint64_t deadline = NowMs() + ScaledMs(timeoutMs);
    for (;;) {
        fd_set writable;
        FD_ZERO(&writable);
        FD_SET(sock, &writable);
        const uint64_t now = NowMs();
        timeval tv = TimevalOf(
            now >= deadline ? 0 : uint32_t(std::min<uint64_t>(deadline - now, UINT32_MAX)));
        const int ready = ::select(0, nullptr, &writable, nullptr, &tv);
        if (ready == SOCKET_ERROR)
            return -1;
        if (ready == 0) {
            ::WSASetLastError(kWsaEtimedout);
            return -1;
        }
        if (!SetNonBlocking(sock, true))
            return -1;
        const int sent = ::send(sock, static_cast<const char*>(data), count, 0);
        // Switching back must not overwrite the error the caller is about to read.
        const int err = ::WSAGetLastError();
        SetNonBlocking(sock, false);
        if (sent != SOCKET_ERROR)
            return long(sent);
        ::WSASetLastError(err);
        if (err != kWsaEwouldblock)
            return -1;
    }
}

long Receive(const Socket& s, void* buffer, size_t capacity, uint32_t timeoutMs) {
    const int ready = WaitOneReadable(Sock(s), timeoutMs);
    if (ready < 0)
        return -1;
    if (ready == 0) {
        ::WSASetLastError(kWsaEtimedout);
        return -1;
    }
    WaitReceiveLag();
    const int count = int(std::min<size_t>(capacity, INT32_MAX));
    const int got = ::recv(Sock(s), static_cast<char*>(buffer), count, 0);
    return got == SOCKET_ERROR ? -1L : long(got);
}

int WaitReadable(const Socket& s, uint32_t timeoutMs) {
    return WaitOneReadable(Sock(s), timeoutMs);
}

int WaitEitherReadable(const Socket& a, const Socket& b, uint32_t timeoutMs) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(Sock(a), &readable);
    FD_SET(Sock(b), &readable);
    const int ready = SelectWithin(&readable, nullptr, nullptr, timeoutMs);
    if (ready == SOCKET_ERROR)
        return -2;
    if (ready == 0)
        return -1;
    return FD_ISSET(Sock(a), &readable) ? 0 : 1;
}

bool ShutdownBoth(const Socket& s) {
    return ::shutdown(Sock(s), SD_BOTH) == 0;
}

void EnableKeepAlive(const Socket& s) {
    const BOOL on = TRUE;
    ::setsockopt(Sock(s), SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<const char*>(&on), sizeof on);
    // About 30 seconds in all: 10 s idle, then the system's ten probes 2 s apart. Where the
    // system does not take these values, the plain keepalive above still holds.
    tcp_keepalive values{1, 10000, 2000};
    DWORD returned = 0;
    ::WSAIoctl(Sock(s), SIO_KEEPALIVE_VALS, &values, sizeof values, nullptr, 0, &returned, nullptr,
               nullptr);
}

uint16_t ServicePortNet(const char* service, const char* protocol, uint16_t fallback) {
    const servent* entry = ::getservbyname(service, protocol);
    if (entry != nullptr)
        return uint16_t(entry->s_port);
    return HostToNet16(fallback);
}

bool GetLocalHostName(char* buffer, size_t capacity) {
    if (capacity == 0) {
        ::WSASetLastError(WSAEFAULT);
        return false;
    }
    if (::gethostname(buffer, int(std::min<size_t>(capacity, INT32_MAX))) != 0)
        return false;
    buffer[capacity - 1] = '\0';
    return true;
}

std::optional<std::vector<uint32_t>> LookUpHostAddresses(const char* name) {
    const hostent* host = ::gethostbyname(name);
    if (host == nullptr)
        return std::nullopt;
    std::vector<uint32_t> addresses;
    if (host->h_addrtype == AF_INET && host->h_length == 4) {
        for (char** entry = host->h_addr_list; *entry != nullptr; ++entry) {
            uint32_t a;
            std::copy_n(*entry, 4, reinterpret_cast<char*>(&a));
            if (std::find(addresses.begin(), addresses.end(), a) == addresses.end())
                addresses.push_back(a);
        }
    }
    if (addresses.empty()) {
        ::WSASetLastError(WSANO_DATA);
        return std::nullopt;
    }
    return addresses;
}

uint32_t InetAddr(const char* text) {
    if (text == nullptr) {
        ::WSASetLastError(WSAEFAULT);
        return INADDR_NONE;
    }
    return ::inet_addr(text);
}

} // namespace platform
