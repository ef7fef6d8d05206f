#pragma once
// What the loopback tests share: the main dialog opened headless in a folder of its own, a
// simulated unit on 127.0.0.N, the activity log read back entry by entry, and the boxes and
// progress positions a person would have seen (LoopbackTest); the link's tests call the dialog's
// operations from the test thread, which plays the worker (LinkTest). The update run's tests
// build on the same base (run_test_support.h).

#include "app/res/resource.h"
#include "app/updater_dlg.h"
#include "files/activity_log.h"
#include "platform/clock.h"
#include "platform/file.h"
#include "platform/headless/desktop.h"
#include "platform/socket.h"
#include "sim/sim_unit.h"
#include "tests/support/temp_folder.h"
#include "tests/support/unit_address_claims.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

// A scripted fault that fires once (or, with times 0, from its first occasion on).
inline sim::Fault FaultOf(sim::Fault::Trigger trigger, std::string match, sim::Fault::Action action,
                          std::string text = "", int times = 1) {
    sim::Fault fault;
    fault.trigger = trigger;
    fault.match = std::move(match);
    fault.action = action;
    fault.text = std::move(text);
    fault.times = times;
    return fault;
}

// Every reply a unit sends, one byte at a time, 1 ms apart.
inline std::vector<sim::Fault> EveryReplyTrickled() {
    using T = sim::Fault::Trigger;
    std::vector<sim::Fault> faults;
    for (T at : {T::Greeting, T::Command, T::TransferEnd, T::TelnetConnect})
        faults.push_back(FaultOf(at, "", sim::Fault::Action::Trickle, "", 0));
    for (sim::Fault& fault : faults)
        fault.delayMs = 1;
    return faults;
}

// One log entry as "<caption> <text>", without time stamp and without the writer's CR LF.
inline std::string Entry(const std::string& caption, const std::string& text) {
    return caption + " " + text;
}

// Splits the activity log at the time stamps that open its entries.
inline std::vector<std::string> ReadLogEntries() {
    const std::string log = ReadTextFile(kActivityLogName);
    const auto isStampAt = [&log](size_t at) {
        static const char kShape[] = "dddd/dd/dd dd:dd:dd ";
        if (at + sizeof kShape - 1 > log.size())
            return false;
        for (size_t i = 0; i + 1 < sizeof kShape; ++i) {
            const char c = log[at + i];
            if (kShape[i] == 'd' ? !std::isdigit(static_cast<unsigned char>(c)) : c != kShape[i])
                return false;
        }
        return true;
    };
    std::vector<size_t> starts;
    for (size_t at = 0; at < log.size(); ++at) {
        if ((at == 0 || (at >= 2 && log.compare(at - 2, 2, "\r\n") == 0)) && isStampAt(at))
            starts.push_back(at);
    }
    std::vector<std::string> entries;
    for (size_t i = 0; i < starts.size(); ++i) {
        const size_t end = i + 1 < starts.size() ? starts[i + 1] : log.size();
        std::string entry = log.substr(starts[i] + 20, end - starts[i] - 20);
        EXPECT_GE(entry.size(), 2u);
        EXPECT_EQ(entry.substr(entry.size() - 2), "\r\n") << "entry without the writer's line end";
        entries.push_back(entry.substr(0, entry.size() - 2));
    }
    return entries;
}

// The log-in dialogue of a unit that accepts everything, as the log shows it.
inline std::vector<std::string> LoginEntries(const std::string& versionText = "KQ-A2.01.02.45") {
    const std::string rx = "PC <- Device";
    const std::string tx = "PC -> Device";
    return {Entry("", "FTP Control Socket get"),
            Entry("", "FTP Control Port connect"),
            Entry(rx, "220 KQ unit FTP server ready.\r\n"),
            Entry("", "FTP login"),
            Entry(tx, "USER anonymous\r\n"),
            Entry(rx, "331 Anonymous login ok, send your e-mail address as password.\r\n"),
            Entry(tx, "PASS\r\n"),
            Entry(rx, "230 User logged in.\r\n"),
            Entry(tx, "EXCM r_INF\r\n"),
            Entry(rx, "200 Model KQ-A2 camera control unit.\r\n"),
            Entry(tx, "EXCM uname\r\n"),
            Entry(rx, "200 " + versionText + "\r\n"),
            Entry("Upload", versionText),
            Entry("", "Change to Update mode"),
            Entry(tx, "EXCM k_prism\r\n"),
            Entry(rx, "200 Update mode on.\r\n"),
            Entry(tx, "EXCM c_Varek\r\n"),
            Entry(rx, "200 c_Varek done.\r\n"),
            Entry(tx, "CWD \\UpdateBx\r\n"),
            Entry(rx, "250 CWD command successful.\r\n")};
}

