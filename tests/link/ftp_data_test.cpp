// Active-mode uploads to the simulated unit: the dialogue, the bytes the unit stored, the
// progress bar, and the ways the unit can refuse, fail to connect or be impersonated.

#include "tests/support/link_test_support.h"

#include <chrono>
#include <future>
#include <random>
#include <thread>

using sim::Fault;

namespace {

const std::string kRx = "PC <- Device";
const std::string kTx = "PC -> Device";

std::vector<uint8_t> RandomBytes(size_t count, unsigned seed) {
    std::mt19937 generator(seed);
    std::vector<uint8_t> bytes(count);
    for (auto& b : bytes)
        b = static_cast<uint8_t>(generator());
    return bytes;
}

// The PORT line that the unit received last.
std::string LastPortCommand(const sim::Unit& unit) {
    std::string port;
    for (const auto& c : unit.Commands()) {
        if (c.rfind("PORT ", 0) == 0)
            port = c;
    }
    return port;
}

std::vector<std::string> TransferEntries(const std::string& portLine, const std::string& stor) {
    return {Entry("", "FTP Data Socket get"),
            Entry("", "FTP Data Port bind"),
            Entry("", "Server listen"),
            Entry("", "FTP Data Port No. get"),
            Entry("", "PORT Command send"),
            Entry(kTx, portLine + "\r\n"),
            Entry(kRx, "200 PORT command successful.\r\n"),
            Entry("", "TYPE Command send"),
            Entry(kTx, "TYPE I\r\n"),
            Entry(kRx, "200 Type set to I.\r\n"),
            Entry("", "STOR Command send"),
            Entry(kTx, "STOR  " + stor + "\r\n"),
            Entry("", "Server accept"),
            Entry(kRx, "150 Opening BINARY mode data connection for " + stor + ".\r\n"),
            Entry("", "Data connection close"),
            Entry(kRx, "226 Transfer complete.\r\n")};
}

class FtpDataTest : public LinkTest {};

TEST_F(FtpDataTest, TransfersOfAnySizeArriveWholeWithTheBarFollowing) {
    sim::Unit& unit = StartUnit(50);
    LogIn();
    // The host entry may list an address by which the unit cannot reach us: it is not used.
    m_dialog->m_pLocalHost = std::vector<uint32_t>{platform::InetAddr("10.9.9.9")};

    unsigned seed = 1;
    for (const uint32_t size : {0u, 65536u, 200000u}) {
        SCOPED_TRACE(size);
        platform::DeleteFileNamed(kActivityLogName);
        headless::Desktop::Instance().ClearEvents();
        const std::vector<uint8_t> data = RandomBytes(size, seed++);
        const std::string name = "DATA" + std::to_string(size) + ".BIN";

        EXPECT_EQ(m_dialog->SendFileOverData(data.data(), size, name.c_str(), 1), 0);

        const std::string port = LastPortCommand(unit);
        EXPECT_EQ(port.rfind("PORT 127,0,0,1,", 0), 0u) << port;
        EXPECT_EQ(ReadLogEntries(), TransferEntries(port, "DATA" + std::to_string(size) + ".bin"));
        EXPECT_EQ(Progress(), ProgressOfTransfer(size));
        EXPECT_TRUE(Boxes().empty());
        const auto uploads = unit.Uploads();
        ASSERT_FALSE(uploads.empty());
        EXPECT_EQ(uploads.back().storName, "DATA" + std::to_string(size) + ".bin");
        EXPECT_TRUE(uploads.back().content == data) << "stored bytes differ";
    }
    // The control connection still serves the run.
    ReplyBuffer reply;
    EXPECT_EQ(m_dialog->Exchange(m_dialog->m_sockCtrl, "NOOP\r\n", reply, 0), 0);
}

TEST_F(FtpDataTest, WithoutProgressTheBarIsLeftAlone) {
    sim::Unit& unit = StartUnit(51);
    LogIn();
    const std::vector<uint8_t> data = RandomBytes(70000, 7);

    EXPECT_EQ(m_dialog->SendFileOverData(data.data(), 70000,
                                         "a_very_long_component_file_name_"
                                         "that_does_not_fit_64_chars.DAT",
                                         0),
              0);

    EXPECT_TRUE(Progress().empty());
    ASSERT_EQ(unit.Uploads().size(), 1u);
    EXPECT_EQ(unit.Uploads()[0].storName,
              "a_very_long_component_file_name_that_does_not_fit_64_chars.dat");
    EXPECT_TRUE(unit.Uploads()[0].content == data);
}

TEST_F(FtpDataTest, StorRefusedWithoutConnectingEndsAtOnce) {
    sim::UnitConfig config;
    config.faults.push_back(FaultOf(Fault::Trigger::Command, "STOR", Fault::Action::NoConnect,
                                    "553 LOGO.bmp: not allowed."));
    StartUnit(52, config);
    LogIn();
    platform::SetTimeScale(1.0); // the data-connection bound is a full minute

    const uint8_t data[10] = {};
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(m_dialog->SendFileOverData(data, sizeof data, "LOGO.BMP", 1), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));

