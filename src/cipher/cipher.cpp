#include "cipher/cipher.h"

#include <openssl/err.h>
#include <openssl/evp.h>

#include <algorithm>
#include <array>
#include <memory>

namespace brimlet {

namespace {

// Input that is not what the operation takes: error number 5, "invalid procedure call".
constexpr std::int32_t kErrInvalidArgument = 5;
constexpr std::int32_t kErrCipher = -1;

constexpr std::size_t kKeyBytes = 32;
constexpr std::size_t kBlockBytes = 16;
// A multiple of both the block size and 3, so every chunk but the last encodes without
// base64 padding.
constexpr std::size_t kChunkBytes = std::size_t{48} * 1024;

struct CipherCtxDeleter {
    void operator()(EVP_CIPHER_CTX* ctx) const { EVP_CIPHER_CTX_free(ctx); }
};
using CipherCtx = std::unique_ptr<EVP_CIPHER_CTX, CipherCtxDeleter>;

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

CipherCtx NewCtx() {
    CipherCtx ctx(EVP_CIPHER_CTX_new());
    if (!ctx) {
        throw CryptoFailure("Encryption failed: no cipher context");
    }
    return ctx;
}

bool IsBase64Char(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
           c == '/';
}

const std::array<unsigned char, kBlockBytes> kZeroIv{};

}  // namespace

Cipher::Cipher(std::string_view passPhrase) {
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    if (EVP_Digest(passPhrase.data(), passPhrase.size(), digest.data(), &length, EVP_sha256(),
                   nullptr) != 1 ||
        length != kKeyBytes) {
        throw CryptoFailure("Key derivation failed");
    }
    m_key.assign(digest.begin(), digest.begin() + kKeyBytes);
}

void Cipher::RequireReady(const char* operation) const {
    if (!Ready()) {
        throw Failure(kErrCipher, std::string(operation) + " failed: no key set");
    }
}

std::size_t Cipher::EncryptedTextSize(std::size_t plainBytes) {
    const std::size_t cipherBytes = (plainBytes / kBlockBytes + 1) * kBlockBytes;
    return (cipherBytes + 2) / 3 * 4;
}

std::string Cipher::Encrypt(std::string_view text) const {
    std::string out;
    out.reserve(EncryptedTextSize(text.size()));
    EncryptTo({text}, [&out](std::string_view chunk) { out.append(chunk); });
    return out;
}

struct EncryptStream::State {
    CipherCtx ctx;
    TextSink sink;
    // Cipher bytes wait here until they fill whole 3-byte groups; at most 2 are carried over.
    std::vector<unsigned char> pending =
        std::vector<unsigned char>(kChunkBytes + 2 * kBlockBytes + 2);
    std::size_t pendingSize = 0;
    std::string encoded = std::string((kChunkBytes + 2 * kBlockBytes + 4) / 3 * 4 + 1, '\0');
};

EncryptStream::EncryptStream(const Cipher& cipher, TextSink sink) {
    cipher.RequireReady("Encryption");
    CipherCtx ctx = NewCtx();
    if (EVP_EncryptInit_ex(ctx.get(), EVP_aes_256_cbc(), nullptr, cipher.m_key.data(),
                           kZeroIv.data()) != 1) {
        throw CryptoFailure("Encryption failed: cannot start AES-256-CBC");
    }
    m_state = std::make_unique<State>();
    m_state->ctx = std::move(ctx);
    m_state->sink = std::move(sink);
}

EncryptStream::~EncryptStream() = default;

void EncryptStream::Flush(bool last) {
    State& s = *m_state;
    const std::size_t take = last ? s.pendingSize : s.pendingSize / 3 * 3;
    if (take == 0) {
        return;
    }
    const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(s.encoded.data()),
                                  s.pending.data(), static_cast<int>(take));
    const std::size_t rest = s.pendingSize - take;
    std::copy(s.pending.begin() + static_cast<std::ptrdiff_t>(take),
              s.pending.begin() + static_cast<std::ptrdiff_t>(s.pendingSize), s.pending.begin());
    s.pendingSize = rest;
    s.sink(std::string_view(s.encoded.data(), static_cast<std::size_t>(n)));
}

