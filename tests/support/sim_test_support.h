#pragma once
// What the simulated unit's own tests share: a tiny raw-socket FTP client (every wait bounded),
// the test's side of an active-mode data connection, upload records, and a fixture that starts
// a unit storing into a temporary folder.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "sim/scenario.h"
#include "sim/sim_socket.h"
#include "sim/sim_unit.h"

namespace simtest {

using namespace std::chrono_literals;
using sim::Fault;
using sim::net::Fd;
namespace fs = std::filesystem;

// 127.0.5.<host>: the sim tests' own addresses.
inline std::string RowAddress(int host) {
    return "127.0.5." + std::to_string(host);
}

inline in_addr Ip(const char* text) {
    in_addr a{};
    sim::net::ParseIpv4(text, &a);
    return a;
}

// A connection of the test client. Every wait is bounded.
class Peer {
  public:
    static std::optional<Peer> Connect(const char* ip, uint16_t port) {
        std::string error;
        Fd fd =
            sim::net::ConnectBounded(sim::net::MakeAddress(Ip(ip), port), nullptr, 2000, &error);
        if (!fd.Valid()) {
            return std::nullopt;
        }
        return Peer(std::move(fd));
    }
    explicit Peer(Fd fd) : m_fd(std::move(fd)) {}

    void Send(const std::string& bytes) {
        ASSERT_TRUE(sim::net::SendAll(m_fd.Get(), bytes.data(), bytes.size(), 2000));
    }
    // One receive; "" after timeoutMs of silence, nullopt when the unit closed the connection.
    std::optional<std::string> ReceiveOnce(int timeoutMs = 3000) {
        if (!sim::net::WaitReadable(m_fd.Get(), timeoutMs)) {
            return std::string();
        }
        char buffer[65536];
        long n = sim::net::ReceiveSome(m_fd.Get(), buffer, sizeof buffer);
        if (n <= 0) {
            return std::nullopt;
        }
        return std::string(buffer, static_cast<size_t>(n));
    }
    // A whole reply line (gathered over several receives when it was split).
    std::string Reply(int timeoutMs = 3000) {
        std::string text;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (text.find('\n') == std::string::npos && std::chrono::steady_clock::now() < end) {
            auto piece = ReceiveOnce(50);
            if (!piece) {
                break;
            }
            text += *piece;
        }
        return text;
    }
    // Everything that arrives until `quietMs` of silence (or the end of the connection, or
    // `limitMs` in all), and in how many receives it came.
    struct Gathered {
        std::string bytes;
        int receives = 0;
        bool closed = false;
    };
    Gathered Gather(int quietMs = 300, int limitMs = 5000) {
        Gathered g;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
        while (std::chrono::steady_clock::now() < end) {
            auto piece = ReceiveOnce(quietMs);
            if (!piece) {
                g.closed = true;
                break;
            }
            if (piece->empty()) {
                break;
            }
            g.bytes += *piece;
            ++g.receives;
        }
        return g;
    }
    std::string Command(const std::string& line) {
        Send(line + "\r\n");
        return Reply();
    }
    int Get() const { return m_fd.Get(); }
    void ShutdownWrite() { ::shutdown(m_fd.Get(), SHUT_WR); }
    void Close() { m_fd.Close(); }

  private:
    Fd m_fd;
};

// The test's side of an active-mode data connection: listens on 127.0.0.1, port chosen.
class DataListener {
  public:
    DataListener() {
        std::string error;
        m_fd = sim::net::Listen(sim::net::MakeAddress(Ip("127.0.0.1"), 0), &error);
        sockaddr_in sa{};
        socklen_t len = sizeof sa;
        ::getsockname(m_fd.Get(), reinterpret_cast<sockaddr*>(&sa), &len);
        m_port = ntohs(sa.sin_port);
    }
    std::string PortCommand(const char* ip = "127,0,0,1") const {
        return "PORT " + std::string(ip) + "," + std::to_string(m_port >> 8) + "," +
               std::to_string(m_port & 0xff);
    }
    std::optional<Peer> Accept(int timeoutMs = 3000, in_addr* from = nullptr) {
        if (!sim::net::WaitReadable(m_fd.Get(), timeoutMs)) {
            return std::nullopt;
        }
        sockaddr_in sa{};
        socklen_t len = sizeof sa;
        Fd fd(::accept(m_fd.Get(), reinterpret_cast<sockaddr*>(&sa), &len));
        if (from) {
            *from = sa.sin_addr;
        }
        return Peer(std::move(fd));
    }

