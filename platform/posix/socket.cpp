// BSD sockets behind the socket layer. errno values are turned into the Windows Sockets codes of
// the same meaning, so that the program's fixed error texts read the same as on Windows. Sends
// never raise SIGPIPE, and every wait is a poll bounded through the platform clock.

#include "platform/socket.h"

#include "platform/clock.h"
#include "platform/socket_backend.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform {
namespace {

thread_local int t_lastError = 0;

int WsaCodeForErrno(int err) {
    switch (err) {
    case 0:
        return 0;
    case EINTR:
        return kWsaEintr;
    case EBADF:
    case ENOTSOCK:
        return 10038;
    case EACCES:
    case EPERM:
        return 10013;
    case EFAULT:
        return 10014;
    case EINVAL:
        return kWsaEinval;
    case EMFILE:
    case ENFILE:
        return 10024;
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
        return kWsaEwouldblock;
    case EINPROGRESS:
        return 10036;
    case EALREADY:
        return 10037;
    case EDESTADDRREQ:
        return 10039;
    case EMSGSIZE:
        return 10040;
    case EPROTOTYPE:
        return 10041;
    case ENOPROTOOPT:
        return 10042;
    case EPROTONOSUPPORT:
        return 10043;
    case ESOCKTNOSUPPORT:
        return 10044;
    case EOPNOTSUPP:
        return 10045;
    case EPFNOSUPPORT:
        return 10046;
    case EAFNOSUPPORT:
        return 10047;
    case EADDRINUSE:
        return kWsaEaddrinuse;
    case EADDRNOTAVAIL:
        return 10049;
    case ENETDOWN:
        return 10050;
    case ENETUNREACH:
        return 10051;
    case ENETRESET:
        return 10052;
    case ECONNABORTED:
        return 10053;
    case ECONNRESET:
    case EPIPE:
        return kWsaEconnreset;
    case ENOBUFS:
    case ENOMEM:
        return 10055;
    case EISCONN:
        return 10056;
    case ENOTCONN:
        return 10057;
    case ESHUTDOWN:
        return 10058;
    case ETIMEDOUT:
        return kWsaEtimedout;
    case ECONNREFUSED:
        return kWsaEconnrefused;
    case ELOOP:
        return 10062;
    case ENAMETOOLONG:
        return 10063;
    case EHOSTDOWN:
        return 10064;
    case EHOSTUNREACH:
        return 10065;
    default: // no counterpart: the system's own number, named in its own words
        return kSystemErrorBase + err;
    }
}

int WsaCodeForAddrInfo(int result) {
    switch (result) {
    case EAI_NONAME:
        return kWsaHostNotFound;
    case EAI_AGAIN:
        return 11002;
    case EAI_FAIL:
        return 11003;
#ifdef EAI_NODATA
    case EAI_NODATA:
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY:
#endif
        return 11004;
    case EAI_MEMORY:
        return 10055;
    case EAI_SYSTEM:
        return WsaCodeForErrno(errno);
    default:
        return 11003;
    }
}

// Records errno as the thread's last socket error; returns the given failure value.
template <typename T> T FailWithErrno(T failure) {
    t_lastError = WsaCodeForErrno(errno);
    return failure;
}

int Fd(const Socket& s) {
    return int(s.Get());
}

// Polls the descriptors until one is ready or the monotonic deadline (NowMs) has passed; retries
// after signals with the time that is left. Returns poll's result (0 on time-out, -1 on failure
// with the error recorded).
int PollUntil(pollfd* fds, nfds_t count, uint64_t deadline) {
    // poll skips a negative descriptor silently; select refuses what is not a socket.
    for (nfds_t i = 0; i < count; ++i) {
        if (fds[i].fd < 0) {
            t_lastError = 10038;
            return -1;
        }
    }
    for (;;) {
        const uint64_t now = NowMs();
        const int wait = now >= deadline ? 0 : int(std::min<uint64_t>(deadline - now, INT32_MAX));
        const int ready = ::poll(fds, count, wait);
        if (ready >= 0)
            return ready;
        if (errno != EINTR)
            return FailWithErrno(-1);
    }
}

// PollUntil with a bound in protocol time.
int PollWithin(pollfd* fds, nfds_t count, uint32_t timeoutMs) {
    return PollUntil(fds, count, NowMs() + ScaledMs(timeoutMs));
}

// Waits until the socket is ready for `events` or the deadline has passed; false with the error
// recorded (kWsaEtimedout when the deadline passed).
bool ReadyBefore(const Socket& s, short events, uint64_t deadline) {
    pollfd p{Fd(s), events, 0};
    const int ready = PollUntil(&p, 1, deadline);
    if (ready == 0)
        t_lastError = kWsaEtimedout;
    return ready > 0;
}

bool ReadyForReading(const pollfd& p) {
    return (p.revents & (POLLIN | POLLHUP | POLLERR)) != 0;
}

bool SetNonBlocking(int fd, bool on) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0)
        return false;
    return ::fcntl(fd, F_SETFL, on ? flags | O_NONBLOCK : flags & ~O_NONBLOCK) == 0;
}

} // namespace

