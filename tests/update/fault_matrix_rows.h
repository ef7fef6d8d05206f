#pragma once
// The fault matrix's rows (tests/update/fault_matrix_test.cpp), one scripted fault each.

#include "tests/update/fault_matrix_row.h"

namespace {

// Every reply 50 ms late: the unit answers each command only after the tool has read the one
// before, so that a dialogue put out of step stays out of step in the same way on every run
// (otherwise a late segment and the next reply may meet in one receive).
const Fault kEveryReplyLate = At(Trigger::Command, "", Action::Delay, "", 1, 50, 0);

const std::vector<std::string> kNothing;
const std::vector<std::string> kQuit = {"QUIT"};

// clang-format off
const Row kRows[] = {
    // The greeting.
    {"Greeting421", Set::A2, {At(Trigger::Greeting, "", Action::Reply, "421 Too many users.")},
     Refused("421 Too many users."), "", kNothing, kEarly},
    {"Greeting530", Set::B2, {At(Trigger::Greeting, "", Action::Reply, "530 Not now.")},
     Refused("530 Not now."), "", kNothing, kB2Whole},
    {"GreetingClosed", Set::B2, {At(Trigger::Greeting, "", Action::Close)},
     kHungUp, "", kNothing, kB2Whole},
    {"GreetingGarbageAccepted", Set::B2,
     {At(Trigger::Greeting, "", Action::Reply, "Welcome, whoever you are")},
     kComplete, "EXCM w_stupall", kQuit, kB2Whole},
    {"GreetingWithoutLineEnd", Set::B2, {At(Trigger::Greeting, "", Action::Raw, "220 Ready")},
     kComplete, "EXCM w_stupall", kQuit, kB2Whole},
    {"GreetingSilent", Set::B2, {At(Trigger::Greeting, "", Action::Silent)},
     kNoAnswer, "", kNothing, kReplyBound},
    // A greeting in two pieces is read whole: the dialogue stays in step. (Rows of replies in
    // pieces run at half time: the quiet period of a second outlasts the pause.)
    {"GreetingSplitIsReadWhole", Set::B2,
     {At(Trigger::Greeting, "", Action::Split, "", 1, 100), kEveryReplyLate},
     kComplete, "EXCM w_stupall", kQuit, kB2EveryReplyLate, nullptr, "", 0.5},

    // USER and PASS.
    {"User530", Set::A2, {On("USER", Action::Reply, "530 Login incorrect.")},
     Refused("530 Login incorrect."), "USER", kNothing, kEarly},
    {"User421", Set::B2, {On("USER", Action::Reply, "421 Service not available.")},
     Refused("421 Service not available."), "USER", kNothing, kB2Whole},
    {"UserClosed", Set::A2, {On("USER", Action::Close)}, kHungUp, "USER", kNothing, kEarly},
    {"UserSlowWithinTheBound", Set::A2, {At(Trigger::Command, "USER", Action::Delay, "", 1, 1000)},
     kComplete, "EXCM u_soft", kQuit, {84, 100}},
    {"UserSilent", Set::B2, {On("USER", Action::Silent)}, kNoAnswer, "USER", kNothing,
     kReplyBound},
    {"Pass530", Set::B2, {On("PASS", Action::Reply, "530 Login incorrect.")},
     Refused("530 Login incorrect."), "PASS", kNothing, kB2Whole},
    {"Pass421", Set::A2, {On("PASS", Action::Reply, "421 Timeout.")},
     Refused("421 Timeout."), "PASS", kNothing, kEarly},
    {"PassClosed", Set::B2, {On("PASS", Action::Close)}, kHungUp, "PASS", kNothing, kB2Whole},
    {"PassSilent", Set::A2, {On("PASS", Action::Silent)}, kNoAnswer, "PASS", kNothing,
     kReplyBound},

    // Identification.
    {"Info500", Set::A2, {On("EXCM r_INF", Action::Reply, "500 Unknown command.")},
     Refused("500 Unknown command."), "EXCM r_INF", kNothing, kEarly},
    {"Info450", Set::B2, {On("EXCM r_INF", Action::Reply, "450 Busy.")},
     Refused("450 Busy."), "EXCM r_INF", kNothing, kB2Whole},
    {"InfoClosed", Set::B2, {On("EXCM r_INF", Action::Close)}, kHungUp, "EXCM r_INF", kNothing,
     kB2Whole},
    {"InfoSilent", Set::B2, {On("EXCM r_INF", Action::Silent)}, kNoAnswer, "EXCM r_INF",
     kNothing, kReplyBound},
    {"InfoWithoutModel", Set::A2, {On("EXCM r_INF", Action::Reply, "200 Camera control unit.")},
     kWrongModel, "EXCM r_INF", {"EXCM uname"}, kEarly},
    // The model stands behind the first 64 KiB of the reply, which is all that is kept of it;
    // the rest is read and dropped, so that "EXCM uname" gets its own answer.
    {"InfoOverlong", Set::B2,
     {On("EXCM r_INF", Action::Reply, "200 " + std::string(70000, 'x') + " Model KQ-B2")},
     kWrongModel, "EXCM r_INF", {"EXCM uname"}, kB2Whole},
    {"Uname550", Set::A2, {On("EXCM uname", Action::Reply, "550 No version.")},
     Refused("550 No version."), "EXCM uname", kNothing, kEarly},
    {"Uname421", Set::B2, {On("EXCM uname", Action::Reply, "421 Closing.")},
     Refused("421 Closing."), "EXCM uname", kNothing, kB2Whole},
    {"UnameClosed", Set::A2, {On("EXCM uname", Action::Close)}, kHungUp, "EXCM uname", kNothing,
     kEarly},
    {"UnameSilent", Set::B2, {On("EXCM uname", Action::Silent)}, kNoAnswer, "EXCM uname",
     kNothing, kReplyBound},
    // As described, but surprising: the version text ends at the NUL and loses its last two
    // characters as if they were the line end.
    {"UnameWithNul", Set::B2,
     {On("EXCM uname", Action::Reply, std::string("200 KQ-B2\0.01.02.45", 20))},
     kComplete, "EXCM w_stupall", kQuit, kB2Whole, nullptr, "KQ- (Done)"},

    // As described, but surprising: the last two characters of the version text are cut as the
    // line end even when the reply has none.
    {"UnameWithoutLineEnd", Set::B2,
     {At(Trigger::Command, "EXCM uname", Action::Raw, "200 KQ-B2.01.02.45")},
     kComplete, "EXCM w_stupall", kQuit, kB2Whole, nullptr, "KQ-B2.01.02. (Done)"},
    // Every reply one byte at a time, read at once or late: each is read whole. (At a tenth of
    // the time, so that the quiet period of 200 ms outlasts any pause between bytes.)
    {"EveryReplyTrickledReadLate", Set::B2, EveryReplyTrickled(), kComplete, "EXCM w_stupall",
     kQuit, {1, 100}, nullptr, "", 0.1, 3},
    {"EveryReplyTrickledWithTheCpuProgram", Set::A2, EveryReplyTrickled(), kComplete,
     "EXCM u_soft", kQuit, {64, 90}, nullptr, "", 0.1},
    // The reply that ends its line with CR, then its LF 100 ms later: the LF is no reply.
    {"UnameLineEndSplit", Set::B2, {At(Trigger::Command, "EXCM uname", Action::Split, "", 1, 100,
                                       1, 1, 19)},
     kComplete, "EXCM w_stupall", kQuit, kB2Whole, nullptr, "KQ-B2.01.02.45 (Done)", 0.5},

    // Update mode.
    {"Prism550", Set::A2, {On("EXCM k_prism", Action::Reply, "550 Refused.")},
     Refused("550 Refused."), "EXCM k_prism", kNothing, kEarly},
    {"Prism421", Set::B2, {On("EXCM k_prism", Action::Reply, "421 Busy.")},
     Refused("421 Busy."), "EXCM k_prism", kNothing, kB2Whole},
    {"PrismClosed", Set::B2, {On("EXCM k_prism", Action::Close)}, kHungUp, "EXCM k_prism",
     kNothing, kB2Whole},
    {"PrismSilent", Set::A2, {On("EXCM k_prism", Action::Silent)}, kNoAnswer, "EXCM k_prism",
     kNothing, kReplyBound},
    {"PrismFailed500NotTolerated", Set::B2, {On("EXCM k_prism", Action::Reply, "500 failed.")},
     Refused("500 failed."), "EXCM k_prism", kNothing, kB2Whole},
    // A refusal behind a reply in two pieces is the logo upload's own reply, not one behind.
    {"USoftSplitThenLogoTransferRefused", Set::B2,
     {On("EXCM u_soft", Action::Split),
      At(Trigger::TransferEnd, "", Action::Reply, "451 LOGO.bmp: cannot store.", 3),
      kEveryReplyLate},
     Refused("451 LOGO.bmp: cannot store."), "STOR", kNothing, kB2EveryReplyLate, nullptr, "",
     0.5},
    // A second reply to one command is read and judged before the next command goes out.
    {"PrismAnsweredTwiceWithARefusal", Set::B2,
     {On("EXCM k_prism", Action::Reply, "200 Prism on.\r\n550 Prism failed.")},
     Refused("550 Prism failed."), "EXCM k_prism", kNothing, kB2Whole},
    {"VarekFailed500Tolerated", Set::B2, {On("EXCM c_Varek", Action::Reply, "500 failed.")},
     kComplete, "EXCM w_stupall", kQuit, kB2Whole},
    // As described: the phrase counts anywhere in the reply, also behind another refusal.
    {"VarekRefusalHoldingFailed500Tolerated", Set::B2,
     {On("EXCM c_Varek", Action::Reply, "421 Later; 500 failed.")},
     kComplete, "EXCM w_stupall", kQuit, kB2Whole},
    {"Varek500OtherWords", Set::B2, {On("EXCM c_Varek", Action::Reply, "500 command failed.")},
     Refused("500 command failed."), "EXCM c_Varek", kNothing, kB2Whole},
    {"Varek550", Set::A2, {On("EXCM c_Varek", Action::Reply, "550 Locked.")},
     Refused("550 Locked."), "EXCM c_Varek", kNothing, kEarly},
    {"VarekClosed", Set::B2, {On("EXCM c_Varek", Action::Close)}, kHungUp, "EXCM c_Varek",
     kNothing, kB2Whole},
    {"VarekSilent", Set::A2, {On("EXCM c_Varek", Action::Silent)}, kNoAnswer, "EXCM c_Varek",
     kNothing, kReplyBound},
    {"Cwd550", Set::A2, {On("CWD", Action::Reply, "550 No such directory.")},
     Refused("550 No such directory."), "CWD", kNothing, kEarly},
    {"Cwd421", Set::B2, {On("CWD", Action::Reply, "421 Busy.")}, Refused("421 Busy."), "CWD",
     kNothing, kB2Whole},
    {"CwdClosed", Set::B2, {On("CWD", Action::Close)}, kHungUp, "CWD", kNothing, kB2Whole},
    {"CwdSilent", Set::B2, {On("CWD", Action::Silent)}, kNoAnswer, "CWD", kNothing,
     kReplyBound},
    // A reply of 70,000 bytes without line end: its first 64 KiB are the reply, the rest is
    // dropped once the unit falls quiet; the run stays in step and completes.
    {"CwdOverlongWithoutLineEnd", Set::B2,
     {At(Trigger::Command, "CWD", Action::Raw, "2", 1, 0, 1, 70000)},
     kComplete, "EXCM w_stupall", kQuit, kB2Whole},
    // As described, but surprising: only the first byte is judged, and a NUL there hides the
    // refusal behind it (the log shows an empty reply).
    {"CwdRefusalBehindNul", Set::B2,
     {On("CWD", Action::Reply, std::string("\0" "550 No such directory.", 23))},
     kComplete, "EXCM w_stupall", kQuit, kB2Whole},

    // The telnet connection of the CPU step and its drain.
    {"TelnetRefused", Set::A2, {At(Trigger::TelnetConnect, "", Action::Refuse, "", 1, 0, 0)},
     Failed("connect() Error", "Error : Connection refused."), "CWD", kNothing, kCpuStep},
    // The option answers come late, so that the refusal is read on its own.
    {"Telnet421", Set::A2, {At(Trigger::TelnetConnect, "", Action::Delay, "", 1, 300)},
     Refused("421 Telnet busy."), "CWD", kNothing, kCpuStep,
     [](sim::UnitConfig& unit) { unit.telnetGreeting = "421 Telnet busy."; }},
    {"TelnetClosed", Set::A2, {At(Trigger::TelnetConnect, "", Action::Close)}, kHungUp, "CWD",
     kNothing, kCpuStep},
    // A unit that never falls quiet is given up at the reply deadline. (Time runs at a tenth
    // here, so that the quiet period of 200 ms outlasts any pause between the unit's bytes.)
    {"TelnetNeverQuiet", Set::A2, {At(Trigger::TelnetConnect, "", Action::Trickle, "", 1, 10)},
     kNoAnswer, "CWD", kNothing, {61, 67},
     [](sim::UnitConfig& unit) { unit.telnetGreeting = std::string(1000, 'w'); }, "", 0.1},
    {"TelnetWithoutOptionAnswers", Set::A2, {At(Trigger::TelnetConnect, "", Action::Silent)},
     kComplete, "EXCM u_soft", kQuit, kA2Whole},
    {"TelnetBannerAccepted", Set::A2,
     {At(Trigger::TelnetConnect, "", Action::Reply, "KQ unit telnet")},
     kComplete, "EXCM u_soft", kQuit, kA2Whole},
    // "u_soft" on telnet: any answer within the quiet period fails the step.
    {"TelnetUSoftAnswered200", Set::A2,
     {At(Trigger::TelnetUSoft, "", Action::Reply, "200 Written.")},
     Refused("200 Written."), "telnet: u_soft", kNothing, kCpuStep},
    {"TelnetUSoft550", Set::A2, {At(Trigger::TelnetUSoft, "", Action::Reply, "550 Bad image.")},
     Refused("550 Bad image."), "telnet: u_soft", kNothing, kCpuStep},
    {"TelnetUSoftClosed", Set::A2, {At(Trigger::TelnetUSoft, "", Action::Close)}, kHungUp,
     "telnet: u_soft", kNothing, kCpuStep},

    // The connection attempts: one at the first connection, ten after the CPU program.
    {"FirstConnectRefusedOnce", Set::B2, {At(Trigger::FtpConnect, "", Action::Refuse)},
     Failed("connect() Error", "Error : Connection refused.", RunEnd::DialogStaysOpen), "",
     kNothing, kB2Whole},
    {"ReconnectRefusedNineTimes", Set::A2,
     {At(Trigger::FtpConnect, "", Action::Refuse, "", 2, 0, 9)},
     kComplete, "EXCM u_soft", kQuit, kA2Whole},
    {"ReconnectRefusedTenTimes", Set::A2,
     {At(Trigger::FtpConnect, "", Action::Refuse, "", 2, 0, 10)},
     Failed("connect() Error", "Error : Connection refused.", RunEnd::DialogStaysOpen),
     "restart", kNothing, {64, 76}},

    // The reconnection after the CPU program.
    // As described: a unit still restarting when all ten attempts have been refused leaves the
    // dialog open for another try, although the CPU program has been written.
    {"ReconnectAllRefused", Set::A2, {},
     Failed("connect() Error", "Error : Connection refused.", RunEnd::DialogStaysOpen),
     "restart", kNothing, {64, 76},
     [](sim::UnitConfig& unit) { unit.restartRefuseMs = 30000; }},
    {"ReconnectGreeting421", Set::A2,
     {At(Trigger::Greeting, "", Action::Reply, "421 Still starting.", 2)},
     Refused("421 Still starting."), "restart", kNothing, kAfterCpu},
    {"ReconnectUname550", Set::A2, {On("EXCM uname", Action::Reply, "550 No version.", 2)},
     Refused("550 No version."), "EXCM uname", kNothing, kAfterCpu},
    {"ReconnectOtherModel", Set::A2,
     {On("EXCM r_INF", Action::Reply, "200 Model KQ-B2 camera control unit.", 2)},
     kWrongModel, "EXCM r_INF", {"EXCM uname"}, kAfterCpu},
    {"ReconnectUserSilent", Set::A2, {On("USER", Action::Silent, "", 2)}, kNoAnswer, "USER",
     kNothing, kReplyBoundAfterCpu},

    // Each selector.
    {"SelectorFpga5m550", Set::A2, {On("EXCM k_FP", Action::Reply, "550 Component refused.")},
     Refused("550 Component refused."), "EXCM k_FP", kNothing, kAfterCpu},
    {"SelectorResize421", Set::A2, {On("EXCM k_FP2", Action::Reply, "421 Busy.")},
     Refused("421 Busy."), "EXCM k_FP2", kNothing, kAfterCpu},
    {"SelectorWeb0Closed", Set::A2, {On("EXCM k_Web0", Action::Close)}, kHungUp, "EXCM k_Web0",
     kNothing, kAfterCpu},
    {"SelectorWeb1Silent", Set::A2, {On("EXCM k_Web1", Action::Silent)}, kNoAnswer,
     "EXCM k_Web1", kNothing, kReplyBoundAfterCpu},
    {"SelectorCursorFailed500", Set::A2, {On("EXCM k_Cr", Action::Reply, "500 failed.")},
     Refused("500 failed."), "EXCM k_Cr", kNothing, kAfterCpu},
    {"SelectorIcon450", Set::A2, {On("EXCM k_Ic", Action::Reply, "450 Not ready.")},
     Refused("450 Not ready."), "EXCM k_Ic", kNothing, kAfterCpu},
    {"SelectorShadingClosed", Set::A2, {On("EXCM k_Sd", Action::Close)}, kHungUp, "EXCM k_Sd",
     kNothing, kAfterCpu},
    {"SelectorGamma553", Set::A2, {On("EXCM k_Gm", Action::Reply, "553 Not allowed.")},
     Refused("553 Not allowed."), "EXCM k_Gm", kNothing, kAfterCpu},
    {"SelectorScene504", Set::A2, {On("EXCM k_Mcs", Action::Reply, "504 Not implemented.")},
     Refused("504 Not implemented."), "EXCM k_Mcs", kNothing, kAfterCpu},
    {"SelectorLogo550", Set::A2, {On("EXCM k_Lg", Action::Reply, "550 Logo refused.")},
     Refused("550 Logo refused."), "EXCM k_Lg", kNothing, kAfterCpu},
    {"SelectorFpga2m421", Set::A2, {On("EXCM k_FP3", Action::Reply, "421 Busy.")},
     Refused("421 Busy."), "EXCM k_FP3", kNothing, kAfterCpu},
    {"SelectorWeb0Silent", Set::B2, {On("EXCM k_Web0", Action::Silent)}, kNoAnswer,
     "EXCM k_Web0", kNothing, kReplyBound},

    // PORT, TYPE, STOR and the data connection.
    {"Port500", Set::B2, {On("PORT", Action::Reply, "500 Illegal PORT command.")},
     Refused("500 Illegal PORT command."), "PORT", kNothing, kB2Whole},
    {"Port421", Set::A2, {On("PORT", Action::Reply, "421 Busy.")}, Refused("421 Busy."),
     "PORT", kNothing, kCpuStep},
    {"PortClosed", Set::B2, {On("PORT", Action::Close)}, kHungUp, "PORT", kNothing, kB2Whole},
    {"PortSilent", Set::B2, {On("PORT", Action::Silent)}, kNoAnswer, "PORT", kNothing,
     kReplyBound},
    {"Type504", Set::B2, {On("TYPE", Action::Reply, "504 Type not supported.")},
     Refused("504 Type not supported."), "TYPE", kNothing, kB2Whole},
    {"Type421", Set::B2, {On("TYPE", Action::Reply, "421 Busy.", 2)}, Refused("421 Busy."),
     "TYPE", kNothing, kB2Whole},
    {"TypeClosed", Set::A2, {On("TYPE", Action::Close, "", 2)}, kHungUp, "TYPE", kNothing,
     kAfterCpu},
    {"TypeSilent", Set::B2, {On("TYPE", Action::Silent)}, kNoAnswer, "TYPE", kNothing,
     kReplyBound},
    {"Stor553", Set::B2, {On("STOR", Action::Reply, "553 Name not allowed.")},
     Refused("553 Name not allowed."), "STOR", kNothing, kB2Whole},
    {"StorClosed", Set::B2, {On("STOR", Action::Close)}, kHungUp, "STOR", kNothing, kB2Whole},
    {"StorSilent", Set::B2, {On("STOR", Action::Silent)},
     Failed("accept() Error", "Error : Connection timed out."), "STOR", kNothing, kReplyBound},
    {"Data425WithoutConnecting", Set::A2, {At(Trigger::DataConnect, "", Action::NoConnect,
                                              "425 Can't open data connection.")},
     Refused("425 Can't open data connection."), "STOR", kNothing, kCpuStep},
    // "150", then "425" 300 ms later, without connecting: the control connection is watched
    // for the whole wait, so the refusal ends the transfer at once.
    {"Stor150Then425", Set::B2,
     {At(Trigger::Command, "STOR", Action::NoConnect, "150 Opening.\n425 No data connection.", 1,
         300)},
     Refused("425 No data connection."), "STOR", kNothing, kB2Whole},
    // A unit that connects and never reads: a file larger than what the connection buffers
    // fails the send after a minute without progress; a small one goes out whole, and the
    // unit's silence is noticed at the end of the transfer, while it would be writing.
    {"DataStalledLargeFile", Set::B2, {At(Trigger::DataConnect, "", Action::Stall, "", 3)},
     Failed("send() Error", "Error : Connection timed out."), "STOR", kNothing, kReplyBound},
    {"DataStalledSmallFile", Set::B2, {At(Trigger::DataConnect, "", Action::Stall)}, kNoAnswer,
     "STOR", kNothing, kWritingBound},
    {"DataNeverConnects", Set::B2, {At(Trigger::DataConnect, "", Action::Silent)},
     Failed("accept() Error", "Error : Connection timed out."), "STOR", kNothing, kReplyBound},
    {"DataFromAStrangerFirst", Set::B2, {At(Trigger::DataConnect, "", Action::Stranger)},
     kComplete, "EXCM w_stupall", kQuit, kB2Whole},

    // The end of a transfer.
    {"TransferEnd451", Set::A2, {At(Trigger::TransferEnd, "", Action::Reply, "451 No space.")},
     Refused("451 No space."), "STOR", kNothing, kCpuStep},
    {"TransferEnd552", Set::B2,
     {At(Trigger::TransferEnd, "", Action::Reply, "552 Storage exceeded.", 2)},
     Refused("552 Storage exceeded."), "STOR", kNothing, kB2Whole},
    {"TransferEndClosed", Set::B2, {At(Trigger::TransferEnd, "", Action::Close)}, kHungUp,
     "STOR", kNothing, kB2Whole},
    {"TransferEndSilent", Set::B2, {At(Trigger::TransferEnd, "", Action::Silent)}, kNoAnswer,
     "STOR", kNothing, kWritingBound},
    {"TransferEndSlowWithinTheWritingBound", Set::B2,
     {At(Trigger::TransferEnd, "", Action::Delay, "", 1, 3000)},
     kComplete, "EXCM w_stupall", kQuit, {300, 310}},

    // The write command of a component.
    {"USoft550", Set::A2, {On("EXCM u_soft", Action::Reply, "550 Write failed.")},
     Refused("550 Write failed."), "EXCM u_soft", kNothing, kAfterCpu},
    {"USoft421", Set::B2, {On("EXCM u_soft", Action::Reply, "421 Busy.", 2)},
     Refused("421 Busy."), "EXCM u_soft", kNothing, kB2Whole},
    {"USoftClosed", Set::B2, {On("EXCM u_soft", Action::Close)}, kHungUp, "EXCM u_soft",
     kNothing, kB2Whole},
    // An answer that takes five minutes is waited for while the unit writes.
    {"USoftSlowWithinTheWritingBound", Set::B2,
     {At(Trigger::Command, "EXCM u_soft", Action::Delay, "", 1, 3000)},
     kComplete, "EXCM w_stupall", kQuit, {300, 310}},
    {"USoftSilent", Set::B2, {On("EXCM u_soft", Action::Silent)}, kNoAnswer, "EXCM u_soft",
     kNothing, kWritingBound},

    // The default setting (its command is not logged; its reply is).
    {"Stupall550", Set::B2, {On("EXCM w_stupall", Action::Reply, "550 Refused.")},
     Refused("550 Refused."), "EXCM w_stupall", kNothing, kB2Whole},
    {"Stupall421", Set::B2, {On("EXCM w_stupall", Action::Reply, "421 Busy.")},
     Refused("421 Busy."), "EXCM w_stupall", kNothing, kB2Whole},
    {"StupallFailed500", Set::B2, {On("EXCM w_stupall", Action::Reply, "500 failed.")},
     Refused("500 failed."), "EXCM w_stupall", kNothing, kB2Whole},
    {"StupallClosed", Set::B2, {On("EXCM w_stupall", Action::Close)}, kHungUp,
     "EXCM w_stupall", kNothing, kB2Whole},
    {"StupallSlowWithinTheWritingBound", Set::B2,
     {At(Trigger::Command, "EXCM w_stupall", Action::Delay, "", 1, 3000)},
     kComplete, "EXCM w_stupall", kQuit, {300, 310}},
    {"StupallSilent", Set::B2, {On("EXCM w_stupall", Action::Silent)}, kNoAnswer,
     "EXCM w_stupall", kNothing, kWritingBound},

    // QUIT: every step succeeded, yet the run ends the program and keeps the log.
    {"Quit421", Set::B2, {On("QUIT", Action::Reply, "421 Bye anyway.")},
     Refused("421 Bye anyway."), "QUIT", kNothing, kB2Whole},
    {"Quit500", Set::B2, {On("QUIT", Action::Reply, "500 QUIT refused.")},
     Refused("500 QUIT refused."), "QUIT", kNothing, kB2Whole},
    {"QuitClosed", Set::B2, {On("QUIT", Action::Close)}, kHungUp, "QUIT", kNothing, kB2Whole},
    {"QuitSilent", Set::B2, {On("QUIT", Action::Silent)}, kNoAnswer, "QUIT", kNothing,
     kReplyBound},
};
// clang-format on

constexpr size_t kRowCount = sizeof kRows / sizeof kRows[0];

} // namespace