    const auto entries = ReadLogEntries();
    ASSERT_EQ(entries.size(), 14u);
    EXPECT_EQ(entries[12], Entry("", "Server accept"));
    EXPECT_EQ(entries[13], Entry(kRx, "553 LOGO.bmp: not allowed.\r\n"));
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0].text, "553 LOGO.bmp: not allowed.\r\n");
    EXPECT_EQ(Boxes()[0].style, platform::kMbIconWarning);
    EXPECT_TRUE(TimerStoppedBeforeBox());
    EXPECT_TRUE(Progress().empty());
}

TEST_F(FtpDataTest, RefusalAtTheEndOfTheTransferFailsTheCall) {
    // With the logo selected the unit expects an upload record; a bare buffer is refused after
    // the unit has connected and taken the bytes.
    sim::Unit& unit = StartUnit(53);
    LogIn();
    ReplyBuffer reply;
    ASSERT_EQ(m_dialog->Exchange(m_dialog->m_sockCtrl, "EXCM k_Lg\r\n", reply, 0), 0);
    platform::DeleteFileNamed(kActivityLogName);
    headless::Desktop::Instance().ClearEvents();
    const std::vector<uint8_t> data = RandomBytes(100, 3);

    EXPECT_EQ(m_dialog->SendFileOverData(data.data(), 100, "LOGO.BMP", 1), 1);

    const auto entries = ReadLogEntries();
    ASSERT_EQ(entries.size(), 16u);
    EXPECT_EQ(entries[13].rfind(kRx + " 150 ", 0), 0u) << entries[13];
    EXPECT_EQ(entries[15].rfind(kRx + " 550 LOGO.bmp: ", 0), 0u) << entries[15];
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Entry(kRx, Boxes()[0].text), entries[15]);
    EXPECT_EQ(Boxes()[0].style, platform::kMbIconWarning);
    EXPECT_EQ(Progress(), ProgressOfTransfer(100));
    ASSERT_EQ(unit.Uploads().size(), 1u);
    EXPECT_FALSE(unit.Uploads()[0].problem.empty());
}

TEST_F(FtpDataTest, StrangerConnectingFirstIsTurnedAwayAndTheUnitServed) {
    sim::UnitConfig config;
    config.faults.push_back(FaultOf(Fault::Trigger::DataConnect, "", Fault::Action::Stranger));
    sim::Unit& unit = StartUnit(54, config);
    LogIn();
    const std::vector<uint8_t> data = RandomBytes(5000, 4);

    EXPECT_EQ(m_dialog->SendFileOverData(data.data(), 5000, "ICON.BIN", 0), 0);

    std::vector<std::string> expected = TransferEntries(LastPortCommand(unit), "ICON.bin");
    expected.insert(expected.begin() + 13,
                    Entry("", "Data connection from 127.0.0.254 refused: not the unit's address"));
    EXPECT_EQ(ReadLogEntries(), expected);
    EXPECT_TRUE(Boxes().empty());
    ASSERT_EQ(unit.Uploads().size(), 1u);
    EXPECT_TRUE(unit.Uploads()[0].content == data);
}

TEST_F(FtpDataTest, UnitThatNeverConnectsIsGivenUpAfterAMinute) {
    sim::UnitConfig config;
    config.faults.push_back(FaultOf(Fault::Trigger::DataConnect, "", Fault::Action::Silent));
    StartUnit(55, config);
    LogIn();
    platform::SetTimeScale(0.005); // a minute in 300 ms

    const uint8_t data[1] = {42};
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(m_dialog->SendFileOverData(data, 1, "X.B", 0), 1);
    const auto elapsed = std::chrono::steady_clock::now() - start;

    EXPECT_GE(elapsed, std::chrono::milliseconds(290));
    EXPECT_LT(elapsed, std::chrono::seconds(5));
    const auto entries = ReadLogEntries();
    ASSERT_EQ(entries.size(), 14u);
    EXPECT_EQ(entries[11], Entry(kTx, "STOR  X.b\r\n"));
    EXPECT_EQ(entries[12], Entry("", "Server accept"));
    EXPECT_EQ(entries[13], Entry("accept() Error", "Error : Connection timed out."));
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0].text, "Error : Connection timed out.");
    EXPECT_EQ(Boxes()[0].style, platform::kMbIconError);
}

