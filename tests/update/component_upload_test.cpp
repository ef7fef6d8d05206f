// The component steps of a run against the simulated unit: every byte and record header of a
// full update set, the bar and the label fonts of each variant, and the ways a step fails.

#include "tests/update/component_upload_fixture.h"

TEST_F(ComponentUploadTest, FullUpdateSetArrivesByteForByteWithItsHeaders) {
    sim::UnitConfig config;
    config.restartRefuseMs = 200;
    sim::Unit& unit = StartUnit(85, config);
    // In the order the run sends them: the CPU program, then every component's files as the
    // folder scan lists them.
    const std::vector<Expected> set = {
        {"kq12.cpu", 150000, "", 0},       {"fpga5m.bin", 65536, "k_FP", 2},
        {"Rfpga.bin", 65537, "k_FP2", 3},  {"oem_a.htm", 300, "k_Web0", 4},
        {"oem_b.htm", 5000, "k_Web0", 4},  {"oem_c.html", 70000, "k_Web0", 4},
        {"oem_d.jpg", 12345, "k_Web0", 4}, {"oem_e.gif", 7, "k_Web0", 4},
        {"index.htm", 100, "k_Web1", 5},   {"page.html", 200, "k_Web1", 5},
        {"pic.jpg", 131072, "k_Web1", 5},  {"anim.gif", 999, "k_Web1", 5},
        {"CUR1.bmp", 2000, "k_Cr", 6},     {"CUR2.bmp", 2001, "k_Cr", 6},
        {"BUT1.bmp", 2002, "k_Cr", 6},     {"ICON1.bmp", 4000, "k_Ic", 7},
        {"ICON2.bmp", 4001, "k_Ic", 7},    {"s1.sdt", 1000, "k_Sd", 8},
        {"s2.sdt", 800, "k_Sd", 8},        {"shading_table_long.sdt", 1500, "k_Sd", 8},
        {"g1.tbl", 256, "k_Gm", 9},        {"g2.tbl", 512, "k_Gm", 9},
        {"sc1.cst", 10, "k_Mcs", 10},      {"sc2.cst", 20, "k_Mcs", 10},
        {"LOGO.bmp", 30000, "k_Lg", 11},   {"Tfpga.bin", 1, "k_FP3", 2},
    };
    unsigned seed = 1;
    for (const Expected& f : set)
        WriteBytes(f.name, PatternBytes(f.size, seed++));
    WriteTextFile("KQVorlink.prm", "KQ-A2  Update\nA\nD\n");
    Open();

    ASSERT_EQ(RunAgainst(85), RunEnd::Complete);

    const auto uploads = unit.Uploads();
    ASSERT_EQ(uploads.size(), set.size());
    for (size_t i = 0; i < set.size(); ++i) {
        const Expected& f = set[i];
        const sim::StoredUpload& up = uploads[i];
        SCOPED_TRACE(f.name);
        EXPECT_EQ(up.problem, "");
        EXPECT_EQ(up.storName, f.name);
        EXPECT_EQ(up.selector, f.selector);
        EXPECT_EQ(up.hasHeader, !f.selector.empty());
        if (up.hasHeader) {
            EXPECT_EQ(up.headerName, f.name.substr(0, 16));
            EXPECT_EQ(up.headerLength, f.size);
            EXPECT_EQ(up.headerKind, f.kind);
        }
        EXPECT_TRUE(up.content == ReadBytes(f.name)) << "content differs";
        EXPECT_TRUE(ReadBytes(m_folder->Path() / "unit-store" / f.name) == ReadBytes(f.name))
            << "stored file differs";
    }
    const auto commands = unit.Commands();
    EXPECT_EQ(unit.Restarts(), 1);
    EXPECT_EQ(CountOf(commands, "telnet: u_soft"), 1u);
    EXPECT_EQ(CountOf(commands, "EXCM u_soft"), 11u) << "one write per component but the CPU's";
    ASSERT_GE(commands.size(), 2u);
    EXPECT_EQ(commands[commands.size() - 2], "EXCM w_stupall");
    EXPECT_EQ(commands.back(), "QUIT");

    auto& view = m_runner->View();
    for (int id : {IDC_STEP1, IDC_STEP2, IDC_STEP3, IDC_STEP4, IDC_STEP5, IDC_STEP6, IDC_STEP7,
                   IDC_STEP8, IDC_STEP9, IDC_STEP10, IDC_STEP11, IDC_STEP12, IDC_DEFAULT_SETTING}) {
        SCOPED_TRACE(id);
        EXPECT_TRUE(view.Control(id).visible);
        EXPECT_EQ(FontWeights(id), (std::vector<int64_t>{700, 400}));
    }
    EXPECT_EQ(view.Control(IDC_VERSION_LINE).text, "KQ-A2.01.02.45 (Done)");
    EXPECT_FALSE(LogExists());
}

