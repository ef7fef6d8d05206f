// Process services on Linux: the instance lock is an abstract local socket (the kernel frees the
// name when the process ends, however it ends), and the neighbour-table clean-up is "ip neigh
// flush to <address>", started without a shell, silenced, and reaped by a detached waiter.

#include "platform/process.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace platform {

SingleInstanceLock::Result SingleInstanceLock::Acquire(const char* name) {
    Release();
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    // An abstract name starts with a zero byte and is not a file.
    const size_t length = std::strlen(name);
    if (length == 0 || length + 1 > sizeof addr.sun_path)
        return Result::Failed;
    std::memcpy(addr.sun_path + 1, name, length);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return Result::Failed;
    const socklen_t size = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + length);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&addr), size) != 0) {
        const int err = errno;
        ::close(fd);
        return err == EADDRINUSE ? Result::AlreadyExists : Result::Failed;
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

void StartArpCleanup(const std::string& addressText) {
    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0)
        return;
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    // The address is one argument of its own: no shell ever reads it.
    std::string address = addressText;
    char ip[] = "ip", neigh[] = "neigh", flush[] = "flush", to[] = "to";
    char* argv[] = {ip, neigh, flush, to, address.data(), nullptr};
    pid_t pid = -1;
    const int result = ::posix_spawnp(&pid, "ip", &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (result != 0 || pid <= 0)
        return; // no "ip" on this system: nothing to clean up with
    std::thread([pid] {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
}

} // namespace platform
