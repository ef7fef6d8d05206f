#include "sim/scenario.h"

#include <cctype>
#include <charconv>
#include <optional>
#include <vector>

#include "sim/sim_socket.h"

namespace sim {

namespace {

struct Token {
    std::string text;
    bool quoted = false;
};

std::optional<std::vector<Token>> Tokenize(const std::string& line, std::string* why) {
    std::vector<Token> tokens;
    size_t i = 0;
    while (i < line.size()) {
        char c = line[i];
        if (c == ' ' || c == '\t' || c == '\r') {
            ++i;
        } else if (c == '#') {
            break;
        } else if (c == '"') {
            Token t{"", true};
            for (++i;; ++i) {
                if (i >= line.size()) {
                    *why = "unterminated quoted text";
                    return std::nullopt;
                }
                if (line[i] == '"') {
                    ++i;
                    break;
                }
                if (line[i] == '\\' && i + 3 < line.size() && line[i + 1] == 'x' &&
                    std::isxdigit(static_cast<unsigned char>(line[i + 2])) &&
                    std::isxdigit(static_cast<unsigned char>(line[i + 3]))) {
                    t.text += static_cast<char>(std::stoi(line.substr(i + 2, 2), nullptr, 16));
                    i += 3;
                } else if (line[i] == '\\' && i + 1 < line.size()) {
                    char e = line[++i];
                    t.text += e == 'r'   ? '\r'
                              : e == 'n' ? '\n'
                              : e == 't' ? '\t'
                              : e == '0' ? '\0'
                                         : e;
                } else {
                    t.text += line[i];
                }
            }
            tokens.push_back(std::move(t));
        } else {
            size_t end = line.find_first_of(" \t\r\"#", i);
            end = end == std::string::npos ? line.size() : end;
            tokens.push_back({line.substr(i, end - i), false});
            i = end;
        }
    }
    return tokens;
}

std::optional<uint32_t> Number(const Token& t) {
    uint32_t value = 0;
    const char* end = t.text.data() + t.text.size();
    auto [ptr, ec] = std::from_chars(t.text.data(), end, value);
    if (t.quoted || t.text.empty() || ec != std::errc() || ptr != end) {
        return std::nullopt;
    }
    return value;
}

// The actions that take no value.
std::optional<Fault::Action> SimpleAction(const std::string& word) {
    using A = Fault::Action;
    static const std::pair<const char*, A> kActions[] = {
        {"close", A::Close},   {"silent", A::Silent}, {"stranger", A::Stranger},
        {"refuse", A::Refuse}, {"drop", A::Drop},
    };
    for (const auto& [name, action] : kActions) {
        if (word == name) {
            return action;
        }
    }
    return std::nullopt;
}

class LineParser {
  public:
    explicit LineParser(std::vector<Token> tokens) : m_tokens(std::move(tokens)) {}

    bool Apply(UnitConfig& config, std::string* why);

  private:
    bool Done() const { return m_at >= m_tokens.size(); }
    const Token* Next() { return Done() ? nullptr : &m_tokens[m_at++]; }
    bool Text(std::string& out, std::string* why);
    bool Count(uint32_t& out, std::string* why);
    bool OptionalCount(uint32_t& out, std::string* why);
    bool ParseFault(const std::string& trigger, Fault& fault, std::string* why);

