// Fuzz target: the armoured SSH signature and the verdict on it, against a fixed allowed signers
// file: a signature that nobody made is never accepted, whatever its bytes.

#include "tests/fuzz/fuzz_check.h"
#include "trust/signature_verdict.h"

#include <cstdint>
#include <string>

namespace {

const std::string kSigners =
    "ops@example.com namespaces=\"kqvorlink-set\" ssh-ed25519 "
    "AAAAC3NzaC1lZDI1NTE5AAAAIKPlqhKbhFv7CerwkXcMhNb3rYnAgoyJYbS0J3MhFlEI\n";

trust::SignerMoment Epoch(const trust::SignerTime&) {
    return {0, ""};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const trust::AllowedSigners signers = trust::ReadAllowedSigners(
        {reinterpret_cast<const uint8_t*>(kSigners.data()), kSigners.size()});
    FUZZ_CHECK(signers.error.empty());
    const trust::SshSignature signature = trust::ReadSshSignature({data, size});
    if (signature.error.empty())
        FUZZ_CHECK(signature.hashAlgorithm == "sha256" || signature.hashAlgorithm == "sha512");
    const std::string manifest = "kqvorlink-manifest 1\n";
    const trust::SignatureVerdict verdict =
        trust::JudgeSignature({reinterpret_cast<const uint8_t*>(manifest.data()), manifest.size()},
                              signature, signers, 0, Epoch);
    FUZZ_CHECK(!verdict.accepted);
    FUZZ_CHECK(!verdict.reason.empty() && verdict.reason.find('\n') == std::string::npos);
    return 0;
}
