#include <windows.h>
// <windows.h> first: the CNG and crypt32 headers need its types.
#include <bcrypt.h>
#include <wincrypt.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <string>

#include "cipher/crypto.h"
#include "common/cng_win32.h"
#include "common/failure.h"
#include "common/hex.h"

namespace brimlet::crypto {

namespace {

constexpr std::int32_t kErrCipher = -1;
constexpr std::size_t kKeyBytes = 32;

Failure CngFailure(const std::string& what, NTSTATUS status) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(status));
    return Failure(kErrCipher, what + " (NTSTATUS " + code + ")");
}

}  // namespace

std::vector<unsigned char> Sha256(std::string_view data) {
    cng::Digest digest(BCRYPT_SHA256_ALGORITHM);
    std::vector<unsigned char> out;
    if (digest.Add(data.data(), data.size())) {
        out = digest.Finish();
    }
    if (out.size() != kKeyBytes) {
        throw Failure(kErrCipher, "Key derivation failed");
    }
    return out;
}

struct AesCbc::State {
    cng::Algorithm alg;
    std::vector<UCHAR> keyObject;
    cng::Key key;
    std::array<UCHAR, kBlockBytes> iv{};
    bool encrypt = true;
};

AesCbc::AesCbc(const std::vector<unsigned char>& key, bool encrypt)
    : m_state(std::make_unique<State>()) {
    const std::string what = std::string(encrypt ? "Encryption failed" : "Decryption failed") +
                             ": cannot start AES-256-CBC";
    State& s = *m_state;
    s.encrypt = encrypt;
    s.alg = cng::OpenAlgorithm(BCRYPT_AES_ALGORITHM);
    if (s.alg.get() == nullptr || key.size() != kKeyBytes) {
        throw Failure(kErrCipher, what);
    }
    NTSTATUS status =
        BCryptSetProperty(s.alg.get(), BCRYPT_CHAINING_MODE,
                          reinterpret_cast<PUCHAR>(const_cast<wchar_t*>(BCRYPT_CHAIN_MODE_CBC)),
                          sizeof BCRYPT_CHAIN_MODE_CBC, 0);
    if (!cng::Ok(status)) {
        throw CngFailure(what, status);
    }
    s.keyObject = cng::ObjectBuffer(s.alg);
    // A key handle of its own per message: no chaining state survives from another one.
    status = BCryptGenerateSymmetricKey(
        s.alg.get(), s.key.out(), s.keyObject.data(), static_cast<ULONG>(s.keyObject.size()),
        const_cast<PUCHAR>(key.data()), static_cast<ULONG>(key.size()), 0);
    if (s.keyObject.empty() || !cng::Ok(status)) {
        throw CngFailure(what, status);
    }
}

AesCbc::~AesCbc() = default;

void AesCbc::Blocks(const unsigned char* in, std::size_t size, unsigned char* out) {
    if (size == 0) {
        return;
    }
    State& s = *m_state;
    // Windows writes the last cipher block back into the IV buffer, Wine 8 does not: the chain
    // is carried here, and CNG gets a copy it may change or not.
    std::array<UCHAR, kBlockBytes> iv = s.iv;
    const UCHAR* lastCipherBlock = (s.encrypt ? out : in) + size - kBlockBytes;
    ULONG done = 0;
    auto* input = const_cast<PUCHAR>(in);
    const auto length = static_cast<ULONG>(size);
    const NTSTATUS status = s.encrypt ? BCryptEncrypt(s.key.get(), input, length, nullptr,
                                                      iv.data(), iv.size(), out, length, &done, 0)
                                      : BCryptDecrypt(s.key.get(), input, length, nullptr,
                                                      iv.data(), iv.size(), out, length, &done, 0);
    if (!cng::Ok(status) || done != length) {
        throw CngFailure(s.encrypt ? "Encryption failed" : "Decryption failed", status);
    }
    std::copy_n(lastCipherBlock, kBlockBytes, s.iv.begin());
}

std::size_t Base64Encode(const unsigned char* in, std::size_t size, char* out) {
    // The room the caller provides, and the terminating NUL CryptBinaryToStringA adds.
    DWORD chars = static_cast<DWORD>((size + 2) / 3 * 4 + 1);
    if (size == 0) {
        return 0;
    }
    if (!CryptBinaryToStringA(in, static_cast<DWORD>(size),
                              CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF, out, &chars)) {
        throw Failure(kErrCipher, "Encryption failed: base64 encoding");
    }
    return static_cast<std::size_t>(chars);
}

struct Md5::State {
    cng::Digest digest{BCRYPT_MD5_ALGORITHM};
};

Md5::Md5() : m_state(std::make_unique<State>()) {
    if (!m_state->digest.Ready()) {
        throw Failure(kErrCipher, "MD5 is not available");
    }
}

Md5::~Md5() = default;

void Md5::Add(std::string_view data) {
    if (!m_state->digest.Add(data.data(), data.size())) {
        throw Failure(kErrCipher, "MD5 computation failed");
    }
}

std::string Md5::Hex() {
    const std::vector<unsigned char> digest = m_state->digest.Finish();
    if (digest.empty()) {
        throw Failure(kErrCipher, "MD5 computation failed");
    }
    return LowerHex(digest.data(), digest.size());
}

}  // namespace brimlet::crypto
