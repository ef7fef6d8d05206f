#include "sim/unit_core.h"

#include <algorithm>
#include <thread>

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
        return {Pace::Kind::Split, fault.delayMs};
    case Fault::Action::Trickle:
        return {Pace::Kind::Trickle, fault.delayMs};
    default:
        return {};
    }
}

UnitCore::UnitCore(UnitConfig config)
    : m_config(std::move(config)), m_faults(m_config.faults), m_lastActivityMs(NowMs()) {}

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

void UnitCore::Note(const std::string& line) {
    {
        std::lock_guard lock(m_mutex);
        m_commands.push_back(line);
    }
    m_changed.notify_all();
}

void UnitCore::AddUpload(StoredUpload upload) {
    std::lock_guard lock(m_mutex);
    m_uploads.push_back(std::move(upload));
}

std::vector<std::string> UnitCore::Commands() const {
    std::lock_guard lock(m_mutex);
    return m_commands;
}

std::vector<StoredUpload> UnitCore::Uploads() const {
    std::lock_guard lock(m_mutex);
    return m_uploads;
}

int UnitCore::Restarts() const {
    std::lock_guard lock(m_mutex);
    return m_restarts;
}

bool UnitCore::WaitForCommands(size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return m_commands.size() >= count; });
}

bool UnitCore::Send(int fd, const std::string& bytes, Pace pace) {
    constexpr int kSendLimitMs = 5000;
    constexpr uint32_t kDefaultSplitMs = 100, kDefaultTrickleMs = 20;
    Touch();
    if (pace.kind == Pace::Kind::Whole || bytes.size() < 2) {
        return net::SendAll(fd, bytes.data(), bytes.size(), kSendLimitMs);
    }
    if (pace.kind == Pace::Kind::Split) {
        const size_t half = bytes.size() / 2;
        return net::SendAll(fd, bytes.data(), half, kSendLimitMs) &&
               Sleep(pace.ms ? pace.ms : kDefaultSplitMs) &&
               net::SendAll(fd, bytes.data() + half, bytes.size() - half, kSendLimitMs);
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
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return true;
        }
        std::this_thread::sleep_for(std::min(left, std::chrono::milliseconds(kSliceMs)));
    }
    return false;
}

UnitCore::Wait UnitCore::WaitReadable(int fd, int limitMs) const {
    const auto start = std::chrono::steady_clock::now();
    while (!Stopping()) {
        if (net::WaitReadable(fd, kSliceMs)) {
            return Wait::Ready;
        }
        if (limitMs >= 0 &&
            std::chrono::steady_clock::now() - start >= std::chrono::milliseconds(limitMs)) {
            return Wait::TimedOut;
        }
    }
    return Wait::Stopping;
}

} // namespace sim