  private:
    Fd m_fd;
    uint16_t m_port = 0;
};

inline Fault MakeFault(Fault::Trigger trigger, std::string match, Fault::Action action,
                       std::string text = "", uint32_t delayMs = 0, int occurrence = 1) {
    Fault f;
    f.trigger = trigger;
    f.match = std::move(match);
    f.action = action;
    f.text = std::move(text);
    f.delayMs = delayMs;
    f.occurrence = occurrence;
    return f;
}

inline std::vector<uint8_t> Record(const std::string& name, uint32_t kind,
                                   const std::vector<uint8_t>& content, long lengthDelta = 0) {
    std::vector<uint8_t> r(32 + content.size(), 0);
    for (size_t i = 0; i < name.size() && i < 16; ++i) {
        r[i] = static_cast<uint8_t>(name[i]);
    }
    const uint32_t length = static_cast<uint32_t>(long(content.size()) + lengthDelta);
    for (int i = 0; i < 4; ++i) {
        r[16 + i] = static_cast<uint8_t>(length >> (8 * i));
        r[20 + i] = static_cast<uint8_t>(kind >> (8 * i));
    }
    std::copy(content.begin(), content.end(), r.begin() + 32);
    return r;
}

inline std::vector<uint8_t> Pattern(size_t n) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) {
        v[i] = static_cast<uint8_t>((i * 7 + i / 256) & 0xff);
    }
    return v;
}

inline std::vector<uint8_t> ReadFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

template <class Base = ::testing::Test> class SimUnitTestOn : public Base {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/kqsimtestXXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        m_dir = pattern;
    }
    void TearDown() override {
        m_unit.reset();
        fs::remove_all(m_dir);
    }

    sim::UnitConfig Config(const char* ip) {
        sim::UnitConfig c;
        c.address = ip;
        c.storeDir = (m_dir / "store").string();
        c.idleTimeoutMs = 10000;
        c.restartRefuseMs = 400;
        return c;
    }
    // The configuration with the settings and faults of a scenario text.
    sim::UnitConfig Config(const char* ip, const std::string& scenario) {
        sim::UnitConfig c = Config(ip);
        std::istringstream in(scenario);
        std::string error;
        EXPECT_TRUE(sim::ApplyScenario(in, c, &error)) << error;
        return c;
    }
    sim::Unit& Start(sim::UnitConfig config) {
        m_unit = std::make_unique<sim::Unit>(std::move(config));
        EXPECT_TRUE(m_unit->Start()) << m_unit->Error();
        return *m_unit;
    }
    // Connects and logs in, checking every reply of the dialogue on the way.
    Peer LogIn(const char* ip) {
        auto peer = Peer::Connect(ip, 21);
        EXPECT_TRUE(peer);
        EXPECT_EQ(peer->Reply(), "220 KQ unit FTP server ready.\r\n");
        EXPECT_EQ(peer->Command("USER anonymous").substr(0, 4), "331 ");
        EXPECT_EQ(peer->Command("PASS").substr(0, 4), "230 ");
        return std::move(*peer);
    }
    // PORT, TYPE I, STOR, the data, and the two replies to STOR; returns the last reply.
    std::string Upload(Peer& ctrl, const std::string& storName, const std::vector<uint8_t>& bytes,
                       const std::string& type = "I") {
        DataListener listener;
        EXPECT_EQ(ctrl.Command(listener.PortCommand()).substr(0, 4), "200 ");
        if (!type.empty()) {
            EXPECT_EQ(ctrl.Command("TYPE " + type).substr(0, 4), "200 ");
        }
        ctrl.Send("STOR  " + storName + "\r\n");
        auto data = listener.Accept();
        if (!data) {
            return "no data connection; " + ctrl.Reply(200);
        }
        EXPECT_EQ(ctrl.Reply().substr(0, 4), "150 ");
        data->Send(std::string(bytes.begin(), bytes.end()));
        ::shutdown(data->Get(), SHUT_RDWR);
        return ctrl.Reply();
    }

    fs::path m_dir;
    std::unique_ptr<sim::Unit> m_unit;
};

using SimUnitTest = SimUnitTestOn<>;

} // namespace simtest
