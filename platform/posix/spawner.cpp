#include "platform/posix/spawner.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace platform::posix {
namespace {

constexpr size_t kMaxRequest = 4096; // one command: the path and its arguments, each ended by 0
constexpr size_t kMaxArguments = 32;
constexpr int kHelperSocket = 3; // where the helper keeps its end, so all above it can go
constexpr int kShieldedSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

std::mutex g_mutex;
int g_socket = -1; // this process's end of the helper's socket

void SetDisposition(int signal, void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    ::sigaction(signal, &action, nullptr);
}

void CloseFrom(int first) {
    if (::syscall(SYS_close_range, unsigned(first), ~0U, 0U) == 0)
        return;
    const long last = ::sysconf(_SC_OPEN_MAX);
    for (long fd = first; fd < (last > 0 ? last : 65536); ++fd)
        ::close(int(fd));
}

// The helper and the children it makes: a copy of a multi-threaded process, so only calls that
// are safe after fork() (no allocation, no locks) until the exec.
[[noreturn]] void ServeRequests() {
    static char request[kMaxRequest + 1];
    static char* argv[kMaxArguments + 1];
    for (;;) {
        const ssize_t got = ::recv(kHelperSocket, request, kMaxRequest, 0);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            ::_exit(0); // the program has ended
        request[got] = '\0';
        size_t count = 0;
        for (char* at = request; at < request + got && count < kMaxArguments;
             at += std::strlen(at) + 1)
            argv[count++] = at;
        argv[count] = nullptr;
        if (count < 2 || ::fork() != 0)
            continue;
        ::close(kHelperSocket);
        for (const int signal : kShieldedSignals)
            SetDisposition(signal, SIG_DFL);
        SetDisposition(SIGCHLD, SIG_DFL);
        ::execve(argv[0], argv + 1, environ);
        ::_exit(127);
    }
}

// Waits for the middle process, which only makes the helper and ends at once. The wait is
// bounded (it holds every later start): a middle that has not ended by then (stopped, or stuck
// before its exit) is killed. True when it ended on its own.
bool MiddleEnded(pid_t middle) {
    constexpr int kPolls = 300; // 10 ms apart: 3 s
    constexpr timespec kPause{0, 10 * 1000 * 1000};
    for (int poll = 0; poll < kPolls; ++poll) {
        const pid_t got = ::waitpid(middle, nullptr, WNOHANG);
        if (got == middle || (got < 0 && errno == ECHILD))
            return true; // ended (reaped by the system when children are ignored)
        if (got < 0 && errno != EINTR)
            break;
        ::nanosleep(&kPause, nullptr);
    }
    ::kill(middle, SIGKILL);
    for (int poll = 0; poll < kPolls && ::waitpid(middle, nullptr, WNOHANG) == 0; ++poll)
        ::nanosleep(&kPause, nullptr);
    return false;
}

// Makes the helper: a grandchild, so that nobody has to wait for it; it ends when this process's
// end of the socket closes, and an interrupt meant for the program does not end it.
bool StartLocked() {
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0)
        return false;
    const pid_t middle = ::fork();
    if (middle == 0) {
        if (::fork() != 0)
            ::_exit(0);
        ::dup2(ends[1], kHelperSocket);
        CloseFrom(kHelperSocket + 1);
        const int null = ::open("/dev/null", O_RDWR);
        for (int fd = 0; fd < 3 && null >= 0; ++fd)
            ::dup2(null, fd);
        if (null > 2 && null != kHelperSocket)
            ::close(null);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        for (const int signal : kShieldedSignals)
            SetDisposition(signal, SIG_IGN);
        SetDisposition(SIGCHLD, SIG_IGN); // the children are reaped by the system
        ServeRequests();
    }
    ::close(ends[1]);
    if (middle < 0) {
        ::close(ends[0]);
        return false;
    }
    if (!MiddleEnded(middle)) {
        ::close(ends[0]); // a helper it may have made ends with this end
        return false;
    }
    g_socket = ends[0];
    return true;
}

} // namespace

void StartSpawner() {
    std::lock_guard lock(g_mutex);
    if (g_socket < 0)
        StartLocked();
}

bool SpawnDetached(const std::string& path, const std::vector<std::string>& args) {
    std::string request = path + '\0';
    for (const std::string& arg : args)
        request += arg + '\0';
    if (args.empty() || args.size() >= kMaxArguments || request.size() > kMaxRequest ||
        std::count(request.begin(), request.end(), '\0') != ptrdiff_t(args.size() + 1))
        return false;
    std::lock_guard lock(g_mutex);
    // A helper that has gone (killed by someone) is made anew once.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (g_socket < 0 && !StartLocked())
            return false;
        if (::send(g_socket, request.data(), request.size(), MSG_NOSIGNAL) ==
            ssize_t(request.size()))
            return true;
        ::close(g_socket);
        g_socket = -1;
    }
    return false;
}

std::string FindInPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
    for (size_t from = 0; from <= dirs.size();) {
        size_t colon = dirs.find(':', from);
        if (colon == std::string::npos)
            colon = dirs.size();
        const std::string dir = dirs.substr(from, colon - from);
        const std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
        struct stat st {};
        if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
            ::access(candidate.c_str(), X_OK) == 0)
            return candidate;
        from = colon + 1;
    }
    return "";
}

} // namespace platform::posix
