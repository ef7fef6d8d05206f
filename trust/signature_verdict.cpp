#include "trust/signature_verdict.h"

#include "trust/ed25519.h"
#include "trust/name_pattern.h"

namespace trust {
namespace {

SignatureVerdict Refused(std::string fingerprint, std::string reason) {
    return {false, "", std::move(fingerprint), std::move(reason)};
}

// The first principal of the list that the list itself admits (a negated pattern may exclude it).
std::optional<std::string> FirstPrincipal(const std::string& list) {
    size_t at = 0;
    while (at <= list.size()) {
        const size_t comma = list.find(',', at);
        const std::string principal = list.substr(at, comma - at);
        if (!principal.empty() && principal[0] != '!' &&
            MatchPatternList(principal, list) == ListMatch::Positive)
            return principal;
        if (comma == std::string::npos)
            break;
        at = comma + 1;
    }
    return std::nullopt;
}

// Why a line whose key signed the manifest does not admit it now; empty when it does.
std::string LineRefusal(const AllowedSigner& signer, int64_t now, const SignerClock& clock) {
    const std::string line = "line " + std::to_string(signer.line) + ": ";
    if (signer.namespaces &&
        MatchPatternList(kSetNamespace, *signer.namespaces) != ListMatch::Positive)
        return line + "its namespaces do not allow " + kSetNamespace;
    for (const auto& [time, after] :
         {std::pair{signer.validAfter, true}, std::pair{signer.validBefore, false}}) {
        if (!time)
            continue;
        const SignerMoment moment = clock(*time);
        if (!moment.error.empty())
            return line + (after ? "valid-after: " : "valid-before: ") + moment.error;
        if (after && now < moment.epochSeconds)
            return line + "the key is not valid yet (valid-after)";
        if (!after && now > moment.epochSeconds)
            return line + "the key has expired (valid-before)";
    }
    if (!FirstPrincipal(signer.principals))
        return line + "no principal that its own patterns admit";
    return "";
}

} // namespace

SignatureVerdict JudgeSignature(std::span<const uint8_t> message, const SshSignature& signature,
                                const AllowedSigners& signers, int64_t nowEpochSeconds,
                                const SignerClock& clock) {
    if (!signature.error.empty())
        return Refused("", "it is no SSH signature: " + signature.error);
    const std::optional<PublicKey> key = ReadPublicKey(signature.publicKey);
    if (!key)
        return Refused("", "its public key is malformed");
    const std::string fingerprint = Fingerprint(key->blob);
    if (key->type != kEd25519KeyType || signature.signatureType != kEd25519KeyType)
        return Refused(fingerprint, "it is made with a " + KeyTypeName(key->type) +
                                        " key; sets are signed with Ed25519 keys only "
                                        "(ssh-keygen -t ed25519)");
    if (signature.nameSpace != kSetNamespace)
        return Refused(fingerprint, std::string("it is made for another namespace than ") +
                                        kSetNamespace + " (ssh-keygen -Y sign -n " + kSetNamespace +
                                        ")");
    if (!VerifyEd25519(key->ed25519, SignedData(signature, message), signature.signature))
        return Refused(fingerprint, "it does not match the manifest (one of them was changed, or "
                                    "it signs another manifest)");
    std::string firstRefusal;
    for (const AllowedSigner& signer : signers.signers) {
        if (signer.key.blob != key->blob)
            continue;
        const std::string why = LineRefusal(signer, nowEpochSeconds, clock);
        if (why.empty())
            return {true, *FirstPrincipal(signer.principals), fingerprint, ""};
        if (firstRefusal.empty())
            firstRefusal = why;
    }
    if (firstRefusal.empty())
        return Refused(fingerprint, "its key " + fingerprint + " is not an allowed signer");
    return Refused(fingerprint, firstRefusal);
}

} // namespace trust
