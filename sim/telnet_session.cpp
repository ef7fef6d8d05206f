#include "sim/telnet_session.h"

#include "sim/command_line.h"
#include "sim/line_receiver.h"

namespace sim {

namespace {

constexpr unsigned char kIac = 255, kDont = 254, kDo = 253, kWont = 252, kWill = 251, kSb = 250,
                        kSe = 240;
constexpr unsigned char kEcho = 1, kSuppressGoAhead = 3, kTerminalType = 24, kWindowSize = 31;

bool Supported(unsigned char option) {
    return option == kEcho || option == kSuppressGoAhead || option == kTerminalType ||
           option == kWindowSize;
}

// What the unit says to one option command: agreement for the options it knows.
std::string AnswerTo(unsigned char verb, unsigned char option) {
    unsigned char answer = 0;
    if (verb == kWill) {
        answer = Supported(option) ? kDo : kDont;
    } else if (verb == kDo) {
        answer = Supported(option) ? kWill : kWont;
    } else if (verb == kWont) {
        answer = kDont;
    } else {
        answer = kWont;
    }
    return std::string{char(kIac), char(answer), char(option)};
}

enum IacState { kData, kAfterIac, kAfterVerb, kInSub, kInSubAfterIac };

} // namespace

TelnetSession::TelnetSession(UnitCore& core, net::Fd connection, std::optional<Fault> connectFault)
    : m_core(core), m_conn(std::move(connection)), m_connectFault(std::move(connectFault)) {
    net::SetNoDelay(m_conn.Get());
}

bool TelnetSession::Send(const std::string& bytes) {
    if (m_open && !m_core.Send(m_conn.Get(), bytes, m_pace)) {
        m_conn.Close();
        m_open = false;
    }
    return m_open;
}

void TelnetSession::Run() {
    const UnitConfig& cfg = m_core.Config();
    if (const auto& fault = m_connectFault) {
        m_core.Sleep(fault->afterMs);
        switch (fault->action) {
        case Fault::Action::Close:
        case Fault::Action::Refuse:
            return;
        case Fault::Action::Silent:
            m_silent = true;
            break;
        case Fault::Action::Delay:
            m_answerDelayMs = fault->delayMs;
            break;
        case Fault::Action::Split:
        case Fault::Action::Trickle:
            m_pace = PaceOf(*fault);
            break;
        default: // Reply and Raw: a text of the unit's own as it connects
            Send(FaultText(*fault));
            break;
        }
    }
    if (!cfg.telnetGreeting.empty() && !m_silent) {
        Send(WithLineEnd(cfg.telnetGreeting));
    }
    ReceiveLines(
        m_core, m_conn.Get(), m_open,
        [&](const char* data, size_t length) {
            std::string text = Filter(data, length);
            if (!m_answers.empty() && cfg.telnetOptionAnswers && !m_silent) {
                m_core.Sleep(m_answerDelayMs);
                Send(m_answers);
            }
            m_answers.clear();
            return text;
        },
        [&](const std::string& raw) { HandleLine(raw); });
}

std::string TelnetSession::Filter(const char* data, size_t length) {
    std::string text;
    for (size_t i = 0; i < length; ++i) {
        const auto c = static_cast<unsigned char>(data[i]);
        switch (m_iacState) {
        case kData:
            if (c == kIac) {
                m_iacState = kAfterIac;
            } else {
                text += static_cast<char>(c);
            }
            break;
        case kAfterIac:
            if (c == kIac) {
                text += static_cast<char>(c);
                m_iacState = kData;
            } else if (c >= kWill && c <= kDont) {
                m_verb = c;
                m_iacState = kAfterVerb;
            } else {
                m_iacState = c == kSb ? kInSub : kData;
            }
            break;
        case kAfterVerb:
            if (!m_answered[m_verb - kWill][c]) {
                m_answered[m_verb - kWill][c] = true;
                m_answers += AnswerTo(m_verb, c);
            }
            m_iacState = kData;
            break;
        case kInSub:
            m_iacState = c == kIac ? kInSubAfterIac : kInSub;
            break;
        case kInSubAfterIac:
            m_iacState = c == kSe ? kData : kInSub;
            break;
        }
    }
    return text;
}

void TelnetSession::HandleLine(const std::string& raw) {
    const CommandLine read = ReadCommandLine(raw, m_core.Config().strict);
    const std::string& line = read.text;
    if (line.empty() && read.problem.empty()) {
        return;
    }
    m_core.Note("telnet: " + line);
    if (!read.problem.empty()) {
        m_core.Note("rejected: " + read.problem);
        if (!m_silent) {
            Send("syntax error: " + read.problem + "\r\n");
        }
        return;
    }
    if (line != "u_soft") {
        if (!m_silent) {
            Send(line + ": command not found\r\n");
        }
        return;
    }
    // The unit writes the CPU program and says nothing; it restarts once both connections of
    // the tool are gone.
    auto fault = m_core.Faults().Check(Fault::Trigger::TelnetUSoft);
    if (fault) {
        m_core.Sleep(fault->afterMs);
    }
    if (!fault || fault->action == Fault::Action::Silent || fault->action == Fault::Action::Delay) {
        m_core.SetRestartDue(true);
        return;
    }
    if (fault->action == Fault::Action::Close || fault->action == Fault::Action::Refuse) {
        m_conn.Close();
        m_open = false;
        return;
    }
    // Any other fault answers with its text: split or trickled `delayMs` apart, or whole.
    m_pace = PaceOf(*fault);
    Send(FaultText(*fault));
}

} // namespace sim
