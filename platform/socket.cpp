// The parts of the socket layer that are the same on every system.

#include "platform/socket.h"

#include "platform/socket_backend.h"

#include <bit>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace platform {

Socket& Socket::operator=(Socket&& other) noexcept {
    if (this != &other) {
        Close();
        m_handle = other.Release();
    }
    return *this;
}

SocketHandle Socket::Release() {
    const SocketHandle handle = m_handle;
    m_handle = kInvalidSocket;
    return handle;
}

void Socket::Close() {
    if (m_handle != kInvalidSocket)
        CloseSocketHandle(Release());
}

std::string SystemSocketErrorText(int code) {
    constexpr int kMostSystemErrors = 4096;
    if (code <= kSystemErrorBase || code >= kSystemErrorBase + kMostSystemErrors)
        return "";
    static std::mutex s_lock; // strerror's text may live in a buffer of the C library
    std::string text;
    {
        std::lock_guard lock(s_lock);
        if (const char* system = std::strerror(code - kSystemErrorBase))
            text = system;
    }
    if (text.empty())
        return "";
    return "Error : " + text + (text.back() == '.' ? "" : ".");
}

uint16_t NetToHost16(uint16_t v) {
    if constexpr (std::endian::native == std::endian::little)
        return uint16_t((v >> 8) | (v << 8));
    return v;
}

uint16_t HostToNet16(uint16_t v) {
    return NetToHost16(v);
}

uint32_t NetToHost32(uint32_t v) {
    if constexpr (std::endian::native == std::endian::little)
        return (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
    return v;
}

uint32_t HostToNet32(uint32_t v) {
    return NetToHost32(v);
}

std::string DottedAddress(uint32_t addrNet) {
    const uint32_t a = NetToHost32(addrNet);
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", (a >> 24) & 0xFF, (a >> 16) & 0xFF,
                  (a >> 8) & 0xFF, a & 0xFF);
    return text;
}

} // namespace platform
