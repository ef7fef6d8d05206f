#pragma once
// What the update run's loopback tests share: a folder holding an update set, the main dialog
// opened headless on it as a person would start the program there, a simulated unit on
// 127.0.0.N, and a press of Update after a loopback address has been typed.

#include "files/param_file.h"
#include "platform/file.h"

#include "tests/support/link_test_support.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <random>
#include <thread>

// How a run ended, as a person would tell: "Update Complete.", the program closing, or the
// dialog staying open for another try.
enum class RunEnd { Complete, ProgramEnded, DialogStaysOpen, StillRunning };

inline std::ostream& operator<<(std::ostream& out, RunEnd end) {
    static const char* const kNames[] = {"Complete", "ProgramEnded", "DialogStaysOpen",
                                         "StillRunning"};
    return out << kNames[static_cast<int>(end)];
}

inline std::vector<uint8_t> PatternBytes(size_t count, unsigned seed) {
    std::mt19937 generator(seed);
    std::vector<uint8_t> bytes(count);
    for (auto& b : bytes)
        b = static_cast<uint8_t>(generator());
    return bytes;
}

inline void WriteBytes(const std::string& name, const std::vector<uint8_t>& bytes) {
    std::ofstream(name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

inline std::vector<uint8_t> ReadBytes(const std::string& name) {
    const std::string text = ReadTextFile(name);
    return {text.begin(), text.end()};
}

// The parts one after the other.
template <typename T> std::vector<T> Joined(std::vector<std::vector<T>> parts) {
    std::vector<T> all;
    for (auto& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

// A file of the given size that uses no disk.
inline void MakeSparseFile(const std::string& name, uint64_t size) {
    std::ofstream(name, std::ios::binary).close();
    std::filesystem::resize_file(name, size);
}

class RunTest : public LoopbackTest {
  protected:
    void SetUp() override { EnterFolder("run"); }

    sim::Unit& StartUnit(int n, sim::UnitConfig config = {}) {
        return StartUnitStoringIn(n, std::move(config), "unit-store");
    }

    // Starts the program in the folder: the dialog scans the files that are there now.
    headless::DialogView& Open() {
        m_dialog = std::make_unique<CUpdaterDlg>();
        m_runner = std::make_unique<headless::DialogRunner>(*m_dialog);
        return m_runner->View();
    }

    // The opening of a run that watches one step: a unit on 127.0.4.n that is back 200 ms after
    // its restart (with `config`'s faults and version), `file` in the folder (`size` bytes of a
    // pattern seeded by n; the parameter file asks for the default setting alone; "" for none),
    // and the program started there.
    sim::Unit& OpenOneStep(int n, const std::string& file, size_t size,
                           sim::UnitConfig config = {}) {
        m_subnet = 4;
        config.restartRefuseMs = 200;
        sim::Unit& unit = StartUnit(n, std::move(config));
        if (file == kParamFileName)
            WriteTextFile(file, "KQ-A2  Update\nA\nD\n");
        else if (!file.empty())
            WriteBytes(file, PatternBytes(size, n));
        Open();
        return unit;
    }

    // Types the four fields as a person would; the default 192.168.010.002 is never run.
    void TypeAddress(const std::string& a, const std::string& b, const std::string& c,
                     const std::string& d) {
        auto& view = m_runner->View();
        view.Type(IDC_IP1, a);
        view.Type(IDC_IP2, b);
        view.Type(IDC_IP3, c);
        view.Type(IDC_IP4, d);
    }

    // Presses Update with the fields as they are and waits for the run to end. Meanwhile the
    // blink timer fires by itself at the period it was armed with (in protocol time), as the
    // system's timer would, until m_blinking is cleared; m_whileRunning, when set, looks on.
    RunEnd PressUpdate(std::chrono::seconds limit = std::chrono::seconds(120)) {
        headless::Desktop::Instance().ClearEvents();
        m_runner->View().Click(IDC_UPDATE);
        const auto end = std::chrono::steady_clock::now() + limit;
        uint64_t nextTick = platform::NowMs() + platform::ScaledMs(kFirstTickMs);
        while (m_dialog->m_bRunning != 0) {
            if (std::chrono::steady_clock::now() > end)
                return RunEnd::StillRunning;
            if (m_whileRunning)
                m_whileRunning();
            if (m_blinking && platform::NowMs() >= nextTick) {
                auto& view = m_runner->View();
                view.FireTimer(1); // does nothing unless the timer is armed
                const unsigned period = view.TimerPeriod(1);
                nextTick = platform::NowMs() + platform::ScaledMs(period ? period : kFirstTickMs);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        m_dialog->JoinWorker(); // after this the worker has posted its close, if any
        if (HasEvent("postclose")) {
            EXPECT_TRUE(m_runner->WaitEnded(std::chrono::seconds(10)));
            return RunEnd::ProgramEnded;
        }
        for (const auto& box : Boxes()) {
            if (box.text == "Update Complete.")
                return RunEnd::Complete;
        }
        return RunEnd::DialogStaysOpen;
    }

    // Types 127.0.<m_subnet>.n and presses Update.
    RunEnd RunAgainst(int n, std::chrono::seconds limit = std::chrono::seconds(120)) {
        ClaimAddress(n);
        TypeAddress("127", "0", std::to_string(m_subnet), std::to_string(n));
        return PressUpdate(limit);
    }

    static bool HasEvent(const std::string& kind) {
        for (const auto& e : headless::Desktop::Instance().Events()) {
            if (e.kind == kind)
                return true;
        }
        return false;
    }

    static std::vector<headless::Event> EventsFor(int id, const std::string& kind) {
        std::vector<headless::Event> out;
        for (const auto& e : headless::Desktop::Instance().Events()) {
            if (e.id == id && e.kind == kind)
                out.push_back(e);
        }
        return out;
    }

    // The weights a label's font was given, in order.
    static std::vector<int64_t> FontWeights(int labelId) {
        std::vector<int64_t> weights;
        for (const auto& e : EventsFor(labelId, "font"))
            weights.push_back(e.a);
        return weights;
    }

    // A second name for the log keeps its entries after a successful run has deleted it.
    static void KeepLogAfterSuccess() {
        std::filesystem::create_hard_link(kActivityLogName, "kept.log");
    }
    static std::vector<std::string> KeptLog() {
        std::filesystem::rename("kept.log", kActivityLogName);
        return ReadLogEntries();
    }

    static bool LogExists() { return std::filesystem::exists(kActivityLogName); }

    // What the boxes said, for the message of a failed expectation.
    static std::string BoxTexts() {
        std::string texts;
        for (const auto& box : Boxes())
            texts += "[" + box.text + "] ";
        return texts;
    }

    static constexpr uint32_t kFirstTickMs = 500; // the period the Update button arms
    bool m_blinking = true;
    std::function<void()> m_whileRunning;
};
