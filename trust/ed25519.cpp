#include "trust/ed25519.h"

#include "trust/crypto_library.h"

#include <gcrypt.h>

namespace trust {
namespace {

// An S-expression of the crypto library, released on every path.
class Sexp {
  public:
    ~Sexp() { gcry_sexp_release(m_sexp); }
    gcry_sexp_t* Out() { return &m_sexp; }
    gcry_sexp_t Get() const { return m_sexp; }

  private:
    gcry_sexp_t m_sexp = nullptr;
};

int Length(std::span<const uint8_t> bytes) {
    return static_cast<int>(bytes.size());
}

} // namespace

bool VerifyEd25519(std::span<const uint8_t> publicKey, std::span<const uint8_t> message,
                   std::span<const uint8_t> signature) {
    if (publicKey.size() != kEd25519KeySize || signature.size() != kEd25519SignatureSize ||
        message.size() > (1u << 30))
        return false;
    StartCryptoLibrary();
    Sexp key, data, sig;
    if (gcry_sexp_build(key.Out(), nullptr, "(public-key(ecc(curve Ed25519)(flags eddsa)(q %b)))",
                        Length(publicKey), publicKey.data()) != 0 ||
        gcry_sexp_build(data.Out(), nullptr, "(data(flags eddsa)(hash-algo sha512)(value %b))",
                        Length(message), message.data()) != 0 ||
        gcry_sexp_build(sig.Out(), nullptr, "(sig-val(eddsa(r %b)(s %b)))", 32, signature.data(),
                        32, signature.data() + 32) != 0)
        return false;
    return gcry_pk_verify(sig.Get(), data.Get(), key.Get()) == 0;
}

} // namespace trust
