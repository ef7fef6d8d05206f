// The simulated unit as a long-running trainer's unit: what it keeps of the lines it sees stays
// bounded, and noting a line costs the same however long it has run.

#include <fstream>
#include <thread>

#include "sim/history.h"
#include "tests/support/sanitizers.h"
#include "tests/support/sim_test_support.h"

namespace {

using namespace simtest;

// AddressSanitizer holds freed memory back in its quarantine: there resident memory tells
// nothing about what the unit keeps.
constexpr bool kResidentMemoryTells = !testsupport::kAddressSanitizer;

// The resident memory of this process, in KiB.
long ResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string word;
    while (status >> word) {
        if (word == "VmRSS:") {
            long kib = 0;
            status >> kib;
            return kib;
        }
    }
    return -1;
}

TEST(SimHistoryTest, KeepsTheLatestLinesCutAndCountsEveryOne) {
    sim::History history;
    const std::string longLine(4000, 'x');
    for (int i = 0; i < 20000; ++i) {
        history.Note(i % 2 ? longLine : "line " + std::to_string(i));
    }
    EXPECT_EQ(history.Count(), 20000u);
    const auto lines = history.Lines();
    ASSERT_EQ(lines.size(), sim::History::kKeptLines);
    EXPECT_EQ(lines.back(), std::string(256, 'x') + "... (4000 bytes)");
    EXPECT_EQ(lines[lines.size() - 2], "line 19998");
    EXPECT_LE(history.KeptBytes(), sim::History::kKeptLines * (sim::History::kKeptLineBytes + 20));

    // Reading on from a line number: lines no longer kept are skipped.
    size_t next = 0;
    EXPECT_EQ(history.LinesFrom(0, &next).size(), sim::History::kKeptLines);
    EXPECT_EQ(next, 20000u);
    EXPECT_EQ(history.LinesFrom(19998, &next),
              (std::vector<std::string>{"line 19998", lines.back()}));
    EXPECT_TRUE(history.LinesFrom(20000, &next).empty());
    EXPECT_TRUE(history.WaitFor(20000, 0ms));
    EXPECT_FALSE(history.WaitFor(20001, 10ms));
}

// A client that sends 6,000 lines of 4,000 bytes: the unit answers every one, and this process's
// resident memory does not grow with them (unbounded, it grew by the 23 MiB of the lines, beyond
// the 16 MiB allowance). The flood is all computing and handing over between three threads: on
// two cores loaded by other work 8,000 lines took 44 s, and one send waited more than 2 s for
// the unit to read, so each send may wait 10 s and the whole is bounded by the reader's minute.
TEST_F(SimUnitTest, MemoryStaysFlatUnderAFloodOfLongLines) {
    constexpr int kLines = 6000;
    if (!kResidentMemoryTells) {
        GTEST_SKIP() << "resident memory is not measurable under AddressSanitizer";
    }
    sim::Unit& unit = Start(Config("127.0.5.20"));
    auto peer = Peer::Connect("127.0.5.20", 21);
    ASSERT_TRUE(peer);
    ASSERT_EQ(peer->Reply().substr(0, 4), "220 ");
    const std::string line = "NOOP " + std::string(3993, 'x') + "\r\n"; // 4,000 bytes
    std::atomic<size_t> answered{0};
    std::thread reader([&] {
        const auto end = std::chrono::steady_clock::now() + 60s;
        while (answered < kLines && std::chrono::steady_clock::now() < end) {
            auto piece = peer->ReceiveOnce(1000);
            if (!piece) {
                break;
            }
            answered += size_t(std::count(piece->begin(), piece->end(), '\n'));
        }
    });
    const long before = ResidentKiB();
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kLines; ++i) {
        if (!sim::net::SendAll(peer->Get(), line.data(), line.size(), 10000)) {
            ADD_FAILURE() << "line " << i << " waited more than 10 s";
            break;
        }
    }
    reader.join();
    const auto took = std::chrono::steady_clock::now() - start;
    const long growth = ResidentKiB() - before;
    EXPECT_EQ(answered, size_t(kLines));
    EXPECT_EQ(unit.CommandCount(), size_t(kLines));
    EXPECT_EQ(unit.Commands().size(), sim::History::kKeptLines);
    EXPECT_LT(growth, 16 * 1024) << "KiB grown";
    std::cout << "6,000 lines of 4,000 bytes: " << growth << " KiB grown, "
              << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms\n";
}

// Uploads beyond the content budget keep their description; the files stay in the store.
TEST_F(SimUnitTest, OldUploadContentsAreReleasedBeyondTheBudget) {
    auto config = Config("127.0.5.21");
    config.keptContentBytes = 150;
    sim::Unit& unit = Start(config);
    Peer ctrl = LogIn("127.0.5.21");
    for (const char* name : {"A.bin", "B.bin", "C.bin"}) {
        EXPECT_EQ(Upload(ctrl, name, Pattern(100)).substr(0, 4), "226 ");
    }
    const auto uploads = unit.Uploads();
    ASSERT_EQ(uploads.size(), 3u);
    EXPECT_EQ(std::vector<bool>({uploads[0].contentReleased, uploads[1].contentReleased,
                                 uploads[2].contentReleased}),
              std::vector<bool>({true, true, false}));
    EXPECT_TRUE(uploads[0].content.empty());
    EXPECT_EQ(uploads[2].content, Pattern(100));
    EXPECT_EQ(ReadFile(m_dir / "store" / "A.bin"), Pattern(100));
}

// A unit that keeps no contents (as kqunit) takes upload after upload without growing.
TEST_F(SimUnitTest, MemoryStaysFlatOverManyUploadsWithoutKeptContents) {
    if (!kResidentMemoryTells) {
        GTEST_SKIP() << "resident memory is not measurable under AddressSanitizer";
    }
    auto config = Config("127.0.5.22");
    config.keptContentBytes = 0;
    sim::Unit& unit = Start(config);
    Peer ctrl = LogIn("127.0.5.22");
    const auto bytes = Pattern(1 << 20);
    EXPECT_EQ(Upload(ctrl, "warm.bin", bytes).substr(0, 4), "226 ");
    const long before = ResidentKiB();
    for (int i = 0; i < 40; ++i) {
        EXPECT_EQ(Upload(ctrl, "F" + std::to_string(i) + ".bin", bytes).substr(0, 4), "226 ");
    }
    const long growth = ResidentKiB() - before;
    EXPECT_EQ(unit.Uploads().size(), 41u);
    EXPECT_LT(growth, 16 * 1024) << "KiB grown over 40 uploads of 1 MiB";
}

} // namespace
