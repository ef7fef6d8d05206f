#include "trust/allowed_signers.h"

#include "trust/base64.h"

#include <algorithm>
#include <cctype>
#include <string_view>

namespace trust {
namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

void SkipBlanks(std::string_view& text) {
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
}

// The next field: up to a blank, or a double-quoted text (without its quotes) that a blank or
// the line's end must follow. nullopt for an unclosed quote.
std::optional<std::string_view> Field(std::string_view& text) {
    if (!text.empty() && text.front() == '"') {
        const size_t close = text.find('"', 1);
        if (close == std::string_view::npos ||
            (close + 1 < text.size() && !IsBlank(text[close + 1])))
            return std::nullopt;
        const std::string_view field = text.substr(1, close - 1);
        text.remove_prefix(close + 1);
        return field;
    }
    size_t end = 0;
    while (end < text.size() && !IsBlank(text[end]))
        ++end;
    const std::string_view field = text.substr(0, end);
    text.remove_prefix(end);
    return field;
}

// The options field: up to a blank outside double quotes.
std::string_view OptionsField(std::string_view& text) {
    bool quoted = false;
    size_t end = 0;
    for (; end < text.size() && (quoted || !IsBlank(text[end])); ++end) {
        if (text[end] == '"')
            quoted = !quoted;
    }
    const std::string_view field = text.substr(0, end);
    text.remove_prefix(end);
    return field;
}

bool IsKeyType(std::string_view word) {
    return word.starts_with("ssh-") || word.starts_with("ecdsa-") || word.starts_with("sk-");
}

bool Digits(std::string_view text, size_t at, size_t count, int& value) {
    value = 0;
    for (size_t i = at; i < at + count; ++i) {
        if (i >= text.size() || !std::isdigit(static_cast<unsigned char>(text[i])))
            return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

std::optional<SignerTime> ReadTime(std::string_view text) {
    SignerTime time;
    if (!text.empty() && text.back() == 'Z') {
        time.utc = true;
        text.remove_suffix(1);
    }
    if (text.size() != 8 && text.size() != 12 && text.size() != 14)
        return std::nullopt;
    if (!Digits(text, 0, 4, time.year) || !Digits(text, 4, 2, time.month) ||
        !Digits(text, 6, 2, time.day))
        return std::nullopt;
    if (text.size() >= 12 && (!Digits(text, 8, 2, time.hour) || !Digits(text, 10, 2, time.minute)))
        return std::nullopt;
    if (text.size() == 14 && !Digits(text, 12, 2, time.second))
        return std::nullopt;
    if (time.year < 1970 || time.month < 1 || time.month > 12 || time.day < 1 || time.day > 31 ||
        time.hour > 23 || time.minute > 59 || time.second > 59)
        return std::nullopt;
    return time;
}

bool StartsWithWord(std::string_view text, std::string_view word) {
    return text.size() >= word.size() &&
           std::equal(word.begin(), word.end(), text.begin(), [](char lower, char c) {
               return std::tolower(static_cast<unsigned char>(c)) == lower;
           });
}

// One option's quoted value after its "keyword=", moved past; nullopt when it is not quoted or
// holds a backslash (whose meaning differs between readers).
std::optional<std::string> QuotedValue(std::string_view& options) {
    if (options.empty() || options.front() != '"')
        return std::nullopt;
    const size_t close = options.find('"', 1);
    if (close == std::string_view::npos)
        return std::nullopt;
    std::string value(options.substr(1, close - 1));
    if (value.find('\\') != std::string::npos)
        return std::nullopt;
    options.remove_prefix(close + 1);
    return value;
}

// The options into signer; an error text when they cannot be read.
std::string ReadOptions(std::string_view options, AllowedSigner& signer) {
    while (!options.empty()) {
        if (StartsWithWord(options, "cert-authority") &&
            (options.size() == 14 || options[14] == ',')) {
            return "cert-authority lines are not accepted: list each signer's own Ed25519 key";
        }
        std::optional<std::string>* text = nullptr;
        std::optional<SignerTime>* time = nullptr;
        size_t keyword = 0;
        if (StartsWithWord(options, "namespaces="))
            text = &signer.namespaces, keyword = 11;
        else if (StartsWithWord(options, "valid-after="))
            time = &signer.validAfter, keyword = 12;
        else if (StartsWithWord(options, "valid-before="))
            time = &signer.validBefore, keyword = 13;
        else
            return "an option other than namespaces=, valid-after=, valid-before=";
        options.remove_prefix(keyword);
        const std::optional<std::string> value = QuotedValue(options);
        if (!value)
            return "an option's value is not in double quotes";
        if ((text && *text) || (time && *time))
            return "an option given twice";
        if (text) {
            *text = *value;
        } else if (!(*time = ReadTime(*value))) {
            return "a time that is not YYYYMMDD[HHMM[SS]][Z]";
        }
        if (!options.empty()) {
            if (options.front() != ',')
                return "options not separated by commas";
            options.remove_prefix(1);
        }
    }
    return "";
}

// The key type and the base64 key (a comment may follow).
std::string ReadKey(std::string_view rest, AllowedSigner& signer) {
    const std::optional<std::string_view> type = Field(rest);
    SkipBlanks(rest);
    const std::optional<std::string_view> base64 = Field(rest);
    if (!type || !base64 || type->empty() || base64->empty())
        return "no key type and key";
    const auto blob = DecodeBase64(*base64);
    if (!blob)
        return "its key is not base64";
    std::optional<PublicKey> key = ReadPublicKey(*blob);
    if (!key)
        return "its key is malformed";
    if (key->type != *type)
        return "its key is not of the type the line names";
    signer.key = std::move(*key);
    return "";
}

std::string ReadLine(std::string_view line, AllowedSigner& signer) {
    const std::optional<std::string_view> principals = Field(line);
    if (!principals)
        return "its principals' quote is not closed";
    if (principals->empty())
        return "no principals";
    signer.principals = std::string(*principals);
    SkipBlanks(line);
    std::string_view probe = line;
    const std::optional<std::string_view> next = Field(probe);
    if (next && !IsKeyType(*next)) {
        const std::string_view options = OptionsField(line);
        if (std::string why = ReadOptions(options, signer); !why.empty())
            return why;
        SkipBlanks(line);
    }
    return ReadKey(line, signer);
}

bool HasControlByte(std::string_view line) {
    return std::any_of(line.begin(), line.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return (byte < 0x20 && c != '\t') || byte == 0x7f;
    });
}

} // namespace

AllowedSigners ReadAllowedSigners(std::span<const uint8_t> file) {
    AllowedSigners result;
    if (file.size() > kMaxAllowedSignersBytes) {
        result.error = "larger than " + std::to_string(kMaxAllowedSignersBytes) + " bytes";
        return result;
    }
    std::string_view text(reinterpret_cast<const char*>(file.data()), file.size());
    for (int number = 1; !text.empty(); ++number) {
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        SkipBlanks(line);
        if (line.empty() || line.front() == '#')
            continue;
        AllowedSigner signer;
        signer.line = number;
        std::string why = HasControlByte(line) ? "a control character" : ReadLine(line, signer);
        if (!why.empty()) {
            result.error = "line " + std::to_string(number) + ": " + why;
            result.signers.clear();
            return result;
        }
        result.signers.push_back(std::move(signer));
    }
    return result;
}

} // namespace trust
