#include "sim/unit_core.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <thread>

#include "sim/program_version.h"
#include "sim/sim_socket.h"

namespace sim {

std::string WithLineEnd(const std::string& text) {
    return !text.empty() && text.back() == '\n' ? text : text + "\r\n";
}

std::string FaultText(const Fault& fault) {
    std::string text;
    for (uint32_t i = 0; i < std::max<uint32_t>(fault.repeat, 1); ++i) {
        text += fault.text;
    }
    return fault.action == Fault::Action::Raw ? text : WithLineEnd(text);
}

Pace PaceOf(const Fault& fault) {
    switch (fault.action) {
    case Fault::Action::Split:
        return {Pace::Kind::Split, fault.delayMs, fault.splitAt};
    case Fault::Action::Trickle:
        return {Pace::Kind::Trickle, fault.delayMs};
    default:
        return {};
    }
}

UnitCore::UnitCore(UnitConfig config)
    : m_config(std::move(config)), m_faults(m_config.faults),
      m_stop(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      m_wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)), m_lastActivityMs(NowMs()),
      m_version(m_config.versionText) {}

void UnitCore::RequestStop() {
    m_stopping = true;
    const uint64_t one = 1;
    [[maybe_unused]] auto written = ::write(m_stop.Get(), &one, sizeof one);
    Wake();
}

void UnitCore::Wake() const {
    const uint64_t one = 1;
    [[maybe_unused]] auto written = ::write(m_wake.Get(), &one, sizeof one);
}

void UnitCore::ClearWake() const {
    uint64_t count = 0;
    [[maybe_unused]] auto read = ::read(m_wake.Get(), &count, sizeof count);
}

int64_t UnitCore::NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void UnitCore::Touch() {
    m_lastActivityMs = NowMs();
}

bool UnitCore::IdleExpired() const {
    return NowMs() - m_lastActivityMs > static_cast<int64_t>(m_config.idleTimeoutMs);
}

void UnitCore::CountRestart() {
    {
        std::lock_guard lock(m_mutex);
        ++m_restarts;
    }
    Note("restart");
}

std::string UnitCore::VersionText() const {
    std::lock_guard lock(m_mutex);
    return m_version;
}

void UnitCore::ProgramReceived(const std::string& name) {
    std::lock_guard lock(m_mutex);
    m_programReceived = name;
}

void UnitCore::WriteProgram() {
    std::lock_guard lock(m_mutex);
    if (m_programReceived.empty() || m_config.keepVersion) {
        return;
    }
    m_version = m_config.versionAfterProgram.empty()
                    ? VersionFromProgram(m_config.model, m_programReceived)
                    : m_config.versionAfterProgram;
    m_programReceived.clear();
}

void UnitCore::AddUpload(StoredUpload upload) {
    std::lock_guard lock(m_mutex);
    m_contentBytes += upload.content.size();
    m_uploads.push_back(std::move(upload));
    if (m_uploads.size() > kKeptUploads) {
        m_contentBytes -= m_uploads.front().content.size();
        m_uploads.pop_front();
    }
    for (auto& old : m_uploads) {
        if (m_contentBytes <= m_config.keptContentBytes) {
            break;
        }
        if (old.content.empty()) {
            continue;
        }
        m_contentBytes -= old.content.size();
        std::vector<uint8_t>().swap(old.content); // "= {}" would keep the capacity
        old.contentReleased = true;
    }
}

std::vector<StoredUpload> UnitCore::Uploads() const {
    std::lock_guard lock(m_mutex);
    return {m_uploads.begin(), m_uploads.end()};
}

int UnitCore::Restarts() const {
    std::lock_guard lock(m_mutex);
    return m_restarts;
}

bool UnitCore::Send(int fd, const std::string& bytes, Pace pace) {
    constexpr int kSendLimitMs = 5000;
    constexpr uint32_t kDefaultSplitMs = 100, kDefaultTrickleMs = 20;
    Touch();
    if (pace.kind == Pace::Kind::Whole || bytes.size() < 2) {
        return net::SendAll(fd, bytes.data(), bytes.size(), kSendLimitMs);
    }
    if (pace.kind == Pace::Kind::Split) {
        // A cut at or beyond the end sends the answer whole, after the pause.
        const size_t first = pace.at ? std::min<size_t>(pace.at, bytes.size()) : bytes.size() / 2;
        return net::SendAll(fd, bytes.data(), first, kSendLimitMs) &&
               Sleep(pace.ms ? pace.ms : kDefaultSplitMs) &&
               net::SendAll(fd, bytes.data() + first, bytes.size() - first, kSendLimitMs);
    }
    for (size_t i = 0; i < bytes.size(); ++i) {
        if ((i > 0 && !Sleep(pace.ms ? pace.ms : kDefaultTrickleMs)) ||
            !net::SendAll(fd, bytes.data() + i, 1, kSendLimitMs)) {
            return false;
        }
        Touch();
    }
    return true;
}

void UnitCore::Hold(net::Fd connection) {
    std::lock_guard lock(m_mutex);
    m_held.push_back(std::move(connection));
}

void UnitCore::ReleaseHeld() {
    std::lock_guard lock(m_mutex);
    m_held.clear();
}

bool UnitCore::Sleep(uint32_t ms) const {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!Stopping()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return true;
        }
        pollfd stop{m_stop.Get(), POLLIN, 0};
        ::poll(&stop, 1, static_cast<int>(std::min<int64_t>(left.count(), INT32_MAX)));
    }
    return false;
}

UnitCore::Wait UnitCore::WaitReadable(int fd, int limitMs) const {
    pollfd fds[2] = {{fd, POLLIN, 0}, {m_stop.Get(), POLLIN, 0}};
    for (;;) {
        if (Stopping()) {
            return Wait::Stopping;
        }
        const int n = ::poll(fds, 2, limitMs < 0 ? -1 : limitMs);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (Stopping()) {
            return Wait::Stopping;
        }
        return n > 0 && fds[0].revents != 0 ? Wait::Ready : Wait::TimedOut;
    }
}

} // namespace sim
