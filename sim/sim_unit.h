#pragma once
// The simulated camera control unit (model KQ-A2 or KQ-B2): an FTP control server with
// active-mode data connections and a telnet server on 127.0.0.N, ports 21 and 23. It checks
// every upload record, stores what it received, and plays scripted faults. It refuses to bind
// outside 127.0.0.0/8 and stops by itself after a bounded idle time.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace sim {

// A scripted fault. It fires on the occurrence-th time (1 = first) that its trigger is met, and
// only then (times = 1), on that many meetings in a row (times = N) or from then on (times = 0:
// always). For FtpConnect and TelnetConnect a meeting is one connection attempt (one SYN).
struct Fault {
    enum class Trigger {
        Greeting,      // instead of / around the FTP greeting
        Command,       // an FTP command whose line starts with `match` ("EXCM k_prism", "STOR")
        TelnetConnect, // the telnet connection is accepted (Action::Refuse: attempted)
        TelnetUSoft,   // "u_soft" arrives on telnet
        DataConnect,   // just before the unit connects its data connection
        FtpConnect,    // an FTP connection is accepted (Action::Refuse: attempted)
        TransferEnd,   // the data connection has ended; before the reply that ends the transfer
    };
    enum class Action {
        Reply,     // answer `text` (CR LF added unless it already ends with LF)
        Close,     // close the connection without answering
        Silent,    // never answer (the connection stays open until the unit stops)
        Delay,     // answer normally after `delayMs`
        Split,     // send the normal answer in two segments, `delayMs` apart; the first of
                   // `splitAt` bytes (0: half the answer)
        NoConnect, // STOR: refuse with `text` without connecting the data connection; each line
                   // of `text` goes out as its own segment, `delayMs` apart
        Stranger,  // DataConnect: first connect from another loopback address, then normally
        Refuse,    // FtpConnect / TelnetConnect: refuse the attempt with nothing listening (the
                   // peer's connect fails with "connection refused"); needs CAP_NET_RAW unless
                   // every attempt is refused (times 0 from the first)
        Raw,       // answer `text` exactly as given: no line end added, NUL bytes kept
        Trickle,   // send the answer one byte at a time, `delayMs` apart (default 20)
        Stall,     // DataConnect: connect with a small receive buffer, answer 150, never read;
                   // the connection stays open until the unit stops. With `delayMs`: stop
                   // reading only that long, then read on
        Drop,      // DataConnect: connect, answer 150, reset the data connection, answer 426
        Late,      // FtpConnect / TelnetConnect: leave the attempt unanswered for `delayMs`; the
              // peer's system sends its SYN again (Linux: 1, 2, 3, 4, 6 s after the first) and the
              // first of those after `delayMs` is taken. Needs CAP_NET_RAW, as Refuse
    };
    Trigger trigger = Trigger::Command;
    std::string match;
    Action action = Action::Reply;
    std::string text;
    uint32_t delayMs = 0;
    int occurrence = 1;
    int times = 1;
    uint32_t repeat = 1;  // Reply / Raw: `text` is sent this many times in a row (one send)
    uint32_t afterMs = 0; // a session's fault strikes this much later (its answer, close, ...)
    uint32_t splitAt = 0; // Split: the bytes of the first segment (0: half the answer)
};

struct UnitConfig {
    std::string address = "127.0.0.2"; // must lie in 127.0.0.0/8
    uint16_t ftpPort = 21;
    uint16_t telnetPort = 23;
    std::string model = "KQ-A2";                // as named in the r_INF reply
    std::string infoReply;                      // whole r_INF reply; empty: built from model
    std::string versionText = "KQ-A2.01.02.45"; // the uname version text
    std::string unameReply;                     // whole uname reply; empty: "200 " + text
    // The version text once a CPU program has been written (at the restart that follows):
    // empty derives it from the program file received (VersionFromProgram); keepVersion keeps
    // the old one, as a unit whose write did not take.
    std::string versionAfterProgram;
    bool keepVersion = false;
    std::string greeting = "220 KQ unit FTP server ready.";
    bool telnetEnabled = true;
    bool telnetOptionAnswers = true; // answer the option offer with IAC bytes
    std::string telnetGreeting;      // text sent on telnet connect (empty: none)
    uint32_t restartRefuseMs = 3000; // after u_soft on telnet: refuse connections this long
    std::string storeDir;            // where received files are stored (required)
    // Refuse, as a real unit, a command line without CR before its LF or with a NUL or CR
    // inside, a verb in lower case, STOR without exactly two blanks before the name, and a
    // record whose name field differs from the listed name (the STOR name, whose three
    // characters behind the first '.' the tool lowers) in any other byte. The refusal is
    // "500 Syntax error, command unrecognized." (telnet: "syntax error: ..."), and Commands()
    // holds "rejected: <why>" behind the line. Off: CR and NUL dropped, blanks skipped, verbs
    // and names taken in any case (plain FTP clients such as curl).
    bool strict = true;
    uint32_t idleTimeoutMs = 120000; // stops by itself after this long without any activity
    // Uploads() keeps the contents of the latest uploads up to this many bytes in all (older
    // ones keep their description only; the stored files stay). kqunit keeps none.
    size_t keptContentBytes = size_t(64) << 20;
    std::vector<Fault> faults;
};

// One upload the unit received.
struct StoredUpload {
    std::string storName;         // the name given to STOR
    std::string selector;         // the "k_" selector active at the time ("" for none)
    bool hasHeader = false;       // false for the bare CPU program and plain STOR
    std::string headerName;       // name field up to 16 bytes, without padding
    uint32_t headerLength = 0;    // length field
    uint32_t headerKind = 0;      // kind field
    std::vector<uint8_t> content; // the bytes behind the header (or all bytes)
    std::string problem;          // empty when the record was valid
    bool contentReleased = false; // content dropped from memory (keptContentBytes; file stays)
};

class Unit {
  public:
    explicit Unit(UnitConfig config);
    ~Unit(); // stops
    Unit(const Unit&) = delete;
    Unit& operator=(const Unit&) = delete;

    // Binds and starts serving; false with a reason in Error().
    bool Start();
    // A check that every unit of this process passes before it binds: true, or false with the
    // reason its start is refused. The test suite sets one so that no two tests share an
    // address.
    using StartCheck = std::function<bool(const std::string& address, std::string* reason)>;
    static void SetStartCheck(StartCheck check);
    void Stop();
    // Asks the unit to stop without waiting for it (Stop waits).
    void RequestStop();
    bool Running() const;
    std::string Error() const;

    // What the unit saw, in order: every command line received on FTP (without CR LF) and on
    // telnet (prefixed "telnet: "), and notes such as "restart" and "rejected: ...". Bounded:
    // the latest 2048 lines, each cut to 256 bytes (History).
    std::vector<std::string> Commands() const;
    // How many lines the unit has seen in all, and the kept ones from number `first` on (see
    // History::LinesFrom): for printing as it goes.
    size_t CommandCount() const;
    std::vector<std::string> CommandsFrom(size_t first, size_t* next) const;
    // The latest 1024 uploads; contents beyond UnitConfig::keptContentBytes are released.
    std::vector<StoredUpload> Uploads() const;
    // Number of times the unit restarted after a CPU program.
    int Restarts() const;
    // Waits until the unit has seen `count` commands in all.
    bool WaitForCommands(size_t count, std::chrono::milliseconds timeout) const;

  private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace sim