TEST_F(ComponentUploadTest, SingleFileBarCountsBytesAndLabelTurnsBoldThenNormal) {
    StartUnit(86);
    WriteBytes("LOGO.bmp", PatternBytes(200000, 86));
    Open();
    ASSERT_EQ(RunAgainst(86), RunEnd::Complete);
    EXPECT_EQ(Progress(),
              Joined<ProgressEvent>(
                  {{{"range", 0, 200000}}, ProgressOfTransfer(200000 + 32), kWriteAndEnd}));
    EXPECT_EQ(FontWeights(IDC_STEP11), (std::vector<int64_t>{700, 400}));
    const auto status = EventsFor(IDC_STATUS, "text");
    std::vector<std::string> texts;
    for (const auto& e : status)
        texts.push_back(e.text);
    EXPECT_EQ(texts,
              (std::vector<std::string>{"connecting...", "downloading...", "writing...", ""}));
}

TEST_F(ComponentUploadTest, ListBarCountsFilesAndPassesOverAFileEmptiedSinceTheScan) {
    sim::Unit& unit = StartUnit(87);
    for (const char* name : {"s1.sdt", "s2.sdt", "s3.sdt"})
        WriteBytes(name, PatternBytes(100, 87));
    Open();
    std::filesystem::resize_file("s2.sdt", 0);
    KeepLogAfterSuccess();

    ASSERT_EQ(RunAgainst(87), RunEnd::Complete);

    EXPECT_EQ(Progress(),
              Joined<ProgressEvent>(
                  {{{"range", 0, 3}, {"pos", 1, 0}, {"range", 0, 3}, {"pos", 3, 0}, {"pos", 0, 0}},
                   kWriteAndEnd}));
    EXPECT_EQ(FontWeights(IDC_STEP8), (std::vector<int64_t>{700, 400}));
    const auto uploads = unit.Uploads();
    ASSERT_EQ(uploads.size(), 2u);
    EXPECT_EQ(uploads[0].storName, "s1.sdt");
    EXPECT_EQ(uploads[1].storName, "s3.sdt");
    const auto log = KeptLog();
    EXPECT_EQ(CountOf(log, Entry("", "Shading Data File Name : s1.sdt")), 1u);
    EXPECT_EQ(CountOf(log, Entry("", "Shading Data File Name : s2.sdt")), 0u);
    EXPECT_EQ(CountOf(log, Entry(kTx, "s3.sdt")), 1u) << "the record reads as its name";
}

TEST_F(ComponentUploadTest, ListOfOnlyEmptyFilesIsStillSelectedAndWritten) {
    sim::Unit& unit = StartUnit(88);
    WriteBytes("g1.tbl", PatternBytes(10, 1));
    WriteBytes("g2.tbl", PatternBytes(10, 2));
    Open();
    std::filesystem::resize_file("g1.tbl", 0);
    std::filesystem::resize_file("g2.tbl", 0);

    ASSERT_EQ(RunAgainst(88), RunEnd::Complete);
    EXPECT_TRUE(unit.Uploads().empty());
    const auto commands = unit.Commands();
    const auto selector = std::find(commands.begin(), commands.end(), "EXCM k_Gm");
    ASSERT_NE(selector, commands.end());
    EXPECT_EQ(*(selector + 1), "EXCM u_soft");
    EXPECT_EQ(Progress(), Joined<ProgressEvent>({{{"pos", 0, 0}}, kWriteAndEnd}));
}

TEST_F(ComponentUploadTest, RefusedSelectorEndsTheProgramBeforeAnyUpload) {
    sim::UnitConfig config;
    config.faults.push_back(
        {Fault::Trigger::Command, "EXCM k_Sd", Fault::Action::Reply, "550 Component busy."});
    sim::Unit& unit = StartUnit(89, config);
    WriteBytes("s1.sdt", PatternBytes(100, 89));
    WriteBytes("LOGO.bmp", PatternBytes(100, 90));
    Open();

    ASSERT_EQ(RunAgainst(89), RunEnd::ProgramEnded);
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0].text, "550 Component busy.\r\n");
    EXPECT_EQ(Boxes()[0].style, platform::kMbIconWarning);
    EXPECT_TRUE(TimerStoppedBeforeBox());
    EXPECT_EQ(unit.Commands().back(), "EXCM k_Sd") << "no upload, no later component";
    EXPECT_TRUE(unit.Uploads().empty());
    EXPECT_EQ(FontWeights(IDC_STEP8), (std::vector<int64_t>{700, 400}));
    EXPECT_EQ(ReadLogEntries().back(), Entry(kRx, "550 Component busy.\r\n"));
    ExpectEndedAfterFailure(unit);
}

TEST_F(ComponentUploadTest, RefusedWriteCommandEndsTheProgram) {
    sim::UnitConfig config;
    config.faults.push_back(
        {Fault::Trigger::Command, "EXCM u_soft", Fault::Action::Reply, "451 Write failed."});
    sim::Unit& unit = StartUnit(90, config);
    WriteBytes("Rfpga.bin", PatternBytes(5000, 90));
    WriteBytes("LOGO.bmp", PatternBytes(100, 91));
    Open();

    ASSERT_EQ(RunAgainst(90), RunEnd::ProgramEnded);
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0].text, "451 Write failed.\r\n");
    EXPECT_EQ(unit.Uploads().size(), 1u);
    EXPECT_EQ(CountOf(unit.Commands(), "EXCM k_Lg"), 0u);
    EXPECT_EQ(FontWeights(IDC_STEP3), (std::vector<int64_t>{700, 400}));
    ExpectEndedAfterFailure(unit);
}

