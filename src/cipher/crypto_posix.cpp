#include <openssl/err.h>
#include <openssl/evp.h>

#include <array>
#include <cstdint>
#include <string>

#include "cipher/crypto.h"
#include "common/failure.h"
#include "common/hex.h"

namespace brimlet::crypto {

namespace {

constexpr std::int32_t kErrCipher = -1;
constexpr std::size_t kKeyBytes = 32;

Failure CryptoFailure(const std::string& what) {
    std::string text = what;
    const unsigned long err = ERR_get_error();
    if (err != 0) {
        std::array<char, 256> buf{};
        ERR_error_string_n(err, buf.data(), buf.size());
        text += " (";
        text += buf.data();
        text += ")";
    }
    ERR_clear_error();
    return Failure(kErrCipher, text);
}

}  // namespace

std::vector<unsigned char> Sha256(std::string_view data) {
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    if (EVP_Digest(data.data(), data.size(), digest.data(), &length, EVP_sha256(), nullptr) != 1 ||
        length != kKeyBytes) {
        throw CryptoFailure("Key derivation failed");
    }
    return std::vector<unsigned char>(digest.begin(), digest.begin() + length);
}

struct AesCbc::State {
    struct CtxDeleter {
        void operator()(EVP_CIPHER_CTX* ctx) const { EVP_CIPHER_CTX_free(ctx); }
    };
    std::unique_ptr<EVP_CIPHER_CTX, CtxDeleter> ctx;
    bool encrypt = true;
};

AesCbc::AesCbc(const std::vector<unsigned char>& key, bool encrypt)
    : m_state(std::make_unique<State>()) {
    const char* what = encrypt ? "Encryption failed" : "Decryption failed";
    m_state->encrypt = encrypt;
    m_state->ctx.reset(EVP_CIPHER_CTX_new());
    if (!m_state->ctx) {
        throw CryptoFailure(std::string(what) + ": no cipher context");
    }
    static const std::array<unsigned char, kBlockBytes> kZeroIv{};
    if (key.size() != kKeyBytes ||
        EVP_CipherInit_ex(m_state->ctx.get(), EVP_aes_256_cbc(), nullptr, key.data(),
                          kZeroIv.data(), encrypt ? 1 : 0) != 1 ||
        EVP_CIPHER_CTX_set_padding(m_state->ctx.get(), 0) != 1) {
        throw CryptoFailure(std::string(what) + ": cannot start AES-256-CBC");
    }
}

AesCbc::~AesCbc() = default;

void AesCbc::Blocks(const unsigned char* in, std::size_t size, unsigned char* out) {
    int written = 0;
    if (size > 0 &&
        (EVP_CipherUpdate(m_state->ctx.get(), out, &written, in, static_cast<int>(size)) != 1 ||
         static_cast<std::size_t>(written) != size)) {
        throw CryptoFailure(m_state->encrypt ? "Encryption failed" : "Decryption failed");
    }
}

std::size_t Base64Encode(const unsigned char* in, std::size_t size, char* out) {
    return static_cast<std::size_t>(
        EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out), in, static_cast<int>(size)));
}

struct Md5::State {
    struct CtxDeleter {
        void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
    };
    std::unique_ptr<EVP_MD_CTX, CtxDeleter> ctx;
};

Md5::Md5() : m_state(std::make_unique<State>()) {
    m_state->ctx.reset(EVP_MD_CTX_new());
    if (!m_state->ctx || EVP_DigestInit_ex(m_state->ctx.get(), EVP_md5(), nullptr) != 1) {
        throw CryptoFailure("MD5 is not available");
    }
}

Md5::~Md5() = default;

void Md5::Add(std::string_view data) {
    if (EVP_DigestUpdate(m_state->ctx.get(), data.data(), data.size()) != 1) {
        throw CryptoFailure("MD5 computation failed");
    }
}

std::string Md5::Hex() {
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(m_state->ctx.get(), digest.data(), &length) != 1) {
        throw CryptoFailure("MD5 computation failed");
    }
    return LowerHex(digest.data(), length);
}

}  // namespace brimlet::crypto
