// The simulated unit, driven by a tiny raw-socket FTP client of the test's own.

#include <cstdlib>
#include <sstream>
#include <thread>

#include "tests/support/sim_test_support.h"

namespace {

using namespace simtest;

TEST_F(SimUnitTest, LogInIdentificationAndUpdateModeDialogue) {
    sim::Unit& unit = Start(Config("127.0.0.30"));
    auto early = Peer::Connect("127.0.0.30", 21);
    ASSERT_TRUE(early);
    early->Reply();
    EXPECT_EQ(early->Command("EXCM r_INF").substr(0, 4), "530 ") << "commands need a log-in";
    EXPECT_EQ(early->Command("USER root").substr(0, 4), "530 ");
    EXPECT_EQ(early->Command("PASS").substr(0, 4), "503 ");
    // One session at a time: the next one is greeted when the first has ended.
    auto waiting = Peer::Connect("127.0.0.30", 21);
    ASSERT_TRUE(waiting);
    EXPECT_EQ(waiting->ReceiveOnce(300), "") << "no greeting while the first session runs";
    early->Close();
    EXPECT_EQ(waiting->Reply().substr(0, 4), "220 ");
    waiting->Close();

    Peer ctrl = LogIn("127.0.0.30");
    const std::string info = ctrl.Command("EXCM r_INF");
    EXPECT_EQ(info.substr(0, 4), "200 ");
    EXPECT_NE(info.find("KQ-A2"), std::string::npos);
    EXPECT_EQ(ctrl.Command("EXCM uname"), "200 KQ-A2.01.02.45\r\n");
    EXPECT_EQ(ctrl.Command("EXCM k_prism").substr(0, 4), "200 ");
    EXPECT_EQ(ctrl.Command("EXCM c_Varek").substr(0, 4), "200 ");
    EXPECT_EQ(ctrl.Command("CWD \\UpdateBx").substr(0, 4), "250 ");
    EXPECT_EQ(ctrl.Command("CWD \\Elsewhere").substr(0, 4), "550 ");
    EXPECT_EQ(ctrl.Command("EXCM w_stupall").substr(0, 4), "200 ");
    EXPECT_EQ(ctrl.Command("EXCM u_soft").substr(0, 4), "550 ") << "nothing was selected";
    EXPECT_EQ(ctrl.Command("EXCM k_Nope").substr(0, 4), "500 ");
    EXPECT_EQ(ctrl.Command("FROB").substr(0, 4), "500 ");
    // An overlong line gets one refusal and the dialogue goes on.
    EXPECT_EQ(ctrl.Command(std::string(10000, 'A')).substr(0, 4), "500 ");
    EXPECT_EQ(ctrl.Command("NOOP").substr(0, 4), "200 ");
    EXPECT_EQ(ctrl.Command("QUIT").substr(0, 4), "221 ");
    EXPECT_FALSE(ctrl.ReceiveOnce(1000)) << "QUIT closes the connection";

    const auto commands = unit.Commands();
    ASSERT_GE(commands.size(), 18u);
    EXPECT_EQ(commands[3], "USER anonymous");
    EXPECT_EQ(commands[4], "PASS");
    EXPECT_EQ(commands[9], "CWD \\UpdateBx");
    EXPECT_EQ(commands.back(), "QUIT");
}

TEST_F(SimUnitTest, OtherModelAndOddVersionTexts) {
    auto config = Config("127.0.0.31");
    config.model = "KQ-B2";
    config.versionText = "1..2.3.07";
    Start(config);
    Peer ctrl = LogIn("127.0.0.31");
    EXPECT_NE(ctrl.Command("EXCM r_INF").find("KQ-B2"), std::string::npos);
    EXPECT_EQ(ctrl.Command("EXCM uname"), "200 1..2.3.07\r\n");
    ctrl.Close();
    m_unit.reset();

    config.infoReply = "200 NO MODEL HERE";
    config.unameReply = "200 X\r\n";
    Start(config);
    Peer again = LogIn("127.0.0.31");
    EXPECT_EQ(again.Command("EXCM r_INF"), "200 NO MODEL HERE\r\n");
    EXPECT_EQ(again.Command("EXCM uname"), "200 X\r\n");
}

TEST_F(SimUnitTest, PortMustNameTheControlPeerAndParseStrictly) {
    Start(Config("127.0.0.32"));
    Peer ctrl = LogIn("127.0.0.32");
    DataListener listener;
    EXPECT_EQ(ctrl.Command(listener.PortCommand("127,0,0,5")), "500 Illegal PORT command.\r\n");
    EXPECT_EQ(ctrl.Command("STOR  A.bin").substr(0, 4), "425 ") << "refused PORT is forgotten";
    EXPECT_FALSE(listener.Accept(300)) << "no data connection to a foreign address";
    EXPECT_EQ(ctrl.Command("PORT 127,0,0,1,0,21"), "500 Illegal PORT command.\r\n");
    for (const char* bad : {"PORT 127,0,0,1,4", "PORT 127,0,0,1,4,256", "PORT 127,0,0,1,4,2,1",
                            "PORT 127,0,0,1,,2", "PORT 127.0.0.1,4,2", "PORT"}) {
        EXPECT_EQ(ctrl.Command(bad).substr(0, 4), "501 ") << bad;
    }
    EXPECT_EQ(ctrl.Command(listener.PortCommand()).substr(0, 4), "200 ");
    EXPECT_EQ(ctrl.Command("STOR  ../escape.bin").substr(0, 4), "553 ");
}

TEST_F(SimUnitTest, RecordsAreCheckedAndStoredByteExact) {
    sim::Unit& unit = Start(Config("127.0.0.33"));
    Peer ctrl = LogIn("127.0.0.33");
    const auto logo = Pattern(70000); // more than one receive
    EXPECT_EQ(ctrl.Command("EXCM k_Lg").substr(0, 4), "200 ");
    // The tool lowers the extension in STOR only.
    EXPECT_EQ(Upload(ctrl, "LOGO.bmp", Record("LOGO.BMP", 11, logo)), "226 Transfer complete.\r\n");
    EXPECT_EQ(ReadFile(m_dir / "store" / "LOGO.bmp"), logo);
    EXPECT_EQ(ctrl.Command("EXCM u_soft").substr(0, 4), "200 ");

    // The 2M FPGA program is selected by k_FP3 but carries kind 2; a name of 16 characters
    // or more fills the field without terminator.
    EXPECT_EQ(ctrl.Command("EXCM k_FP3").substr(0, 4), "200 ");
    const std::string longName = "FPGA3_PROGRAM_V2.rbf";
    EXPECT_EQ(Upload(ctrl, longName, Record(longName, 2, Pattern(10))).substr(0, 4), "226 ");
    EXPECT_EQ(Upload(ctrl, "EMPTY.bin", Record("EMPTY.bin", 2, {})).substr(0, 4), "226 ");
    EXPECT_EQ(ctrl.Command("EXCM u_soft").substr(0, 4), "200 ");

    // With no selection the bytes are kept as they are: the bare CPU program.
    const auto cpu = Pattern(1000);
    EXPECT_EQ(Upload(ctrl, "CPU.bin", cpu).substr(0, 4), "226 ");
    EXPECT_EQ(ReadFile(m_dir / "store" / "CPU.bin"), cpu);

    // A session starts in ASCII type: without TYPE I every CR LF is stored as LF.
    ctrl.Command("QUIT");
    Peer fresh = LogIn("127.0.0.33");
    const std::vector<uint8_t> lines{'a', '\r', '\n', '\r', 'b', '\r', '\n'};
    EXPECT_EQ(Upload(fresh, "TEXT.txt", lines, "").substr(0, 4), "226 ");
    EXPECT_EQ(ReadFile(m_dir / "store" / "TEXT.txt"),
              (std::vector<uint8_t>{'a', '\n', '\r', 'b', '\n'}));

    const auto uploads = unit.Uploads();
    ASSERT_EQ(uploads.size(), 5u);
    EXPECT_EQ(uploads[0].selector, "k_Lg");
    EXPECT_TRUE(uploads[0].hasHeader);
    EXPECT_EQ(uploads[0].headerName, "LOGO.BMP");
    EXPECT_EQ(uploads[0].headerLength, 70000u);
    EXPECT_EQ(uploads[0].headerKind, 11u);
    EXPECT_EQ(uploads[1].headerName, longName.substr(0, 16));
    EXPECT_TRUE(uploads[2].content.empty());
    EXPECT_FALSE(uploads[3].hasHeader);
    EXPECT_EQ(uploads[3].selector, "");
    for (const auto& up : uploads) {
        EXPECT_EQ(up.problem, "") << up.storName;
    }
}

TEST_F(SimUnitTest, BadRecordsAreRefusedAndNotStored) {
    sim::Unit& unit = Start(Config("127.0.0.34"));
    Peer ctrl = LogIn("127.0.0.34");
    const auto content = Pattern(100);
    ctrl.Command("EXCM k_FP");
    EXPECT_EQ(Upload(ctrl, "FPGA.rbf", Record("FPGA.rbf", 3, content)).substr(0, 4), "550 ");
    EXPECT_EQ(Upload(ctrl, "FPGA.rbf", Record("FPGA.rbf", 2, content, -1)).substr(0, 4), "550 ");
    EXPECT_EQ(Upload(ctrl, "FPGA.rbf", Record("OTHER.rbf", 2, content)).substr(0, 4), "550 ");
    EXPECT_EQ(Upload(ctrl, "FPGA.rbf", Pattern(31)).substr(0, 4), "550 ");
    auto reserved = Record("FPGA.rbf", 2, content);
    reserved[28] = 1;
    EXPECT_EQ(Upload(ctrl, "FPGA.rbf", reserved).substr(0, 4), "550 ");
    // A record sent in ASCII type loses bytes and no longer matches its length field.
    ctrl.Command("QUIT");
    Peer ascii = LogIn("127.0.0.34");
    ascii.Command("EXCM k_FP");
    EXPECT_EQ(Upload(ascii, "FPGA.rbf", Record("FPGA.rbf", 2, {'\r', '\n'}), "").substr(0, 4),
              "550 ");
    EXPECT_FALSE(fs::exists(m_dir / "store" / "FPGA.rbf"));

    const auto uploads = unit.Uploads();
    ASSERT_EQ(uploads.size(), 6u);
    EXPECT_NE(uploads[0].problem.find("kind 3"), std::string::npos) << uploads[0].problem;
    EXPECT_NE(uploads[1].problem.find("length"), std::string::npos) << uploads[1].problem;
    EXPECT_NE(uploads[2].problem.find("name"), std::string::npos) << uploads[2].problem;
    EXPECT_NE(uploads[3].problem.find("shorter"), std::string::npos) << uploads[3].problem;
    EXPECT_NE(uploads[4].problem.find("reserved"), std::string::npos) << uploads[4].problem;
}

TEST_F(SimUnitTest, TelnetSilenceAfterUSoftThenRestartRefusesConnections) {
    auto config = Config("127.0.0.35");
    config.restartRefuseMs = 800;
    sim::Unit& unit = Start(config);
    auto telnet = Peer::Connect("127.0.0.35", 23);
    ASSERT_TRUE(telnet);
    Peer ctrl = LogIn("127.0.0.35");
    telnet->Send(std::string("\xFF\xFB\x18\xFF\xFD\x03\xFF\xFB\x03\xFF\xFD\x01\xFF\xFB\x1F", 15));
    auto answers = telnet->ReceiveOnce();
    ASSERT_TRUE(answers && !answers->empty());
    EXPECT_EQ(answers->size() % 3, 0u);
    for (size_t i = 0; i < answers->size(); i += 3) {
        EXPECT_EQ(uint8_t((*answers)[i]), 0xFF);
        EXPECT_TRUE(uint8_t((*answers)[i + 1]) == 0xFD || uint8_t((*answers)[i + 1]) == 0xFB);
    }
    EXPECT_EQ(Upload(ctrl, "CPU.bin", Pattern(5000)).substr(0, 4), "226 ");
    telnet->Send("u_soft\r\n");
    EXPECT_EQ(telnet->ReceiveOnce(500), "") << "the unit says nothing while it writes";
    EXPECT_EQ(unit.Restarts(), 0) << "no restart while the tool holds its connections";

    ctrl.Close();
    telnet->Close();
    const auto closedAt = std::chrono::steady_clock::now();
    for (int i = 0; i < 100 && unit.Restarts() == 0; ++i) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(unit.Restarts(), 1);
    EXPECT_FALSE(Peer::Connect("127.0.0.35", 21)) << "refused during the restart";
    std::optional<Peer> back;
    for (int i = 0; i < 40 && !back; ++i) {
        std::this_thread::sleep_for(50ms);
        back = Peer::Connect("127.0.0.35", 21);
    }
    ASSERT_TRUE(back);
    EXPECT_GE(std::chrono::steady_clock::now() - closedAt, 700ms);
    EXPECT_EQ(back->Reply().substr(0, 4), "220 ");
    const auto commands = unit.Commands();
    EXPECT_NE(std::find(commands.begin(), commands.end(), "telnet: u_soft"), commands.end());
    EXPECT_NE(std::find(commands.begin(), commands.end(), "restart"), commands.end());
}

TEST_F(SimUnitTest, ScriptedRepliesDelaysSplitsAndClosing) {
    auto config = Config("127.0.0.37");
    config.faults = {
        MakeFault(Fault::Trigger::Command, "EXCM k_Lg", Fault::Action::Reply,
                  "550 Selector refused."),
        MakeFault(Fault::Trigger::Command, "EXCM uname", Fault::Action::Split, "", 150),
        MakeFault(Fault::Trigger::Command, "EXCM k_prism", Fault::Action::Delay, "", 300),
        MakeFault(Fault::Trigger::Command, "NOOP", Fault::Action::Close, "", 0, 2),
        MakeFault(Fault::Trigger::TelnetConnect, "", Fault::Action::Close),
        MakeFault(Fault::Trigger::TelnetUSoft, "", Fault::Action::Reply, "ERR write failed"),
    };
    Start(config);
    Peer ctrl = LogIn("127.0.0.37");
    EXPECT_EQ(ctrl.Command("EXCM k_Lg"), "550 Selector refused.\r\n");
    EXPECT_EQ(ctrl.Command("EXCM k_Lg").substr(0, 4), "200 ") << "fires on the first time only";

    ctrl.Send("EXCM uname\r\n");
    auto first = ctrl.ReceiveOnce();
    auto second = ctrl.ReceiveOnce();
    ASSERT_TRUE(first && second);
    EXPECT_FALSE(first->empty());
    EXPECT_FALSE(second->empty());
    EXPECT_EQ(*first + *second, "200 KQ-A2.01.02.45\r\n");

    const auto sent = std::chrono::steady_clock::now();
    EXPECT_EQ(ctrl.Command("EXCM k_prism").substr(0, 4), "200 ");
    EXPECT_GE(std::chrono::steady_clock::now() - sent, 280ms);

    EXPECT_EQ(ctrl.Command("NOOP").substr(0, 4), "200 ");
    ctrl.Send("NOOP\r\n");
    EXPECT_FALSE(ctrl.ReceiveOnce()) << "closed without an answer on the second NOOP";

    auto hungUp = Peer::Connect("127.0.0.37", 23);
    ASSERT_TRUE(hungUp);
    EXPECT_FALSE(hungUp->ReceiveOnce()) << "the first telnet connection is closed at once";
    auto telnet = Peer::Connect("127.0.0.37", 23);
    ASSERT_TRUE(telnet);
    telnet->Send("\xFF\xFD\x01");
    EXPECT_EQ(telnet->ReceiveOnce(), "\xFF\xFB\x01") << "the second one is served";
    telnet->Send("u_soft\r\n");
    EXPECT_EQ(telnet->Reply(), "ERR write failed\r\n");
    telnet->Close();
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(m_unit->Restarts(), 0) << "a failed write is not followed by a restart";
}

TEST_F(SimUnitTest, SilenceAndDataConnectionFaults) {
    auto config = Config("127.0.0.38");
    config.faults = {
        MakeFault(Fault::Trigger::DataConnect, "", Fault::Action::Stranger, ""),
        MakeFault(Fault::Trigger::Command, "STOR", Fault::Action::NoConnect, "", 0, 2),
        MakeFault(Fault::Trigger::Command, "EXCM c_Varek", Fault::Action::Silent),
    };
    sim::Unit& unit = Start(config);
    Peer ctrl = LogIn("127.0.0.38");

    // A stranger knocks first, from another loopback address, then the unit connects itself.
    DataListener listener;
    ctrl.Command(listener.PortCommand());
    ctrl.Send("STOR  A.bin\r\n");
    in_addr from{};
    auto stranger = listener.Accept(3000, &from);
    ASSERT_TRUE(stranger);
    EXPECT_EQ(sim::net::AddressText(from), "127.0.0.254");
    EXPECT_FALSE(stranger->ReceiveOnce()) << "the stranger leaves at once";
    auto real = listener.Accept(3000, &from);
    ASSERT_TRUE(real);
    EXPECT_EQ(sim::net::AddressText(from), "127.0.0.38");
    EXPECT_EQ(ctrl.Reply().substr(0, 4), "150 ");
    real->ShutdownWrite();
    EXPECT_EQ(ctrl.Reply().substr(0, 4), "226 ");

    ctrl.Command(listener.PortCommand());
    EXPECT_EQ(ctrl.Command("STOR  B.bin"), "425 Can't open data connection.\r\n");
    EXPECT_FALSE(listener.Accept(200));

    ctrl.Send("EXCM c_Varek\r\n");
    EXPECT_EQ(ctrl.ReceiveOnce(500), "") << "silent, connection open";
    ctrl.Send("NOOP\r\n");
    EXPECT_EQ(ctrl.ReceiveOnce(300), "") << "and silent from then on";
    EXPECT_TRUE(unit.WaitForCommands(8, 1s));
}

TEST_F(SimUnitTest, StopsByItselfWhenIdleAndBindsLoopbackOnly) {
    auto config = Config("127.0.0.39");
    config.idleTimeoutMs = 300;
    sim::Unit& unit = Start(config);
    auto ctrl = Peer::Connect("127.0.0.39", 21);
    ASSERT_TRUE(ctrl);
    const auto start = std::chrono::steady_clock::now();
    while (unit.Running() && std::chrono::steady_clock::now() - start < 3s) {
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_FALSE(unit.Running());
    EXPECT_EQ(ctrl->Reply().substr(0, 4), "220 ");
    EXPECT_FALSE(ctrl->ReceiveOnce()) << "the open session ends with the unit";
    EXPECT_FALSE(Peer::Connect("127.0.0.39", 21));

    for (const char* address : {"10.0.0.1", "0.0.0.0", "128.0.0.1", "localhost", ""}) {
        auto outside = Config("127.0.0.39");
        outside.address = address;
        sim::Unit refused(outside);
        EXPECT_FALSE(refused.Start()) << address;
        EXPECT_FALSE(refused.Running());
        EXPECT_FALSE(refused.Error().empty());
    }
}

TEST_F(SimUnitTest, AcceptsAPlainFtpClientUpload) {
    if (std::system("command -v curl >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "curl not installed";
    }
    auto config = Config("127.0.0.36");
    config.strict = false; // "STOR name" with one blank
    sim::Unit& unit = Start(config);
    const auto bytes = Pattern(200000);
    {
        std::ofstream out(m_dir / "plain.dat", std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), long(bytes.size()));
    }
    const std::string command = "timeout 20 curl -s -S -P 127.0.0.1 -T " +
                                (m_dir / "plain.dat").string() + " ftp://127.0.0.36/";
    EXPECT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(ReadFile(m_dir / "store" / "plain.dat"), bytes);
    ASSERT_EQ(unit.Uploads().size(), 1u);
    EXPECT_FALSE(unit.Uploads()[0].hasHeader);
}

TEST(SimScenarioTest, ReadsSettingsAndFaults) {
    std::istringstream in("# a unit that refuses the logo\n"
                          "model KQ-B2\n"
                          "version \"KQ-B2.01.02.07\"\n"
                          "restart-refuse-ms 1500   # shortened\n"
                          "\n"
                          "command \"EXCM k_Lg\" reply \"550 Selector refused.\"\n"
                          "greeting split 40 occurrence 2 always\n"
                          "ftp-connect refuse\n");
    sim::UnitConfig config;
    std::string error;
    ASSERT_TRUE(sim::ApplyScenario(in, config, &error)) << error;
    EXPECT_EQ(config.model, "KQ-B2");
    EXPECT_EQ(config.versionText, "KQ-B2.01.02.07");
    EXPECT_EQ(config.restartRefuseMs, 1500u);
    ASSERT_EQ(config.faults.size(), 3u);
    EXPECT_EQ(config.faults[0].match, "EXCM k_Lg");
    EXPECT_EQ(config.faults[0].text, "550 Selector refused.");
    EXPECT_EQ(config.faults[1].action, Fault::Action::Split);
    EXPECT_EQ(config.faults[1].delayMs, 40u);
    EXPECT_EQ(config.faults[1].occurrence, 2);
    EXPECT_EQ(config.faults[1].times, 0);
    EXPECT_EQ(config.faults[2].trigger, Fault::Trigger::FtpConnect);

    for (const auto& [text, where] : std::vector<std::pair<std::string, std::string>>{
             {"model KQ-A2\ncommand \"EXCM k_Lg\" reply\n", "line 2"},
             {"command \"QUIT reply \"x\"\n", "line 1"},
             {"delay 5\n", "line 1"},
             {"greeting delay soon\n", "line 1"},
             {"version \"x\" extra\n", "line 1"}}) {
        std::istringstream bad(text);
        sim::UnitConfig c;
        std::string why;
        EXPECT_FALSE(sim::ApplyScenario(bad, c, &why)) << text;
        EXPECT_EQ(why.rfind(where, 0), 0u) << why;
    }
}

} // namespace
