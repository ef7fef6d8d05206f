// Process services on Linux: the instance lock is an abstract local socket (the kernel frees the
// name when the process ends, however it ends), and the neighbour-table clean-up is "ip neigh
// flush to <address>", started without a shell, silenced, by the helper of spawner.h.

#include "platform/process.h"

#include "platform/posix/spawner.h"

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace platform {

SingleInstanceLock::Result SingleInstanceLock::Acquire(const char* name) {
    Release();
    m_failure.clear();
    const auto failed = [this](int err) {
        char text[256];
        m_failure = ::strerror_r(err, text, sizeof text); // the GNU variant: its own text
        return Result::Failed;
    };
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    // An abstract name starts with a zero byte and is not a file.
    const size_t length = std::strlen(name);
    if (length == 0 || length + 1 > sizeof addr.sun_path)
        return failed(ENAMETOOLONG);
    std::memcpy(addr.sun_path + 1, name, length);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return failed(errno);
    const socklen_t size = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + length);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&addr), size) != 0) {
        const int err = errno;
        ::close(fd);
        return err == EADDRINUSE ? Result::AlreadyExists : failed(err);
    }
    m_handle = fd;
    return Result::Acquired;
}

void SingleInstanceLock::Release() {
    if (m_handle >= 0) {
        ::close(int(m_handle));
        m_handle = -1;
    }
}

std::thread StartThread(std::function<void()> body) {
    return std::thread(std::move(body));
}

void PrepareChildProcesses() {
    posix::StartSpawner();
}

void StartArpCleanup(const std::string& addressText) {
    const std::string ip = posix::FindInPath("ip");
    if (ip.empty())
        return; // no "ip" on this system: nothing to clean up with
    // The address is one argument of its own: no shell ever reads it.
    posix::SpawnDetached(ip, {"ip", "neigh", "flush", "to", addressText});
}

} // namespace platform