    std::vector<Token> m_tokens;
    size_t m_at = 0;
};

bool LineParser::Text(std::string& out, std::string* why) {
    const Token* t = Next();
    if (!t || !t->quoted) {
        *why = "a quoted text is missing";
        return false;
    }
    out = t->text;
    return true;
}

bool LineParser::Count(uint32_t& out, std::string* why) {
    const Token* t = Next();
    auto n = t ? Number(*t) : std::nullopt;
    if (!n) {
        *why = "a number is missing";
        return false;
    }
    out = *n;
    return true;
}

bool LineParser::OptionalCount(uint32_t& out, std::string* why) {
    if (Done() || !Number(m_tokens[m_at])) {
        return true;
    }
    return Count(out, why);
}

bool LineParser::ParseFault(const std::string& trigger, Fault& f, std::string* why) {
    using T = Fault::Trigger;
    using A = Fault::Action;
    if (trigger == "greeting") {
        f.trigger = T::Greeting;
    } else if (trigger == "command") {
        f.trigger = T::Command;
        if (!Text(f.match, why)) {
            return false;
        }
    } else if (trigger == "telnet-connect") {
        f.trigger = T::TelnetConnect;
    } else if (trigger == "telnet-usoft") {
        f.trigger = T::TelnetUSoft;
    } else if (trigger == "data-connect") {
        f.trigger = T::DataConnect;
    } else if (trigger == "ftp-connect") {
        f.trigger = T::FtpConnect;
    } else if (trigger == "transfer-end") {
        f.trigger = T::TransferEnd;
    } else {
        *why = "unknown setting or trigger \"" + trigger + "\"";
        return false;
    }
    const Token* action = Next();
    const std::string a = action ? action->text : "";
    bool ok = true;
    if (a == "reply" || a == "raw") {
        f.action = a == "reply" ? A::Reply : A::Raw;
        ok = Text(f.text, why);
    } else if (a == "no-connect") {
        f.action = A::NoConnect;
        if (!Done() && m_tokens[m_at].quoted) {
            ok = Text(f.text, why);
        }
        ok = ok && OptionalCount(f.delayMs, why);
    } else if (const auto simple = SimpleAction(a)) {
        f.action = *simple;
    } else if (a == "delay") {
        f.action = A::Delay;
        ok = Count(f.delayMs, why);
    } else if (a == "late") {
        if (f.trigger != T::FtpConnect && f.trigger != T::TelnetConnect) {
            *why = "late answers a connection attempt: ftp-connect or telnet-connect";
            return false;
        }
        f.action = A::Late;
        ok = Count(f.delayMs, why);
    } else if (a == "stall") {
        f.action = A::Stall;
        ok = OptionalCount(f.delayMs, why);
    } else if (a == "split" || a == "trickle") {
        f.action = a == "split" ? A::Split : A::Trickle;
        ok = OptionalCount(f.delayMs, why);
    } else {
        *why = "unknown action \"" + a + "\"";
        return false;
    }
    while (ok && !Done()) {
        const std::string option = Next()->text;
        uint32_t n = 0;
        if (option == "always") {
            f.times = 0;
        } else if (option == "occurrence" || option == "times") {
            ok = Count(n, why);
            (option == "occurrence" ? f.occurrence : f.times) = static_cast<int>(n);
        } else if (option == "repeat") {
            ok = Count(f.repeat, why);
        } else if (option == "after") {
            ok = Count(f.afterMs, why);
        } else if (option == "at" && f.action == A::Split) {
            ok = Count(f.splitAt, why);
        } else {
            *why = "unknown option \"" + option + "\"";
            return false;
        }
    }
    if (ok && f.afterMs != 0 && (f.action == A::Refuse || f.action == A::Late)) {
        *why = "after is for answers; a connection attempt takes late";
        return false;
    }
    return ok;
}

bool LineParser::Apply(UnitConfig& c, std::string* why) {
    const std::string word = Next()->text;
    std::string off;
    uint32_t n = 0;
    bool ok = true;
    if (word == "model") {
        const Token* t = Next();
        ok = t != nullptr;
        c.model = t ? t->text : "";
    } else if (word == "version") {
        ok = Text(c.versionText, why);
    } else if (word == "version-after") {
        // A quoted text, or "keep": the write of the CPU program leaves the version as it was.
        const bool quoted = !Done() && m_tokens[m_at].quoted;
        const Token* keep = quoted ? nullptr : Next();
        c.keepVersion = keep && keep->text == "keep";
        ok = quoted ? Text(c.versionAfterProgram, why) : c.keepVersion;
    } else if (word == "info-reply") {
        ok = Text(c.infoReply, why);
    } else if (word == "uname-reply") {
        ok = Text(c.unameReply, why);
    } else if (word == "greeting") {
        if (!Done() && m_tokens[m_at].quoted) {
            ok = Text(c.greeting, why);
        } else {
            Fault f;
            ok = ParseFault(word, f, why);
            c.faults.push_back(f);
        }
    } else if (word == "telnet-greeting") {
        ok = Text(c.telnetGreeting, why);
    } else if (word == "telnet" || word == "telnet-options") {
        const Token* t = Next();
        ok = t && (t->text == "on" || t->text == "off");
        (word == "telnet" ? c.telnetEnabled : c.telnetOptionAnswers) = t && t->text == "on";
    } else if (word == "restart-refuse-ms") {
        ok = Count(c.restartRefuseMs, why);
    } else if (word == "idle-timeout-s") {
        ok = Count(n, why);
        c.idleTimeoutMs = n * 1000;
    } else {
        Fault f;
        ok = ParseFault(word, f, why);
        c.faults.push_back(f);
    }
    if (ok && !Done()) {
        *why = "unexpected \"" + m_tokens[m_at].text + "\"";
        return false;
    }
    if (!ok && why->empty()) {
        *why = "bad value for " + word;
    }
    return ok;
}

} // namespace

bool ApplyScenario(std::istream& in, UnitConfig& config, std::string* error) {
    in_addr own{};
    const bool haveAddress = net::ParseIpv4(config.address, &own);
    bool inSection = true; // lines before any section apply to every unit
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        std::string why;
        const size_t start = line.find_first_not_of(" \t");
        if (start != std::string::npos && line[start] == '[') {
            // [ADDRESS] or [FIRST-LAST]: the lines up to the next section are for those units.
            const size_t end = line.find(']', start);
            uint32_t first = 0, last = 0;
            const std::string rest = end == std::string::npos ? "" : line.substr(end + 1);
            if (end == std::string::npos ||
                !net::ParseAddressRange(line.substr(start + 1, end - start - 1), &first, &last) ||
                rest.find_first_not_of(" \t\r") != std::string::npos) {
                *error = "line " + std::to_string(number) +
                         ": a section is [ADDRESS] or [FIRST-LAST] alone on its line";
                return false;
            }
            const uint32_t at = ntohl(own.s_addr);
            inSection = haveAddress && at >= first && at <= last;
            continue;
        }
        auto tokens = Tokenize(line, &why);
        if (tokens && tokens->empty()) {
            continue;
        }
        UnitConfig ignored;
        if (!tokens || !LineParser(std::move(*tokens)).Apply(inSection ? config : ignored, &why)) {
            *error = "line " + std::to_string(number) + ": " + why;
            return false;
        }
    }
    return true;
}

} // namespace sim
