#include "trust/ssh_public_key.h"

#include "trust/base64.h"
#include "trust/digest.h"
#include "trust/ed25519.h"
#include "trust/ssh_wire.h"

#include <algorithm>
#include <cctype>

namespace trust {

std::optional<PublicKey> ReadPublicKey(std::span<const uint8_t> blob) {
    WireReader reader(blob);
    const auto type = reader.String();
    if (!type || type->empty() || type->size() > 64)
        return std::nullopt;
    PublicKey key{TextOf(*type), std::vector<uint8_t>(blob.begin(), blob.end()), {}};
    if (key.type != kEd25519KeyType)
        return key;
    const auto bytes = reader.String();
    if (!bytes || bytes->size() != kEd25519KeySize || !reader.AtEnd())
        return std::nullopt;
    key.ed25519.assign(bytes->begin(), bytes->end());
    return key;
}

std::string Fingerprint(std::span<const uint8_t> blob) {
    const Sha256 digest = Sha256Of(blob);
    return "SHA256:" + EncodeBase64Unpadded(digest);
}

std::string KeyTypeName(const std::string& type) {
    std::string name = type.rfind("ssh-", 0) == 0 ? type.substr(4) : type;
    name = name.substr(0, name.find('-'));
    // The type came with the key: only letters, digits and a few marks reach a message.
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) {
        return std::isalnum(c) || c == '@' || c == '.' || c == '_' ? char(std::toupper(c)) : '?';
    });
    return name;
}

} // namespace trust
