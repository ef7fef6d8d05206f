#include "trust/sshsig.h"

#include "trust/base64.h"
#include "trust/digest.h"
#include "trust/ssh_wire.h"

#include <string_view>

namespace trust {
namespace {

constexpr std::string_view kBegin = "-----BEGIN SSH SIGNATURE-----\n";
constexpr std::string_view kEnd = "\n-----END SSH SIGNATURE-----";
constexpr std::string_view kMagic = "SSHSIG";
constexpr uint32_t kVersion = 1;

SshSignature Refused(const std::string& why) {
    SshSignature signature;
    signature.error = why;
    return signature;
}

// The blob between the armour lines; what follows the end line is not looked at.
std::optional<std::vector<uint8_t>> Dearmoured(std::string_view text, std::string& why) {
    if (text.substr(0, kBegin.size()) != kBegin) {
        why = "no \"-----BEGIN SSH SIGNATURE-----\" line at its start";
        return std::nullopt;
    }
    text.remove_prefix(kBegin.size());
    const size_t end = text.find(kEnd);
    if (end == std::string_view::npos) {
        why = "no \"-----END SSH SIGNATURE-----\" line";
        return std::nullopt;
    }
    auto blob = DecodeBase64(text.substr(0, end));
    if (!blob)
        why = "its base64 is broken";
    return blob;
}

} // namespace

SshSignature ReadSshSignature(std::span<const uint8_t> file) {
    if (file.size() > kMaxSignatureFileBytes)
        return Refused("larger than " + std::to_string(kMaxSignatureFileBytes) + " bytes");
    std::string why;
    const auto blob =
        Dearmoured(std::string_view(reinterpret_cast<const char*>(file.data()), file.size()), why);
    if (!blob)
        return Refused(why);
    WireReader reader(*blob);
    const auto magic = reader.Bytes(kMagic.size());
    if (!magic || TextOf(*magic) != kMagic)
        return Refused("no SSHSIG signature inside its armour");
    const auto version = reader.Uint32();
    if (!version || *version != kVersion)
        return Refused("an SSHSIG signature of a version other than 1");
    const auto key = reader.String();
    const auto nameSpace = reader.String();
    const auto reserved = reader.String();
    const auto hash = reader.String();
    const auto signatureBlob = reader.String();
    if (!signatureBlob || !reader.AtEnd())
        return Refused(signatureBlob ? "bytes after its signature" : "it is cut short");
    SshSignature signature{{key->begin(), key->end()},
                           TextOf(*nameSpace),
                           {reserved->begin(), reserved->end()},
                           TextOf(*hash),
                           "",
                           {},
                           ""};
    if (signature.hashAlgorithm != "sha256" && signature.hashAlgorithm != "sha512")
        return Refused("its hash algorithm is neither sha256 nor sha512");
    WireReader inner(*signatureBlob);
    const auto type = inner.String();
    const auto bytes = inner.String();
    if (!bytes || !inner.AtEnd())
        return Refused("its signature blob is malformed");
    signature.signatureType = TextOf(*type);
    signature.signature.assign(bytes->begin(), bytes->end());
    return signature;
}

std::vector<uint8_t> SignedData(const SshSignature& signature, std::span<const uint8_t> message) {
    std::vector<uint8_t> data(kMagic.begin(), kMagic.end());
    AppendWireString(data, signature.nameSpace);
    AppendWireString(data, signature.reserved);
    AppendWireString(data, signature.hashAlgorithm);
    if (signature.hashAlgorithm == "sha256") {
        const Sha256 digest = Sha256Of(message);
        AppendWireString(data, std::span<const uint8_t>(digest));
    } else {
        AppendWireString(data, Sha512Of(message));
    }
    return data;
}

} // namespace trust
