#pragma once
// SHA-256 and SHA-512 of bytes, whole or fed piece by piece, and the lowercase hexadecimal text
// that sha256sum prints.

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace trust {

using Sha256 = std::array<uint8_t, 32>;

Sha256 Sha256Of(std::span<const uint8_t> bytes);
Sha256 Sha256Of(const std::string& text);
std::vector<uint8_t> Sha512Of(std::span<const uint8_t> bytes);

// A SHA-256 fed in pieces (a file too large to hold twice).
class Sha256Stream {
  public:
    Sha256Stream();
    ~Sha256Stream();
    Sha256Stream(const Sha256Stream&) = delete;
    Sha256Stream& operator=(const Sha256Stream&) = delete;

    void Add(std::span<const uint8_t> bytes);
    Sha256 Finish();

  private:
    struct Handle;
    std::unique_ptr<Handle> m_handle;
};

std::string LowerHex(std::span<const uint8_t> bytes);

} // namespace trust