// The control connection stays watched for the whole wait for the data connection: a unit that
// says "150" and then refuses, or hangs up, without ever connecting ends the transfer at once,
// not at the wait's bound. The unit is played by the test on a connection of its own.
TEST_F(FtpDataTest, RefusalOrHangUpAfterTheFirstAnswerToStorEndsTheWaitAtOnce) {
    struct Case {
        std::string then; // what follows "150"; empty: the unit closes the connection
        std::vector<std::string> tail;
        int icon;
    };
    const Case cases[] = {
        {"425 Can't open data connection.\r\n",
         {Entry(kRx, "425 Can't open data connection.\r\n")},
         platform::kMbIconWarning},
        {"",
         {Entry(kRx, ""), Entry("recv() Error", "Error : Connection reset by peer.")},
         platform::kMbIconError},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.then);
        platform::DeleteFileNamed(kActivityLogName);
        headless::Desktop::Instance().Reset();
        platform::Socket listening = platform::CreateTcpSocket();
        platform::SockAddrIn at{platform::InetAddr("127.0.2.250"), 0};
        ASSERT_TRUE(platform::Bind(listening, at) && platform::Listen(listening) &&
                    platform::GetSockName(listening, at));
        m_dialog->m_sockCtrl = platform::CreateTcpSocket();
        ASSERT_TRUE(platform::Connect(m_dialog->m_sockCtrl, at, 1000));
        platform::SockAddrIn peer;
        platform::Socket unit = platform::AcceptWithin(listening, 1000, peer);
        // Answers PORT, TYPE and STOR, follows with `then`, and returns how many bytes the tool
        // sent afterwards (none are allowed).
        auto script = std::async(std::launch::async, [&unit, &c] {
            char line[256];
            for (const std::string answer :
                 {"200 PORT command successful.\r\n", "200 Type set to I.\r\n",
                  "150 Opening BINARY mode data connection.\r\n"}) {
                if (platform::Receive(unit, line, sizeof line, 5000) <= 0 ||
                    platform::Send(unit, answer.data(), answer.size()) != long(answer.size()))
                    return -1L;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            if (c.then.empty()) {
                unit.Close();
                return 0L;
            }
            platform::Send(unit, c.then.data(), c.then.size());
            const long more = platform::Receive(unit, line, sizeof line, 500);
            return more < 0 ? 0L : more;
        });
        const uint8_t data[4] = {1, 2, 3, 4};

        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(m_dialog->SendFileOverData(data, sizeof data, "LOGO.BMP", 1), 1);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500))
            << "the wait's bound is 3 s at this scale";

        EXPECT_EQ(script.get(), 0) << "nothing is sent after the refusal";
        const auto entries = ReadLogEntries();
        ASSERT_GE(entries.size(), 14u);
        EXPECT_EQ(entries[12], Entry("", "Server accept"));
        std::vector<std::string> expected = {
            Entry(kRx, "150 Opening BINARY mode data connection.\r\n")};
        expected.insert(expected.end(), c.tail.begin(), c.tail.end());
        EXPECT_EQ(std::vector<std::string>(entries.begin() + 13, entries.end()), expected);
        ASSERT_EQ(Boxes().size(), 1u);
        EXPECT_EQ(Entry(c.icon == platform::kMbIconWarning ? kRx : "recv() Error", Boxes()[0].text),
                  entries.back());
        EXPECT_EQ(Boxes()[0].style, c.icon);
        EXPECT_TRUE(TimerStoppedBeforeBox());
        EXPECT_TRUE(Progress().empty());
    }
}

TEST_F(FtpDataTest, RefusedPortEndsBeforeStor) {
    sim::UnitConfig config;
    config.faults.push_back(FaultOf(Fault::Trigger::Command, "PORT", Fault::Action::Reply,
                                    "500 Illegal PORT command."));
    sim::Unit& unit = StartUnit(56, config);
    LogIn();

    const uint8_t data[1] = {1};
    EXPECT_EQ(m_dialog->SendFileOverData(data, 1, "X.B", 1), 1);

    const auto entries = ReadLogEntries();
    ASSERT_EQ(entries.size(), 7u);
    EXPECT_EQ(entries[6], Entry(kRx, "500 Illegal PORT command.\r\n"));
    EXPECT_EQ(unit.Commands().back().rfind("PORT ", 0), 0u);
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0].style, platform::kMbIconWarning);
}

} // namespace