void CloseSocketHandle(SocketHandle handle) {
    ::close(int(handle));
}

int StartupSockets() {
    return 0;
}
void CleanupSockets() {}

int LastSocketError() {
    return t_lastError;
}
void SetLastSocketError(int code) {
    t_lastError = code;
}

Socket CreateTcpSocket() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0)
        return FailWithErrno(Socket());
    return Socket(fd);
}

bool Connect(const Socket& s, const SockAddrIn& to, uint32_t timeoutMs) {
    const int fd = Fd(s);
    const sockaddr_in sin = ToSockaddr<sockaddr_in>(to, AF_INET);
    // A blocking connect to a silent address would wait for the system's own, much longer bound.
    if (!SetNonBlocking(fd, true))
        return FailWithErrno(false);
    int result = ::connect(fd, reinterpret_cast<const sockaddr*>(&sin), sizeof sin);
    int err = result == 0 ? 0 : errno;
    if (result != 0 && err == EINPROGRESS) {
        pollfd p{fd, POLLOUT, 0};
        const int ready = PollWithin(&p, 1, timeoutMs);
        if (ready < 0) {
            SetNonBlocking(fd, false);
            return false;
        }
        if (ready == 0) {
            SetNonBlocking(fd, false);
            t_lastError = kWsaEtimedout;
            return false;
        }
        socklen_t len = sizeof err;
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0)
            err = errno;
    }
    SetNonBlocking(fd, false);
    if (err != 0) {
        t_lastError = WsaCodeForErrno(err);
        return false;
    }
    return true;
}

bool Bind(const Socket& s, const SockAddrIn& local) {
    const sockaddr_in sin = ToSockaddr<sockaddr_in>(local, AF_INET);
    if (::bind(Fd(s), reinterpret_cast<const sockaddr*>(&sin), sizeof sin) != 0)
        return FailWithErrno(false);
    return true;
}

bool Listen(const Socket& s) {
    if (::listen(Fd(s), SOMAXCONN) != 0)
        return FailWithErrno(false);
    return true;
}

bool GetSockName(const Socket& s, SockAddrIn& out) {
    return QueryEnd<sockaddr_in, sockaddr, socklen_t>(::getsockname, Fd(s), out) ||
           FailWithErrno(false);
}

bool GetPeerName(const Socket& s, SockAddrIn& out) {
    return QueryEnd<sockaddr_in, sockaddr, socklen_t>(::getpeername, Fd(s), out) ||
           FailWithErrno(false);
}

