#include "sim/ftp_session.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>

#include "sim/command_line.h"
#include "sim/line_receiver.h"

namespace sim {

namespace {

constexpr int kConnectLimitMs = 5000;
constexpr int kDataSilenceLimitMs = 20000;
constexpr size_t kMaxUpload = size_t(512) << 20; // more than any component file
constexpr const char* kNoDataConnection = "425 Can't open data connection.";
constexpr const char* kRejected = "500 Syntax error, command unrecognized.";

std::string Upper(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

// Six decimal numbers 0..255 separated by commas, nothing else.
bool ParsePortArgument(const std::string& arg, uint8_t out[6]) {
    size_t at = 0;
    for (int i = 0; i < 6; ++i) {
        if (i > 0) {
            if (at >= arg.size() || arg[at] != ',') {
                return false;
            }
            ++at;
        }
        unsigned value = 0;
        size_t digits = 0;
        while (at < arg.size() && std::isdigit(static_cast<unsigned char>(arg[at])) && digits < 4) {
            value = value * 10 + unsigned(arg[at] - '0');
            ++at;
            ++digits;
        }
        if (digits == 0 || digits > 3 || value > 255) {
            return false;
        }
        out[i] = static_cast<uint8_t>(value);
    }
    return at == arg.size();
}

// The name becomes a file in the store folder: nothing that could reach outside it.
bool AcceptableStorName(const std::string& name) {
    if (name.empty() || name.size() > 255 || name == "." || name == "..") {
        return false;
    }
    return std::none_of(name.begin(), name.end(), [](char c) {
        auto u = static_cast<unsigned char>(c);
        return c == '/' || c == '\\' || u < 0x20 || u == 0x7f;
    });
}

void DropCrBeforeLf(std::vector<uint8_t>& bytes) {
    size_t kept = 0;
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (!(bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')) {
            bytes[kept++] = bytes[i];
        }
    }
    bytes.resize(kept);
}

} // namespace

FtpSession::FtpSession(UnitCore& core, net::Fd control, std::optional<Fault> connectFault)
    : m_core(core), m_control(std::move(control)), m_connectFault(std::move(connectFault)) {
    net::SetNoDelay(m_control.Get());
    net::PeerAddress(m_control.Get(), &m_peer);
}

void FtpSession::Run() {
    const UnitConfig& cfg = m_core.Config();
    // A fault on the connection itself replaces the greeting; a reply then ends the session,
    // as a busy server's does.
    if (m_connectFault && PlayFault(*m_connectFault)) {
        if (!m_silent) {
            m_control.Close();
            return;
        }
    } else if (auto fault = m_core.Faults().Check(Fault::Trigger::Greeting);
               !fault || !PlayFault(*fault)) {
        Reply(cfg.greeting);
    }
    m_pace = {};

    ReceiveLines(
        m_core, m_control.Get(), m_open,
        [](const char* data, size_t length) { return std::string(data, length); },
        [&](const std::string& raw) {
            if (m_silent) {
                m_core.Note(ReadCommandLine(raw, m_core.Config().strict).text);
            } else {
                Handle(raw);
            }
        });
}

bool FtpSession::Reply(const std::string& text) {
    return SendExact(WithLineEnd(text));
}

bool FtpSession::SendExact(const std::string& bytes) {
    if (!m_open) {
        return false;
    }
    if (!m_core.Send(m_control.Get(), bytes, m_pace)) {
        m_control.Close();
        m_open = false;
        return false;
    }
    return true;
}

bool FtpSession::PlayFault(const Fault& fault) {
    m_core.Sleep(fault.afterMs);
    switch (fault.action) {
    case Fault::Action::Reply:
    case Fault::Action::Raw:
        SendExact(FaultText(fault));
        return true;
    case Fault::Action::NoConnect: {
        // Each line its own segment, so that a "150" and a "425" arrive as two replies.
        const std::string text = fault.text.empty() ? kNoDataConnection : fault.text;
        for (size_t at = 0; at < text.size() && m_open;) {
            const size_t end = std::min(text.find('\n', at), text.size());
            if (at > 0) {
                m_core.Sleep(fault.delayMs);
            }
            std::string line = text.substr(at, end - at);
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            Reply(line);
            at = end + 1;
        }
        return true;
    }
    case Fault::Action::Close:
    case Fault::Action::Refuse:
        m_control.Close();
        m_open = false;
        return true;
    case Fault::Action::Silent:
        m_silent = true;
        return true;
    case Fault::Action::Delay:
        m_core.Sleep(fault.delayMs);
        return false;
    case Fault::Action::Split:
    case Fault::Action::Trickle:
        m_pace = PaceOf(fault);
        return false;
    case Fault::Action::Stranger:
    case Fault::Action::Stall:
    case Fault::Action::Drop:
    case Fault::Action::Late:
        return false;
    }
    return false;
}

void FtpSession::Handle(const std::string& raw) {
    m_pace = {};
    const FtpCommand command = ParseFtpCommand(raw, m_core.Config().strict);
    const std::string& line = command.text;
    m_core.Note(line);
    if (auto fault = m_core.Faults().Check(Fault::Trigger::Command, line);
        fault && PlayFault(*fault)) {
        return;
    }
    if (!command.problem.empty()) {
        m_core.Note("rejected: " + command.problem);
        Reply(kRejected);
        return;
    }
    const std::string& verb = command.verb;
    const std::string& arg = command.arg;

    if (verb == "USER") {
        m_loggedIn = false;
        m_userGiven = arg == "anonymous";
        Reply(m_userGiven ? "331 Anonymous login ok, send your e-mail address as password."
                          : "530 User " + arg + " unknown.");
    } else if (verb == "PASS") {
        m_loggedIn = m_userGiven;
        Reply(m_userGiven ? "230 User logged in." : "503 Login with USER first.");
    } else if (verb == "QUIT") {
        Reply("221 Goodbye.");
        m_control.Close();
        m_open = false;
    } else if (verb == "NOOP") {
        Reply("200 NOOP command successful.");
    } else if (verb == "SYST") {
        Reply("215 UNIX Type: L8");
    } else if (!m_loggedIn) {
        Reply("530 Please login with USER and PASS.");
    } else if (verb == "EXCM") {
        HandleExcm(arg);
    } else if (verb == "CWD") {
        if (arg == "\\UpdateBx" || arg == "/") {
            m_cwd = arg;
            Reply("250 CWD command successful.");
        } else {
            Reply("550 " + arg + ": No such directory.");
        }
    } else if (verb == "PWD" || verb == "XPWD") {
        Reply("257 \"" + m_cwd + "\" is the current directory.");
    } else if (verb == "TYPE") {
        const std::string type = m_core.Config().strict ? arg : Upper(arg);
        if (type == "I" || type == "A") {
            m_binary = type == "I";
            Reply("200 Type set to " + type + ".");
        } else {
            Reply("504 Type " + arg + " not supported.");
        }
    } else if (verb == "PORT") {
        HandlePort(arg);
    } else if (verb == "STOR") {
        HandleStor(arg);
    } else if (verb == "PASV" || verb == "EPSV") {
        Reply("502 Passive mode not supported.");
    } else if (verb == "FEAT" || verb == "LIST" || verb == "NLST" || verb == "RETR" ||
               verb == "SIZE") {
        Reply("502 Command not implemented.");
    } else {
        // EPRT included: a client then falls back to PORT.
        Reply("500 '" + line + "': command not understood.");
    }
}

void FtpSession::HandleExcm(const std::string& word) {
    const UnitConfig& cfg = m_core.Config();
    if (word == "r_INF") {
        Reply(cfg.infoReply.empty() ? "200 Model " + cfg.model + " camera control unit."
                                    : cfg.infoReply);
    } else if (word == "uname") {
        Reply(cfg.unameReply.empty() ? "200 " + m_core.VersionText() : cfg.unameReply);
    } else if (word == "k_prism") {
        Reply("200 Update mode on.");
    } else if (word == "c_Varek") {
        Reply("200 c_Varek done.");
    } else if (word == "u_soft") {
        if (!m_selected) {
            Reply("550 No component selected.");
            return;
        }
        Reply("200 " + m_selected->word + " written.");
        m_selected.reset();
    } else if (word == "w_stupall") {
        Reply("200 Default data set.");
    } else if (auto selector = FindSelector(word)) {
        m_selected = selector;
        Reply("200 " + word + " selected.");
    } else if (word.empty()) {
        Reply("501 EXCM needs a command word.");
    } else {
        Reply("500 EXCM " + word + ": unknown command.");
    }
}

void FtpSession::HandlePort(const std::string& arg) {
    uint8_t v[6];
    if (!ParsePortArgument(arg, v)) {
        Reply("501 Syntax error in PORT parameters.");
        return;
    }
    in_addr addr{};
    addr.s_addr = htonl(uint32_t(v[0]) << 24 | uint32_t(v[1]) << 16 | uint32_t(v[2]) << 8 | v[3]);
    const uint16_t port = static_cast<uint16_t>(v[4] << 8 | v[5]);
    // Data goes only back to the control connection's own peer, and never to a privileged
    // port: a cautious server's answer to a bounce attempt.
    if (addr.s_addr != m_peer.s_addr || port < 1024) {
        m_dataPort.reset();
        Reply("500 Illegal PORT command.");
        return;
    }
    m_dataPort = net::MakeAddress(addr, port);
    Reply("200 PORT command successful.");
}

void FtpSession::HandleStor(const std::string& name) {
    if (!AcceptableStorName(name)) {
        Reply("553 " + name + ": File name not allowed.");
        return;
    }
    if (!m_dataPort) {
        Reply("425 Use PORT first.");
        return;
    }
    const sockaddr_in to = *m_dataPort;
    m_dataPort.reset(); // each transfer needs its own PORT
    net::Fd data;
    if (!OpenData(to, name, data)) {
        return;
    }
    std::vector<uint8_t> bytes;
    const bool complete = ReceiveData(data.Get(), bytes);
    data.Close();
    if (auto fault = m_core.Faults().Check(Fault::Trigger::TransferEnd);
        fault && PlayFault(*fault)) {
        return;
    }
    if (!complete) {
        Reply("426 Connection closed; transfer aborted.");
        return;
    }
    if (!m_binary) {
        // An upload in ASCII type loses the CR of every CR LF, as on any FTP server.
        DropCrBeforeLf(bytes);
    }
    StoredUpload upload = CheckUpload(name, m_selected, bytes, m_core.Config().strict);
    const std::string problem = upload.problem;
    const std::string storeError = problem.empty() ? Store(upload) : "";
    m_core.AddUpload(std::move(upload));
    if (!problem.empty()) {
        Reply("550 " + name + ": " + problem + ".");
    } else if (!storeError.empty()) {
        Reply("451 " + name + ": " + storeError + ".");
    } else {
        if (!m_selected) {
            m_core.ProgramReceived(name);
        }
        Reply("226 Transfer complete.");
    }
}

bool FtpSession::OpenData(const sockaddr_in& to, const std::string& name, net::Fd& data) {
    constexpr int kStallReceiveBuffer = 1024; // the system makes a little more of it
    auto fault = m_core.Faults().Check(Fault::Trigger::DataConnect);
    const auto action = fault ? fault->action : Fault::Action::Delay;
    if (fault && action == Fault::Action::Stranger) {
        in_addr stranger{};
        net::ParseIpv4(m_core.Config().address == "127.0.0.254" ? "127.0.0.253" : "127.0.0.254",
                       &stranger);
        std::string ignored;
        net::ConnectBounded(to, &stranger, kConnectLimitMs, &ignored);
    } else if (fault && PlayFault(*fault)) {
        return false;
    }
    // Like a real unit, the data connection comes from the unit's own address.
    in_addr own{};
    net::ParseIpv4(m_core.Config().address, &own);
    std::string error;
    const bool stall = fault && action == Fault::Action::Stall;
    data = net::ConnectBounded(to, &own, kConnectLimitMs, &error, stall ? kStallReceiveBuffer : 0);
    if (!data.Valid()) {
        Reply(kNoDataConnection);
        return false;
    }
    m_core.Touch();
    if (!Reply("150 Opening BINARY mode data connection for " + name + ".")) {
        return false;
    }
    if (stall && fault->delayMs == 0) {
        m_core.Hold(std::move(data)); // never read; no end of the transfer is ever answered
        return false;
    }
    if (stall) {
        // Reads nothing for a while, then takes the rest with a buffer of the usual size.
        m_core.Sleep(fault->delayMs);
        const int usual = 1 << 20;
        ::setsockopt(data.Get(), SOL_SOCKET, SO_RCVBUF, &usual, sizeof usual);
    }
    if (fault && action == Fault::Action::Drop) {
        data.Reset();
        Reply("426 Connection closed; transfer aborted.");
        return false;
    }
    return true;
}

bool FtpSession::ReceiveData(int fd, std::vector<uint8_t>& bytes) {
    const int silenceLimit =
        static_cast<int>(std::min<uint32_t>(m_core.Config().idleTimeoutMs, kDataSilenceLimitMs));
    std::vector<uint8_t> chunk(65536);
    for (;;) {
        if (m_core.WaitReadable(fd, silenceLimit) != UnitCore::Wait::Ready) {
            return false;
        }
        long n = net::ReceiveSome(fd, chunk.data(), chunk.size());
        if (n == 0) {
            return true;
        }
        if (n < 0) {
            if (errno == EAGAIN) {
                continue;
            }
            return false;
        }
        m_core.Touch();
        bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + n);
        if (bytes.size() > kMaxUpload) {
            return false;
        }
    }
}

std::string FtpSession::Store(const StoredUpload& upload) const {
    const std::string path = m_core.Config().storeDir + "/" + upload.storName;
    // Close-on-exec from the start, as every descriptor of the unit.
    net::Fd out(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    const uint8_t* at = upload.content.data();
    size_t left = upload.content.size();
    while (out.Valid() && left > 0) {
        const ssize_t written = ::write(out.Get(), at, left);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            break;
        at += written;
        left -= size_t(written);
    }
    return out.Valid() && left == 0 ? "" : "cannot store " + path;
}

} // namespace sim
