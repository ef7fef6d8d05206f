#pragma once
// The crypto library (libgcrypt) is started once per process before its first use; every entry
// point of this room that hashes or verifies calls this first.

namespace trust {

void StartCryptoLibrary();

} // namespace trust
