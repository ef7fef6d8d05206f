#pragma once
// One FTP control connection of the unit: log-in, the device commands, active-mode uploads
// with their record checks, and the scripted faults that touch any of them.

#include <netinet/in.h>

#include <optional>
#include <string>

#include "sim/sim_socket.h"
#include "sim/unit_core.h"
#include "sim/upload_record.h"

namespace sim {

class FtpSession {
  public:
    // `connectFault`: the fault that fired when the connection was accepted, if any.
    FtpSession(UnitCore& core, net::Fd control, std::optional<Fault> connectFault);
    // Serves the connection until the peer leaves, the session ends it, or the unit stops.
    void Run();

  private:
    bool Reply(const std::string& text);
    bool SendExact(const std::string& bytes);
    // Applies a fault that replaces the normal handling; true when it did.
    bool PlayFault(const Fault& fault);
    void Handle(const std::string& raw);
    void HandleExcm(const std::string& word);
    void HandlePort(const std::string& arg);
    void HandleStor(const std::string& name);
    // Connects the data connection for STOR, playing a DataConnect fault; true when the
    // transfer goes on with `data`.
    bool OpenData(const sockaddr_in& to, const std::string& name, net::Fd& data);
    bool ReceiveData(int fd, std::vector<uint8_t>& bytes);
    std::string Store(const StoredUpload& upload) const;

    UnitCore& m_core;
    net::Fd m_control;
    std::optional<Fault> m_connectFault;
    in_addr m_peer{};
    bool m_open = true;    // false once the session has closed the connection
    bool m_silent = false; // answers nothing more
    Pace m_pace;           // how the current command's replies go out
    bool m_userGiven = false;
    bool m_loggedIn = false;
    std::string m_cwd = "/";
    bool m_binary = false; // FTP starts in ASCII type: line ends arrive as CR LF, kept as LF
    std::optional<sockaddr_in> m_dataPort;
    std::optional<Selector> m_selected;
};

} // namespace sim
