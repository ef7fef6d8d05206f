#include "trust/digest.h"

#include "trust/crypto_library.h"

#include <gcrypt.h>

#include <cstring>

namespace trust {

struct Sha256Stream::Handle {
    gcry_md_hd_t md = nullptr;
};

Sha256 Sha256Of(std::span<const uint8_t> bytes) {
    StartCryptoLibrary();
    Sha256 digest{};
    gcry_md_hash_buffer(GCRY_MD_SHA256, digest.data(), bytes.data(), bytes.size());
    return digest;
}

Sha256 Sha256Of(const std::string& text) {
    return Sha256Of(std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

std::vector<uint8_t> Sha512Of(std::span<const uint8_t> bytes) {
    StartCryptoLibrary();
    std::vector<uint8_t> digest(64);
    gcry_md_hash_buffer(GCRY_MD_SHA512, digest.data(), bytes.data(), bytes.size());
    return digest;
}

Sha256Stream::Sha256Stream() : m_handle(std::make_unique<Handle>()) {
    StartCryptoLibrary();
    gcry_md_open(&m_handle->md, GCRY_MD_SHA256, 0);
}

Sha256Stream::~Sha256Stream() {
    gcry_md_close(m_handle->md);
}

void Sha256Stream::Add(std::span<const uint8_t> bytes) {
    gcry_md_write(m_handle->md, bytes.data(), bytes.size());
}

Sha256 Sha256Stream::Finish() {
    Sha256 digest{};
    std::memcpy(digest.data(), gcry_md_read(m_handle->md, GCRY_MD_SHA256), digest.size());
    return digest;
}

std::string LowerHex(std::span<const uint8_t> bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (const uint8_t byte : bytes) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 15];
    }
    return text;
}

} // namespace trust