TEST_F(ComponentUploadTest, FileGoneSinceTheScanIsNamedBeforeAnythingIsSent) {
    sim::Unit& unit = StartUnit(91);
    for (const char* name : {"s1.sdt", "s2.sdt", "s3.sdt", "s4.sdt"})
        WriteBytes(name, PatternBytes(100, 91));
    Open();
    std::filesystem::remove("s2.sdt");
    // A directory by a component's name is no file either.
    std::filesystem::remove("s3.sdt");
    std::filesystem::create_directory("s3.sdt");

    ASSERT_EQ(RunAgainst(91), RunEnd::ProgramEnded);
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0].text, "\"s2.sdt\" is not exist.") << "the first missing one in order";
    EXPECT_EQ(Boxes()[0].style, platform::kMbIconWarning);
    EXPECT_TRUE(TimerStoppedBeforeBox());
    EXPECT_EQ(ReadLogEntries().back(), Entry("Error", "\"s2.sdt\" is not exist."));
    EXPECT_EQ(unit.Commands().back(), "CWD \\UpdateBx") << "nothing sent for the component";
    EXPECT_TRUE(FontWeights(IDC_STEP8).empty()) << "the step had not begun";
    ExpectEndedAfterFailure(unit);
}

TEST_F(ComponentUploadTest, FileThatCannotBeOpenedShowsThePlatformError) {
    sim::Unit& unit = StartUnit(92);
    for (const char* name : {"s1.sdt", "s2.sdt"})
        WriteBytes(name, PatternBytes(100, 92));
    Open();
    // A local socket by the file's name is listed by the directory but refuses to be opened,
    // also to root.
    std::filesystem::remove("s2.sdt");
    const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(s, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strcpy(addr.sun_path, "s2.sdt");
    ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);

    const RunEnd end = RunAgainst(92);
    ::close(s);
    ASSERT_EQ(end, RunEnd::ProgramEnded);
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0].text.rfind("Error 0x", 0), 0u) << Boxes()[0].text;
    EXPECT_EQ(Boxes()[0].caption, "KQVorlink");
    EXPECT_EQ(Boxes()[0].style, platform::kMbIconWarning);
    EXPECT_FALSE(Boxes()[0].owned);
    EXPECT_EQ(ReadLogEntries().back(), Entry("Error", Boxes()[0].text));
    ASSERT_EQ(unit.Uploads().size(), 1u);
    EXPECT_EQ(unit.Uploads()[0].storName, "s1.sdt");
    EXPECT_EQ(CountOf(unit.Commands(), "EXCM u_soft"), 0u);
    EXPECT_EQ(FontWeights(IDC_STEP8), (std::vector<int64_t>{700, 400}));
    ExpectEndedAfterFailure(unit);
}

TEST_F(ComponentUploadTest, FileThatCannotBeReadWholeEndsTheProgramSilently) {
    const char* attribute = "/sys/devices/system/cpu/online";
    const auto size = platform::RegularFileSize(attribute);
    if (!size || *size < 64)
        GTEST_SKIP() << "no attribute file with a page-sized report here";
    sim::Unit& unit = StartUnit(93);
    WriteBytes("s1.sdt", PatternBytes(100, 93));
    // Reports a page, yields a few bytes.
    std::filesystem::create_symlink(attribute, "s2.sdt");
    Open();

    ASSERT_EQ(RunAgainst(93), RunEnd::ProgramEnded);
    EXPECT_TRUE(Boxes().empty());
    EXPECT_EQ(unit.Uploads().size(), 1u);
    EXPECT_EQ(CountOf(unit.Commands(), "EXCM u_soft"), 0u);
    EXPECT_EQ(FontWeights(IDC_STEP8), (std::vector<int64_t>{700, 400}));
    ExpectEndedAfterFailure(unit);
}

TEST_F(ComponentUploadTest, FileTooLargeForARecordIsRefusedBeforeTheComponentStarts) {
    sim::Unit& unit = StartUnit(94);
    WriteBytes("s1.sdt", PatternBytes(100, 94));
    MakeSparseFile("s2.sdt", 4294967296ull); // 4 GiB without using the disk
    Open();

    ASSERT_EQ(RunAgainst(94), RunEnd::ProgramEnded);
    const std::string text =
        "\"s2.sdt\" is too large to upload (4294967296 bytes; the limit is 4294967263 bytes).";
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0].text, text);
    EXPECT_EQ(Boxes()[0].style, platform::kMbIconWarning);
    EXPECT_TRUE(TimerStoppedBeforeBox());
    EXPECT_EQ(ReadLogEntries().back(), Entry("Error", text));
    EXPECT_EQ(unit.Commands().back(), "CWD \\UpdateBx") << "nothing of the component was sent";
    EXPECT_TRUE(FontWeights(IDC_STEP8).empty());
    ExpectEndedAfterFailure(unit);
}