Socket AcceptWithin(const Socket& listening, uint32_t timeoutMs, SockAddrIn& peer) {
    pollfd p{Fd(listening), POLLIN, 0};
    const int ready = PollWithin(&p, 1, timeoutMs);
    if (ready < 0)
        return Socket();
    if (ready == 0) {
        t_lastError = kWsaEtimedout;
        return Socket();
    }
    if (p.revents & POLLNVAL) {
        t_lastError = 10038;
        return Socket();
    }
    sockaddr_in sin{};
    socklen_t len = sizeof sin;
    int fd;
    do {
        fd = ::accept4(Fd(listening), reinterpret_cast<sockaddr*>(&sin), &len, SOCK_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return FailWithErrno(Socket());
    peer = FromSockaddr(sin);
    return Socket(fd);
}

long Send(const Socket& s, const void* data, size_t length, uint32_t timeoutMs) {
    // A blocking send would wait for as long as the peer does not read; this one takes what
    // fits now and otherwise waits for room, within the bound.
    const uint64_t deadline = NowMs() + ScaledMs(timeoutMs);
    for (;;) {
        const ssize_t sent = ::send(Fd(s), data, length, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent >= 0)
            return long(sent);
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return FailWithErrno(-1L);
        if (!ReadyBefore(s, POLLOUT, deadline))
            return -1;
    }
}

long Receive(const Socket& s, void* buffer, size_t capacity, uint32_t timeoutMs) {
    if (!ReadyBefore(s, POLLIN, NowMs() + ScaledMs(timeoutMs)))
        return -1;
    for (;;) {
        const ssize_t got = ::recv(Fd(s), buffer, capacity, 0);
        if (got >= 0)
            return long(got);
        if (errno != EINTR)
            return FailWithErrno(-1L);
    }
}

int WaitReadable(const Socket& s, uint32_t timeoutMs) {
    pollfd p{Fd(s), POLLIN, 0};
    const int ready = PollWithin(&p, 1, timeoutMs);
    if (ready <= 0)
        return ready;
    if (p.revents & POLLNVAL) {
        t_lastError = 10038;
        return -1;
    }
    return 1;
}

int WaitEitherReadable(const Socket& a, const Socket& b, uint32_t timeoutMs) {
    pollfd p[2] = {{Fd(a), POLLIN, 0}, {Fd(b), POLLIN, 0}};
    const int ready = PollWithin(p, 2, timeoutMs);
    if (ready < 0)
        return -2;
    if (ready == 0)
        return -1;
    if ((p[0].revents | p[1].revents) & POLLNVAL) {
        t_lastError = 10038;
        return -2;
    }
    return ReadyForReading(p[0]) ? 0 : 1;
}

bool ShutdownBoth(const Socket& s) {
    if (::shutdown(Fd(s), SHUT_RDWR) != 0)
        return FailWithErrno(false);
    return true;
}

void EnableKeepAlive(const Socket& s) {
    // About 30 seconds in all: 10 s idle, then four probes 5 s apart.
    const int on = 1, idle = 10, interval = 5, count = 4;
    ::setsockopt(Fd(s), SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    ::setsockopt(Fd(s), IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    ::setsockopt(Fd(s), IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    ::setsockopt(Fd(s), IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
}

uint16_t ServicePortNet(const char* service, const char* protocol, uint16_t fallback) {
    servent entry{};
    servent* found = nullptr;
    char scratch[1024];
    if (::getservbyname_r(service, protocol, &entry, scratch, sizeof scratch, &found) == 0 &&
        found != nullptr)
        return uint16_t(found->s_port);
    return HostToNet16(fallback);
}

bool GetLocalHostName(char* buffer, size_t capacity) {
    if (capacity == 0) {
        t_lastError = 10014;
        return false;
    }
    if (::gethostname(buffer, capacity) != 0)
        return FailWithErrno(false);
    buffer[capacity - 1] = '\0';
    return true;
}

std::optional<std::vector<uint32_t>> LookUpHostAddresses(const char* name) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    const int result = ::getaddrinfo(name, nullptr, &hints, &list);
    if (result != 0) {
        t_lastError = WsaCodeForAddrInfo(result);
        return std::nullopt;
    }
    std::vector<uint32_t> addresses;
    for (const addrinfo* ai = list; ai != nullptr; ai = ai->ai_next) {
        const uint32_t a = reinterpret_cast<const sockaddr_in*>(ai->ai_addr)->sin_addr.s_addr;
        if (std::find(addresses.begin(), addresses.end(), a) == addresses.end())
            addresses.push_back(a);
    }
    ::freeaddrinfo(list);
    if (addresses.empty()) {
        t_lastError = 11004;
        return std::nullopt;
    }
    return addresses;
}

uint32_t InetAddr(const char* text) {
    if (text == nullptr) {
        t_lastError = 10014;
        return INADDR_NONE;
    }
    return ::inet_addr(text);
}

} // namespace platform
