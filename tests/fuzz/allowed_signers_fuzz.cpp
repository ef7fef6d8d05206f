// Fuzz target: the allowed signers file. A file is refused whole, naming a line, or every line
// it keeps has principals, a key of the type the line names and, for Ed25519, its 32 bytes.

#include "tests/fuzz/fuzz_check.h"
#include "trust/allowed_signers.h"
#include "trust/name_pattern.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const trust::AllowedSigners file = trust::ReadAllowedSigners({data, size});
    if (!file.error.empty()) {
        FUZZ_CHECK(file.signers.empty() || file.error.rfind("line ", 0) == 0);
        FUZZ_CHECK(file.error.find('\n') == std::string::npos);
        return 0;
    }
    for (const trust::AllowedSigner& signer : file.signers) {
        FUZZ_CHECK(!signer.principals.empty() && signer.line >= 1);
        FUZZ_CHECK(signer.key.type != trust::kEd25519KeyType || signer.key.ed25519.size() == 32);
        // The patterns of a kept line are matched in bounded time, whatever they hold.
        trust::MatchPatternList("kqvorlink-set", signer.namespaces.value_or("*"));
        trust::MatchPatternList(signer.principals, signer.principals);
    }
    return 0;
}
