#include "trust/crypto_library.h"

#include <gcrypt.h>

#include <mutex>

namespace trust {

void StartCryptoLibrary() {
    static std::once_flag started;
    std::call_once(started, [] {
        gcry_check_version(nullptr);
        // Only public keys and digests pass through here: no secure memory is needed.
        gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
        gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
    });
}

} // namespace trust
