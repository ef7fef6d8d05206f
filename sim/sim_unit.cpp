#include "sim/sim_unit.h"

#include <poll.h>

#include <atomic>
#include <exception>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

#include "sim/connect_gate.h"
#include "sim/ftp_session.h"
#include "sim/sim_socket.h"
#include "sim/telnet_session.h"
#include "sim/unit_core.h"

namespace sim {

namespace {

// What a thread of the unit throws, as a reason; it never leaves the thread (that would end
// kqunit and every unit it plays).
template <class Body> std::string Caught(Body&& body) {
    try {
        body();
        return "";
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "an unknown exception";
    }
}

// One session at a time per service, on a thread of its own.
class SessionSlot {
  public:
    ~SessionSlot() { Join(); }

    // Reaps a finished session; true while one is still being served.
    bool Busy() {
        if (m_thread.joinable() && m_done) {
            m_thread.join();
        }
        return m_thread.joinable();
    }

    // `fail` hears of a session that ended with an exception.
    template <class Session>
    void Start(UnitCore& core, net::Fd connection, std::optional<Fault> fault,
               std::function<void(const std::string&)> fail) {
        m_done = false;
        m_thread = std::thread(
            [this, &core, conn = std::move(connection), fault, fail = std::move(fail)]() mutable {
                const std::string why =
                    Caught([&] { Session(core, std::move(conn), std::move(fault)).Run(); });
                if (!why.empty())
                    Caught([&] { fail("a session ended unexpectedly: " + why); });
                m_done = true;
                core.Wake(); // the loop may take the next connection
            });
    }

    void Join() {
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }

  private:
    std::thread m_thread;
    std::atomic<bool> m_done{true};
};

using SteadyClock = std::chrono::steady_clock;

// A service's listening socket, closed while the unit restarts; while it drops every segment
// (`dropping`), the unit's connect gate refuses each attempt itself, or leaves one unanswered
// until `takeFrom` (a late answer: the peer's next SYN after that is taken).
struct Service {
    explicit Service(Fault::Trigger trigger) : connectTrigger(trigger) {}

    const Fault::Trigger connectTrigger;
    sockaddr_in at{};
    net::Fd listener;
    bool dropping = false;
    std::optional<SteadyClock::time_point> takeFrom;
    bool lateAttemptCounted = false; // the next connection taken is that attempt, counted
    SessionSlot session;
};

Unit::StartCheck& StartCheckOfProcess() {
    static Unit::StartCheck check;
    return check;
}

std::mutex& StartCheckMutex() {
    static std::mutex mutex;
    return mutex;
}

} // namespace

void Unit::SetStartCheck(StartCheck check) {
    std::lock_guard lock(StartCheckMutex());
    StartCheckOfProcess() = std::move(check);
}

struct Unit::Impl {
    explicit Impl(UnitConfig c) : config(std::move(c)) {}

    bool Open(Service& service, bool enabled);
    bool OpenGate();
    // Lets the listener take the next attempt, or drop it for the gate to refuse.
    void Decide(Service& service);
    void Loop();
    void Serving();
    void Serve(Service& service, pollfd& p);
    void RefuseAttempts();
    // Ends the wait of an attempt answered late once its time has come; the poll's bound.
    int EndLateWaits();
    void Restart();
    void Fail(const std::string& reason);