void EncryptStream::Update(std::string_view piece) {
    State& s = *m_state;
    while (!piece.empty()) {
        const std::size_t n = std::min(piece.size(), kChunkBytes);
        int written = 0;
        if (EVP_EncryptUpdate(s.ctx.get(), s.pending.data() + s.pendingSize, &written,
                              reinterpret_cast<const unsigned char*>(piece.data()),
                              static_cast<int>(n)) != 1) {
            throw CryptoFailure("Encryption failed");
        }
        s.pendingSize += static_cast<std::size_t>(written);
        piece.remove_prefix(n);
        Flush(false);
    }
}

void EncryptStream::Finish() {
    State& s = *m_state;
    int written = 0;
    if (EVP_EncryptFinal_ex(s.ctx.get(), s.pending.data() + s.pendingSize, &written) != 1) {
        throw CryptoFailure("Encryption failed");
    }
    s.pendingSize += static_cast<std::size_t>(written);
    Flush(true);
}

void Cipher::EncryptTo(std::initializer_list<std::string_view> pieces, const TextSink& sink) const {
    EncryptStream stream(*this, sink);
    for (const std::string_view piece : pieces) {
        stream.Update(piece);
    }
    stream.Finish();
}

std::string Cipher::Decrypt(std::string_view base64) const {
    if (base64.size() >= 2 && base64.substr(base64.size() - 2) == "\r\n") {
        base64.remove_suffix(2);
    } else if (!base64.empty() && base64.back() == '\n') {
        base64.remove_suffix(1);
    }
    if (base64.empty()) {
        throw Failure(kErrInvalidArgument, "Not base64 text: empty");
    }
    if (base64.size() % 4 != 0) {
        throw Failure(kErrInvalidArgument, "Not base64 text: length is not a multiple of 4");
    }
    std::size_t padding = 0;
    for (std::size_t i = 0; i < base64.size(); ++i) {
        const char c = base64[i];
        if (c == '=' && i + 2 >= base64.size()) {
            ++padding;
        } else if (padding > 0 || !IsBase64Char(c)) {
            throw Failure(kErrInvalidArgument,
                          "Not base64 text: unexpected character at offset " + std::to_string(i));
        }
    }
    RequireReady("Decryption");

    CipherCtx ctx = NewCtx();
    if (EVP_DecryptInit_ex(ctx.get(), EVP_aes_256_cbc(), nullptr, m_key.data(), kZeroIv.data()) !=
        1) {
        throw CryptoFailure("Decryption failed: cannot start AES-256-CBC");
    }
    const std::size_t cipherBytes = base64.size() / 4 * 3 - padding;
    if (cipherBytes % kBlockBytes != 0) {
        throw Failure(kErrCipher, "Decryption failed: data is not a whole number of blocks");
    }
    std::string plain(cipherBytes + kBlockBytes, '\0');
    std::size_t plainSize = 0;
    std::vector<unsigned char> raw(kChunkBytes + 3);
    // kChunkBytes is a multiple of 3, so each slice is whole quads and whole blocks.
    const std::size_t sliceChars = kChunkBytes / 3 * 4;
    for (std::size_t offset = 0; offset < base64.size(); offset += sliceChars) {
        const std::string_view slice = base64.substr(offset, sliceChars);
        int n = EVP_DecodeBlock(raw.data(), reinterpret_cast<const unsigned char*>(slice.data()),
                                static_cast<int>(slice.size()));
        if (n < 0) {
            throw Failure(kErrInvalidArgument, "Not base64 text");
        }
        if (offset + slice.size() == base64.size()) {
            n -= static_cast<int>(padding);
        }
        int written = 0;
        if (EVP_DecryptUpdate(ctx.get(), reinterpret_cast<unsigned char*>(plain.data()) + plainSize,
                              &written, raw.data(), n) != 1) {
            throw CryptoFailure("Decryption failed");
        }
        plainSize += static_cast<std::size_t>(written);
    }
    int written = 0;
    if (EVP_DecryptFinal_ex(ctx.get(), reinterpret_cast<unsigned char*>(plain.data()) + plainSize,
                            &written) != 1) {
        ERR_clear_error();
        throw Failure(kErrCipher, "Decryption failed: wrong key or damaged data (bad padding)");
    }
    plainSize += static_cast<std::size_t>(written);
    plain.resize(plainSize);
    return plain;
}

Cipher DocumentCipher() noexcept {
    try {
        return Cipher(kDocumentPassPhrase);
    } catch (...) {
        return Cipher();
    }
}

}  // namespace brimlet
