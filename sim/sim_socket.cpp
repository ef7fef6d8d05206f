#include "sim/sim_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace sim::net {

Fd& Fd::operator=(Fd&& other) noexcept {
    if (this != &other) {
        Close();
        m_fd = other.m_fd;
        other.m_fd = -1;
    }
    return *this;
}

void Fd::Close() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

void Fd::Reset() {
    if (m_fd >= 0) {
        linger lin{1, 0};
        ::setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &lin, sizeof lin);
    }
    Close();
}

bool ParseIpv4(const std::string& text, in_addr* out) {
    return ::inet_pton(AF_INET, text.c_str(), out) == 1;
}

bool ParseAddressRange(const std::string& text, uint32_t* first, uint32_t* last) {
    const size_t dash = text.find('-');
    in_addr a{}, b{};
    if (!ParseIpv4(text.substr(0, dash), &a) ||
        (dash != std::string::npos && !ParseIpv4(text.substr(dash + 1), &b))) {
        return false;
    }
    *first = ntohl(a.s_addr);
    *last = dash == std::string::npos ? *first : ntohl(b.s_addr);
    return *first <= *last;
}

in_addr FromHostOrder(uint32_t address) {
    in_addr a{};
    a.s_addr = htonl(address);
    return a;
}

bool IsLoopback(const in_addr& addr) {
    return (ntohl(addr.s_addr) >> 24) == 127;
}

std::string AddressText(const in_addr& addr) {
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &addr, text, sizeof text);
    return text;
}

sockaddr_in MakeAddress(const in_addr& addr, uint16_t port) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr = addr;
    sa.sin_port = htons(port);
    return sa;
}

static std::string ErrnoText(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

Fd Listen(const sockaddr_in& at, std::string* error, const std::function<bool(int)>& beforeListen) {
    Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd.Valid()) {
        *error = ErrnoText("socket");
        return {};
    }
    int on = 1;
    ::setsockopt(fd.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(fd.Get(), reinterpret_cast<const sockaddr*>(&at), sizeof at) != 0) {
        *error = ErrnoText("bind");
        return {};
    }
    if (beforeListen && !beforeListen(fd.Get())) {
        *error = ErrnoText("listening socket set-up");
        return {};
    }
    if (::listen(fd.Get(), 8) != 0) {
        *error = ErrnoText("listen");
        return {};
    }
    return fd;
}

bool WaitReadable(int fd, int timeoutMs) {
    pollfd p{fd, POLLIN, 0};
    int n = ::poll(&p, 1, timeoutMs < 0 ? 0 : timeoutMs);
    return n > 0;
}

Fd AcceptNow(int listenFd) {
    return Fd(::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
}

Fd ConnectBounded(const sockaddr_in& to, const in_addr* from, int timeoutMs, std::string* error,
                  int receiveBuffer) {
    Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd.Valid()) {
        *error = ErrnoText("socket");
        return {};
    }
    // Before connecting, so that the window offered in the handshake is small too.
    if (receiveBuffer > 0) {
        ::setsockopt(fd.Get(), SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    }
    if (from) {
        sockaddr_in local = MakeAddress(*from, 0);
        if (::bind(fd.Get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
            *error = ErrnoText("bind");
            return {};
        }
    }
    if (::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
        if (errno != EINPROGRESS) {
            *error = ErrnoText("connect");
            return {};
        }
        pollfd p{fd.Get(), POLLOUT, 0};
        if (::poll(&p, 1, timeoutMs) <= 0) {
            *error = "connect: timed out";
            return {};
        }
        int soError = 0;
        socklen_t len = sizeof soError;
        ::getsockopt(fd.Get(), SOL_SOCKET, SO_ERROR, &soError, &len);
        if (soError != 0) {
            *error = std::string("connect: ") + std::strerror(soError);
            return {};
        }
    }
    return fd;
}

bool SendAll(int fd, const void* data, size_t length, int timeoutMs) {
    const auto* p = static_cast<const char*>(data);
    while (length > 0) {
        ssize_t n = ::send(fd, p, length, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            p += n;
            length -= static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            return false;
        }
        pollfd w{fd, POLLOUT, 0};
        if (::poll(&w, 1, timeoutMs) <= 0) {
            return false;
        }
    }
    return true;
}

long ReceiveSome(int fd, void* buffer, size_t capacity) {
    for (;;) {
        ssize_t n = ::recv(fd, buffer, capacity, MSG_DONTWAIT);
        if (n >= 0) {
            return n;
        }
        if (errno == EINTR) {
            continue;
        }
        // Nothing there after all: report it as an empty wait, not as the end.
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            errno = EAGAIN;
        }
        return -1;
    }
}

bool PeerAddress(int fd, in_addr* out) {
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&sa), &len) != 0) {
        return false;
    }
    *out = sa.sin_addr;
    return true;
}

void SetNoDelay(int fd) {
    int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

} // namespace sim::net