struct ProgressEvent {
    std::string kind; // "range" (a = low, b = high) or "pos" (a = position)
    int64_t a = 0, b = 0;
    bool operator==(const ProgressEvent&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const ProgressEvent& e) {
    return out << e.kind << "(" << e.a << "," << e.b << ")";
}

// The expected bar of a transfer with progress: range and position after every 64 KiB chunk,
// then emptied.
inline std::vector<ProgressEvent> ProgressOfTransfer(uint32_t length) {
    std::vector<ProgressEvent> events;
    for (uint32_t sent = 0; sent < length;) {
        sent += std::min<uint32_t>(length - sent, 65536);
        events.push_back({"range", 0, length});
        events.push_back({"pos", sent, 0});
    }
    events.push_back({"pos", 0, 0});
    return events;
}

// What every loopback test shares: a temporary folder of its own as the current directory, the
// time of the protocol scaled down, the main dialog run headless, a simulated unit on 127.0.0.N,
// and the boxes and bar changes a person would have seen.
class LoopbackTest : public ::testing::Test {
  protected:
    static constexpr double kTimeScale = 0.05;

    // Enters a fresh folder tagged with `tag` and scales the protocol's time down.
    void EnterFolder(const std::string& tag) {
        m_folder = std::make_unique<TempFolder>(tag);
        platform::SetTimeScale(kTimeScale);
        headless::Desktop::Instance().Reset();
    }

    void TearDown() override {
        m_runner.reset();
        m_dialog.reset();
        m_unit.reset();
        headless::Desktop::Instance().Reset();
        platform::SetTimeScale(1.0);
        m_folder.reset();
    }

    // 127.0.<m_subnet>.n
    std::string Address(int n) const {
        return "127.0." + std::to_string(m_subnet) + "." + std::to_string(n);
    }
    // Makes 127.0.<m_subnet>.n this test's own, also where no unit is to run.
    void ClaimAddress(int n) const {
        std::string reason;
        EXPECT_TRUE(testsupport::ClaimUnitAddress(Address(n), &reason)) << reason;
    }
    int m_subnet = 0;

    // Starts a unit on 127.0.0.n that keeps what it receives in the folder's `store`.
    sim::Unit& StartUnitStoringIn(int n, sim::UnitConfig config, const std::string& store) {
        config.address = Address(n);
        config.storeDir = (m_folder->Path() / store).string();
        std::filesystem::create_directories(config.storeDir);
        m_unit = std::make_unique<sim::Unit>(config);
        EXPECT_TRUE(m_unit->Start()) << m_unit->Error();
        return *m_unit;
    }

    static std::vector<headless::MessageBoxRecord> Boxes() {
        return headless::Desktop::Instance().MessageBoxes();
    }

    // The progress bar's changes in order.
    static std::vector<ProgressEvent> Progress() {
        std::vector<ProgressEvent> out;
        for (const auto& e : headless::Desktop::Instance().Events()) {
            if (e.id == IDC_PROGRESS && (e.kind == "range" || e.kind == "pos"))
                out.push_back({e.kind, e.a, e.kind == "range" ? e.b : 0});
        }
        return out;
    }

    // Whether the blink timer was stopped before the first box was shown.
    static bool TimerStoppedBeforeBox() {
        bool stopped = false;
        for (const auto& e : headless::Desktop::Instance().Events()) {
            if (e.kind == "killtimer")
                stopped = true;
            if (e.kind == "msgbox")
                return stopped;
        }
        return false;
    }

    std::unique_ptr<TempFolder> m_folder;
    std::unique_ptr<sim::Unit> m_unit;
    std::unique_ptr<CUpdaterDlg> m_dialog;
    std::unique_ptr<headless::DialogRunner> m_runner;
};

// The link's operations called straight from the test thread, which plays the worker. The log
// holds only what the test's own calls write.
class LinkTest : public LoopbackTest {
  protected:
    void SetUp() override {
        EnterFolder("link");
        m_dialog = std::make_unique<CUpdaterDlg>();
        m_runner = std::make_unique<headless::DialogRunner>(*m_dialog);
        platform::DeleteFileNamed(kActivityLogName);
        std::memcpy(m_dialog->m_szModel, "KQ-A2", 6);
        // A blink timer is running during a run; failures must stop it before their box.
        m_dialog->m_nTimerId = m_dialog->SetTimer(1, 500);
        headless::Desktop::Instance().ClearEvents();
    }

    // Points the dialog at 127.0.0.n, where a unit may or may not run.
    void AimAt(int n) {
        ClaimAddress(n);
        m_dialog->m_ulDeviceAddr = platform::InetAddr(Address(n).c_str());
    }

    // Starts a unit on 127.0.0.n and points the dialog at it.
    sim::Unit& StartUnit(int n, sim::UnitConfig config = {}) {
        sim::Unit& unit = StartUnitStoringIn(n, std::move(config), "unit" + std::to_string(n));
        AimAt(n);
        return unit;
    }

    // Logs in, then forgets the log and the events so the test sees only what follows.
    void LogIn() {
        ASSERT_EQ(m_dialog->ConnectFtp(1), 0);
        platform::DeleteFileNamed(kActivityLogName);
        headless::Desktop::Instance().ClearEvents();
    }

    std::string StatusText() const { return m_runner->View().Control(IDC_STATUS).text; }
};
