// The fault matrix: one press of Update through the headless dialog against the simulated unit,
// with one scripted fault per row, for a KQ-A2 full set with a CPU program and a KQ-B2 set with
// the default-setting step. Each row states how the run ends, the one box a person sees (text
// and icon), the log's last entry (the log is kept after every failure and only then), what the
// unit received after the fault, and the protocol time within which the run ended.

#include "tests/update/fault_matrix_rows.h"

#include <chrono>

namespace {

// Each row on an address of its own: 127.0.1.1 up, then 127.0.2.1 up.
std::string RowAddressLastTwo(size_t index) {
    return index < 250 ? "1." + std::to_string(index + 1) : "2." + std::to_string(index - 249);
}

struct SetFile {
    const char* name;
    size_t size;
};
const std::vector<SetFile> kA2Files = {
    {"kq12.cpu", 3000}, {"fpga5m.bin", 70000}, {"Rfpga.bin", 2500}, {"oem_a.htm", 300},
    {"index.htm", 200}, {"CUR1.bmp", 600},     {"ICON1.bmp", 650},  {"s1.sdt", 1024},
    {"g1.tbl", 512},    {"sc1.cst", 300},      {"LOGO.bmp", 3126},  {"Tfpga.bin", 4000}};
// The logo is larger than what a connection buffers, so that a unit that stops reading stalls it.
const std::vector<SetFile> kB2Files = {
    {"oem_a.htm", 900}, {"oem_b.htm", 1200}, {"LOGO.bmp", 8u << 20}};

class FaultMatrixTest : public RunTest, public ::testing::WithParamInterface<size_t> {
  protected:
    // The unit's lines once it has been quiet for a moment: it may still be reading what the
    // tool sent last when the run ends.
    static std::vector<std::string> SettledCommands(const sim::Unit& unit) {
        std::vector<std::string> lines = unit.Commands();
        for (int i = 0; i < 20; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            std::vector<std::string> now = unit.Commands();
            if (now == lines)
                break;
            lines = std::move(now);
        }
        return lines;
    }
};

TEST_P(FaultMatrixTest, RunEndsAsDescribed) {
    const size_t index = GetParam();
    const Row& row = kRows[index];
    const bool a2 = row.set == Set::A2;
    const double scale = row.scale != 0 ? row.scale : a2 ? 0.05 : 0.01;
    platform::SetTimeScale(scale);

    const std::vector<SetFile>& files = a2 ? kA2Files : kB2Files;
    unsigned seed = 1;
    for (const SetFile& f : files)
        WriteBytes(f.name, PatternBytes(f.size, seed++));
    if (!a2)
        WriteTextFile("KQVorlink.prm", "KQ-B2 Update\nU\nD\n");
    sim::UnitConfig config;
    config.address = "127.0." + RowAddressLastTwo(index);
    config.storeDir = (m_folder->Path() / "unit-store").string();
    config.model = a2 ? "KQ-A2" : "KQ-B2";
    config.versionText = config.model + ".01.02.45";
    config.restartRefuseMs = 100; // well within the tool's minute of waiting
    config.strict = true;         // refuses what a real unit would refuse
    config.faults = row.faults;
    if (row.configure != nullptr)
        row.configure(config);
    m_unit = std::make_unique<sim::Unit>(config);
    ASSERT_TRUE(m_unit->Start()) << m_unit->Error();
    Open();
    platform::SetReceiveLagMs(row.lagMs);

    const std::string lastTwo = RowAddressLastTwo(index);
    TypeAddress("127", "0", lastTwo.substr(0, 1), lastTwo.substr(2));
    const auto start = std::chrono::steady_clock::now();
    const RunEnd end = PressUpdate(std::chrono::seconds(60));
    const double tookS =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    platform::SetReceiveLagMs(0);

    const Outcome& expected = row.outcome;
    EXPECT_EQ(end, expected.end);
    const auto boxes = Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, expected.box);
    EXPECT_EQ(boxes[0].style, expected.icon);
    EXPECT_TRUE(boxes[0].owned);
    EXPECT_EQ(LogExists(), expected.end != RunEnd::Complete) << "the log stays after a failure";
    if (LogExists()) {
        const auto entries = ReadLogEntries();
        ASSERT_FALSE(entries.empty());
        EXPECT_EQ(entries.back(), Entry(expected.caption, expected.box));
    } else {
        EXPECT_EQ(m_unit->Uploads().size(), files.size()) << "a complete run stored every file";
        for (const auto& upload : m_unit->Uploads())
            EXPECT_EQ(upload.problem, "") << upload.storName;
        for (const SetFile& f : files)
            EXPECT_EQ(ReadBytes(config.storeDir + "/" + f.name), ReadBytes(f.name)) << f.name;
    }
    if (!row.version.empty()) {
        EXPECT_EQ(m_runner->View().Control(IDC_VERSION_LINE).text, row.version);
    }

    const std::vector<std::string> lines = SettledCommands(*m_unit);
    auto at = lines.end();
    for (auto it = lines.begin(); it != lines.end(); ++it) {
        if (!row.anchor.empty() && it->rfind(row.anchor, 0) == 0)
            at = it;
    }
    if (row.anchor.empty()) {
        at = lines.begin();
    } else {
        ASSERT_NE(at, lines.end()) << "the unit never saw " << row.anchor;
        ++at;
    }
    EXPECT_EQ(std::vector<std::string>(at, lines.end()), row.after)
        << "what the unit received after the fault";

    // Protocol time, with three seconds of real time for the work between the waits.
    EXPECT_GE(tookS, row.window.minS * scale) << "ended before its bound";
    EXPECT_LE(tookS, row.window.maxS * scale + 3) << "ended after its bound";
}

INSTANTIATE_TEST_SUITE_P(Rows, FaultMatrixTest, ::testing::Range<size_t>(0, kRowCount),
                         [](const ::testing::TestParamInfo<size_t>& info) {
                             return std::string(kRows[info.param].name);
                         });

} // namespace