    const UnitConfig config;
    std::unique_ptr<UnitCore> core;
    Service ftp{Fault::Trigger::FtpConnect};
    Service telnet{Fault::Trigger::TelnetConnect};
    ConnectGate gate;
    std::thread loop;
    std::atomic<bool> running{false};
    mutable std::mutex errorMutex;
    std::string error;
};

void Unit::Impl::Fail(const std::string& reason) {
    std::lock_guard lock(errorMutex);
    error = reason;
}

bool Unit::Impl::Open(Service& service, bool enabled) {
    if (!enabled || core->Faults().RefusesAlways(service.connectTrigger)) {
        return true;
    }
    // The listener drops from the start when the first attempt is to be refused: no attempt
    // can slip in between listen and the filter.
    const bool drop = gate.Valid() && core->Faults().NextDropped(service.connectTrigger);
    std::string reason;
    service.listener = net::Listen(service.at, &reason, [drop](int fd) {
        return !drop || ConnectGate::SetDropping(fd, true);
    });
    service.dropping = drop;
    if (!service.listener.Valid()) {
        Fail(reason + " (" + net::AddressText(service.at.sin_addr) + ":" +
             std::to_string(ntohs(service.at.sin_port)) + ")");
        return false;
    }
    return true;
}

bool Unit::Impl::OpenGate() {
    FaultBook& faults = core->Faults();
    if (!faults.AttemptsToCount(Fault::Trigger::FtpConnect) &&
        !faults.AttemptsToCount(Fault::Trigger::TelnetConnect)) {
        return true;
    }
    std::string reason;
    if (!gate.Open(ftp.at.sin_addr, {ntohs(ftp.at.sin_port), ntohs(telnet.at.sin_port)}, &reason)) {
        Fail(reason);
        return false;
    }
    return true;
}

void Unit::Impl::Decide(Service& service) {
    if (!gate.Valid() || !service.listener.Valid()) {
        return;
    }
    const bool drop = core->Faults().NextDropped(service.connectTrigger);
    if (drop == service.dropping) {
        return;
    }
    if (drop) {
        // The SYNs seen so far were taken by the listener: not attempts to refuse.
        gate.Take();
    }
    ConnectGate::SetDropping(service.listener.Get(), drop);
    service.dropping = drop;
}

void Unit::Impl::RefuseAttempts() {
    for (const ConnectGate::Syn& syn : gate.Take()) {
        Service& service = syn.toPort == ntohs(ftp.at.sin_port) ? ftp : telnet;
        // While the listener takes attempts, the system answers them; during a restart
        // nothing listens and the system refuses them, uncounted.
        if (!service.listener.Valid() || !service.dropping) {
            continue;
        }
        core->Touch();
        const auto fault = core->Faults().Check(service.connectTrigger);
        if (fault && fault->action == Fault::Action::Late) {
            // No answer now; the listener takes the same attempt when its SYN comes again.
            service.takeFrom = SteadyClock::now() + std::chrono::milliseconds(fault->delayMs);
            service.lateAttemptCounted = true;
            continue;
        }
        Decide(service); // before the answer: the peer's next attempt may follow at once
        gate.Refuse(syn);
    }
}

int Unit::Impl::EndLateWaits() {
    int bound = UnitCore::kLoopCheckMs;
    for (Service* service : {&ftp, &telnet}) {
        if (!service->takeFrom) {
            continue;
        }
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(*service->takeFrom - SteadyClock::now());
        if (left.count() > 0) {
            bound = std::min(bound, int(left.count()));
            continue;
        }
        // The held attempt is taken whatever follows it; Serve decides on the next one.
        service->takeFrom.reset();
        ConnectGate::SetDropping(service->listener.Get(), false);
        service->dropping = false;
    }
    return bound;
}

void Unit::Impl::Serve(Service& service, pollfd& p) {
    if (!(p.revents & POLLIN)) {
        return;
    }
    net::Fd connection = net::AcceptNow(service.listener.Get());
    if (!connection.Valid()) {
        return;
    }
    core->Touch();
    auto fault =
        service.lateAttemptCounted ? std::nullopt : core->Faults().Check(service.connectTrigger);
    service.lateAttemptCounted = false;
    Decide(service);
    if (fault && fault->action == Fault::Action::Refuse) {
        // Only when the attempt slipped past the gate: the best left is a reset at once.
        connection.Reset();
        return;
    }
    const auto fail = [this](const std::string& why) { Fail(why); };
    if (service.connectTrigger == Fault::Trigger::FtpConnect) {
        service.session.Start<FtpSession>(*core, std::move(connection), fault, fail);
    } else {
        service.session.Start<TelnetSession>(*core, std::move(connection), fault, fail);
    }
}

void Unit::Impl::Restart() {
    // The unit writes its new program and boots: nobody can connect meanwhile.
    for (Service* service : {&ftp, &telnet}) {
        service->listener.Close();
        service->takeFrom.reset();
        service->lateAttemptCounted = false;
    }
    core->SetRestartDue(false);
    core->WriteProgram();
    core->CountRestart();
    core->Touch();
    if (!core->Sleep(config.restartRefuseMs)) {
        return;
    }
    if (!Open(ftp, true) || !Open(telnet, config.telnetEnabled)) {
        core->RequestStop();
    }
    core->Touch();
}

void Unit::Impl::Loop() {
    if (const std::string why = Caught([this] { Serving(); }); !why.empty())
        Caught([&] { Fail("the unit stopped unexpectedly: " + why); });
    core->RequestStop();
    ftp.listener.Close();
    telnet.listener.Close();
    ftp.session.Join();
    telnet.session.Join();
    core->ReleaseHeld();
    running = false;
}

void Unit::Impl::Serving() {
    while (!core->Stopping() && !core->IdleExpired()) {
        const bool ftpBusy = ftp.session.Busy();
        const bool telnetBusy = telnet.session.Busy();
        if (core->RestartDue() && !ftpBusy && !telnetBusy) {
            Restart();
            continue;
        }
        // A second connection waits in the backlog until the first session ends.
        pollfd fds[4] = {{ftpBusy ? -1 : ftp.listener.Get(), POLLIN, 0},
                         {telnetBusy ? -1 : telnet.listener.Get(), POLLIN, 0},
                         {gate.Valid() ? gate.Fd() : -1, POLLIN, 0},
                         {core->WakeFd(), POLLIN, 0}};
        if (::poll(fds, 4, EndLateWaits()) > 0) {
            if (fds[3].revents & POLLIN) {
                core->ClearWake();
            }
            if (fds[2].revents & POLLIN) {
                RefuseAttempts();
            }
            Serve(ftp, fds[0]);
            Serve(telnet, fds[1]);
        }
    }
}

Unit::Unit(UnitConfig config) : m_impl(std::make_unique<Impl>(std::move(config))) {}

Unit::~Unit() {
    Stop();
}

bool Unit::Start() {
    Impl& u = *m_impl;
    if (u.loop.joinable()) {
        u.Fail("the unit has already been started");
        return false;
    }
    in_addr addr{};
    if (!net::ParseIpv4(u.config.address, &addr)) {
        u.Fail("\"" + u.config.address + "\" is not an IPv4 address");
        return false;
    }
    if (!net::IsLoopback(addr)) {
        u.Fail(u.config.address + " lies outside 127.0.0.0/8; the unit binds loopback only");
        return false;
    }
    {
        std::lock_guard lock(StartCheckMutex());
        std::string reason;
        if (StartCheckOfProcess() && !StartCheckOfProcess()(u.config.address, &reason)) {
            u.Fail(reason);
            return false;
        }
    }
    if (u.config.storeDir.empty()) {
        u.Fail("no store folder given");
        return false;
    }
    std::error_code ec;
    std::filesystem::create_directories(u.config.storeDir, ec);
    if (!std::filesystem::is_directory(u.config.storeDir, ec)) {
        u.Fail("cannot use store folder " + u.config.storeDir);
        return false;
    }
    u.core = std::make_unique<UnitCore>(u.config);
    u.ftp.at = net::MakeAddress(addr, u.config.ftpPort);
    u.telnet.at = net::MakeAddress(addr, u.config.telnetPort);
    if (!u.OpenGate() || !u.Open(u.ftp, true) || !u.Open(u.telnet, u.config.telnetEnabled)) {
        u.ftp.listener.Close();
        return false;
    }
    u.running = true;
    u.loop = std::thread([&u] { u.Loop(); });
    return true;
}

void Unit::RequestStop() {
    if (m_impl->core) {
        m_impl->core->RequestStop();
    }
}

void Unit::Stop() {
    RequestStop();
    if (m_impl->loop.joinable()) {
        m_impl->loop.join();
    }
}

bool Unit::Running() const {
    return m_impl->running;
}

std::string Unit::Error() const {
    std::lock_guard lock(m_impl->errorMutex);
    return m_impl->error;
}

std::vector<std::string> Unit::Commands() const {
    return m_impl->core ? m_impl->core->Seen().Lines() : std::vector<std::string>{};
}

size_t Unit::CommandCount() const {
    return m_impl->core ? m_impl->core->Seen().Count() : 0;
}

std::vector<std::string> Unit::CommandsFrom(size_t first, size_t* next) const {
    *next = first;
    return m_impl->core ? m_impl->core->Seen().LinesFrom(first, next) : std::vector<std::string>{};
}

std::vector<StoredUpload> Unit::Uploads() const {
    return m_impl->core ? m_impl->core->Uploads() : std::vector<StoredUpload>{};
}

int Unit::Restarts() const {
    return m_impl->core ? m_impl->core->Restarts() : 0;
}

bool Unit::WaitForCommands(size_t count, std::chrono::milliseconds timeout) const {
    return m_impl->core && m_impl->core->Seen().WaitFor(count, timeout);
}

} // namespace sim
