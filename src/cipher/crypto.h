#pragma once
// The cipher's platform backend: SHA-256, raw AES-256-CBC blocks and base64 encoding, and the
// MD5 of a document as it is written. libcrypto on Linux, CNG on Windows; the padding, the
// chaining across pieces and the framing are the cipher's own, so both give the same bytes.
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace brimlet::crypto {

inline constexpr std::size_t kBlockBytes = 16;

// SHA-256 of `data`; throws Failure when the platform cannot compute it.
std::vector<unsigned char> Sha256(std::string_view data);

// AES-256-CBC over whole blocks, without padding, chained across calls from a zero IV.
class AesCbc {
  public:
    // Throws Failure ("<what> failed: cannot start AES-256-CBC") when the key is refused.
    AesCbc(const std::vector<unsigned char>& key, bool encrypt);
    ~AesCbc();
    AesCbc(const AesCbc&) = delete;
    AesCbc& operator=(const AesCbc&) = delete;

    // Transforms `size` bytes, a whole number of blocks, from `in` into `out` (which may not
    // overlap it). Throws Failure on any failure of the platform.
    void Blocks(const unsigned char* in, std::size_t size, unsigned char* out);

  private:
    struct State;
    std::unique_ptr<State> m_state;
};

// Standard base64 of `size` bytes, padded, without line breaks, written to `out` (room for
// (size + 2) / 3 * 4 characters and a NUL); returns the characters written, NUL not counted.
// Throws Failure when the platform cannot encode.
std::size_t Base64Encode(const unsigned char* in, std::size_t size, char* out);

// MD5 over bytes fed in pieces, as they are written.
class Md5 {
  public:
    // Throws Failure when the platform cannot compute MD5.
    Md5();
    ~Md5();
    Md5(const Md5&) = delete;
    Md5& operator=(const Md5&) = delete;

    // Throws Failure on any failure of the platform.
    void Add(std::string_view data);
    // The digest of everything added, in lower-case hex; ends the hash. Throws Failure.
    std::string Hex();

  private:
    struct State;
    std::unique_ptr<State> m_state;
};

}  // namespace brimlet::crypto
