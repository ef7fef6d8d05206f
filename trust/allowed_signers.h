#pragma once
// ssh-keygen's allowed_signers file (see ALLOWED SIGNERS in ssh-keygen(1)), read as hostile
// input. A line: principals (a pattern-list, optionally in double quotes), options (comma
// separated: namespaces="LIST", valid-after="TIME", valid-before="TIME", cert-authority; the
// keywords in any case, the values quoted), the key type, the base64 key and an optional comment.
// Blank lines and lines that start with '#' are skipped.
//
// Stricter than ssh-keygen, which passes over a line it cannot read: here such a line refuses the
// whole file, as does a cert-authority line (only plain keys sign sets).

#include "trust/ssh_public_key.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace trust {

constexpr size_t kMaxAllowedSignersBytes = 1024 * 1024;

// A time of valid-after/valid-before: YYYYMMDD[HHMM[SS]][Z], local time unless Z.
struct SignerTime {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    bool utc = false;
};

struct AllowedSigner {
    int line = 0;
    std::string principals; // the pattern-list
    std::optional<std::string> namespaces;
    std::optional<SignerTime> validAfter;
    std::optional<SignerTime> validBefore;
    PublicKey key;
};

struct AllowedSigners {
    std::vector<AllowedSigner> signers;
    std::string error; // "line 3: ..." when the file is refused
};

AllowedSigners ReadAllowedSigners(std::span<const uint8_t> file);

} // namespace trust
