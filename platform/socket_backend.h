#pragma once
// What each socket backend (posix/, win32/) provides to the portable socket code, and the
// address conversion that both backends share.

#include "platform/socket.h"

#include <cstring>

namespace platform {

// Closes a socket handle of this backend (close / closesocket). The handle is valid.
void CloseSocketHandle(SocketHandle handle);

// Each backend's Receive calls this once the socket is readable, before it reads.
void WaitReceiveLag();

// Our address as the system's IPv4 address record and back. Both systems name that record
// sockaddr_in with the same fields; the backend names the type and its family (AF_INET). The
// address is copied as its four bytes: Windows spells s_addr as a macro of its own header.
template <typename SystemAddr> SystemAddr ToSockaddr(const SockAddrIn& a, int family) {
    SystemAddr sin{};
    static_assert(sizeof sin.sin_addr == sizeof a.addrNet);
    sin.sin_family = static_cast<decltype(sin.sin_family)>(family);
    std::memcpy(&sin.sin_addr, &a.addrNet, sizeof a.addrNet);
    sin.sin_port = a.portNet;
    return sin;
}

template <typename SystemAddr> SockAddrIn FromSockaddr(const SystemAddr& sin) {
    SockAddrIn a;
    std::memcpy(&a.addrNet, &sin.sin_addr, sizeof a.addrNet);
    a.portNet = sin.sin_port;
    return a;
}

// One end of a connection, ours or the peer's, as the system's `query` (getsockname or
// getpeername) tells it of `handle`: the backend names the system's address records, the
// generic one among them, and the type it counts their size in. False when the system says no,
// its error left where the system keeps it.
template <typename SystemAddr, typename SystemGenericAddr, typename Length, typename Query,
          typename Handle>
bool QueryEnd(Query query, Handle handle, SockAddrIn& out) {
    SystemAddr sin{};
    Length len = sizeof sin;
    if (query(handle, reinterpret_cast<SystemGenericAddr*>(&sin), &len) != 0)
        return false;
    out = FromSockaddr(sin);
    return true;
}

} // namespace platform
