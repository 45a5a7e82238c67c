#include "cipher/cipher.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "cipher/crypto.h"

namespace brimlet {

namespace {

// Input that is not what the operation takes: error number 5, "invalid procedure call".
constexpr std::int32_t kErrInvalidArgument = 5;
constexpr std::int32_t kErrCipher = -1;

using crypto::kBlockBytes;
// A multiple of both the block size and 3, so every chunk but the last encodes without
// base64 padding.
constexpr std::size_t kChunkBytes = std::size_t{48} * 1024;

bool IsBase64Char(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
           c == '/';
}

}  // namespace

Cipher::Cipher(std::string_view passPhrase) : m_key(crypto::Sha256(passPhrase)) {}

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
    State(const std::vector<unsigned char>& key, TextSink s) : aes(key, true), sink(std::move(s)) {}
    crypto::AesCbc aes;
    TextSink sink;
    // Plain bytes short of a whole block, waiting for the next piece or the padding.
    std::array<unsigned char, kBlockBytes> tail{};
    std::size_t tailSize = 0;
    // Cipher bytes wait here until they fill whole 3-byte groups; at most 2 are carried over.
    std::vector<unsigned char> pending =
        std::vector<unsigned char>(kChunkBytes + 2 * kBlockBytes + 2);
    std::size_t pendingSize = 0;
    std::string encoded = std::string((kChunkBytes + 2 * kBlockBytes + 4) / 3 * 4 + 1, '\0');
};

EncryptStream::EncryptStream(const Cipher& cipher, TextSink sink) {
    cipher.RequireReady("Encryption");
    m_state = std::make_unique<State>(cipher.m_key, std::move(sink));
}

EncryptStream::~EncryptStream() = default;

void EncryptStream::Flush(bool last) {
    State& s = *m_state;
    const std::size_t take = last ? s.pendingSize : s.pendingSize / 3 * 3;
    if (take == 0) {
        return;
    }
    const std::size_t n = crypto::Base64Encode(s.pending.data(), take, s.encoded.data());
    const std::size_t rest = s.pendingSize - take;
    std::copy(s.pending.begin() + static_cast<std::ptrdiff_t>(take),
              s.pending.begin() + static_cast<std::ptrdiff_t>(s.pendingSize), s.pending.begin());
    s.pendingSize = rest;
    s.sink(std::string_view(s.encoded.data(), n));
}

void EncryptStream::Update(std::string_view piece) {
    State& s = *m_state;
    while (!piece.empty()) {
        std::size_t n = std::min(piece.size(), kChunkBytes);
        const auto* in = reinterpret_cast<const unsigned char*>(piece.data());
        piece.remove_prefix(n);
        if (s.tailSize > 0) {
            const std::size_t fill = std::min(n, kBlockBytes - s.tailSize);
            std::copy_n(in, fill, s.tail.begin() + static_cast<std::ptrdiff_t>(s.tailSize));
            s.tailSize += fill;
            in += fill;
            n -= fill;
            if (s.tailSize < kBlockBytes) {
                continue;
            }
            s.aes.Blocks(s.tail.data(), kBlockBytes, s.pending.data() + s.pendingSize);
            s.pendingSize += kBlockBytes;
            s.tailSize = 0;
        }
        const std::size_t whole = n / kBlockBytes * kBlockBytes;
        s.aes.Blocks(in, whole, s.pending.data() + s.pendingSize);
        s.pendingSize += whole;
        std::copy_n(in + whole, n - whole, s.tail.begin());
        s.tailSize = n - whole;
        Flush(false);
    }
}

void EncryptStream::Finish() {
    State& s = *m_state;
    // PKCS#7: 1 to 16 bytes, each the padding's length.
    const std::size_t pad = kBlockBytes - s.tailSize;
    std::fill(s.tail.begin() + static_cast<std::ptrdiff_t>(s.tailSize), s.tail.end(),
              static_cast<unsigned char>(pad));
    s.aes.Blocks(s.tail.data(), kBlockBytes, s.pending.data() + s.pendingSize);
    s.pendingSize += kBlockBytes;
    s.tailSize = 0;
    Flush(true);
}

void Cipher::EncryptTo(std::initializer_list<std::string_view> pieces, const TextSink& sink) const {
    EncryptStream stream(*this, sink);
    for (const std::string_view piece : pieces) {
        stream.Update(piece);
    }
    stream.Finish();
}

namespace {

// Base64 text decoded per step: whole quads, and whole blocks once decoded.
constexpr std::size_t kDecodeChars = std::size_t{256} * 1024;
// Characters held back until Finish: the last quad, its padding and a line end are only
// known to be last once the text has ended.
constexpr std::size_t kHeldChars = 8;
constexpr unsigned char kNotBase64 = 0x80;

constexpr std::array<unsigned char, 256> kBase64Values = [] {
    std::array<unsigned char, 256> values{};
    values.fill(kNotBase64);
    constexpr std::string_view alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (std::size_t i = 0; i < alphabet.size(); ++i) {
        values[static_cast<unsigned char>(alphabet[i])] = static_cast<unsigned char>(i);
    }
    return values;
}();

Failure BadCharacter(std::uint64_t offset) {
    return Failure(kErrInvalidArgument,
                   "Not base64 text: unexpected character at offset " + std::to_string(offset));
}

}  // namespace

struct DecryptStream::State {
    State(const std::vector<unsigned char>& key, TextSink s)
        : aes(key, false), sink(std::move(s)) {}
    crypto::AesCbc aes;
    TextSink sink;
    std::string in = std::string(kDecodeChars + kHeldChars, '\0');
    std::size_t inSize = 0;
    // Offset in the whole text of in[0].
    std::uint64_t consumed = 0;
    std::uint64_t cipherBytes = 0;
    // Decoded cipher bytes; the first `carry` of them wait from the previous step, because the
    // last block, which holds the padding, is only known to be last in Finish.
    std::vector<unsigned char> raw = std::vector<unsigned char>(kDecodeChars / 4 * 3 + kBlockBytes);
    std::size_t carry = 0;
    std::vector<unsigned char> plain =
        std::vector<unsigned char>(kDecodeChars / 4 * 3 + kBlockBytes);
};

DecryptStream::DecryptStream(const Cipher& cipher, TextSink sink) {
    cipher.RequireReady("Decryption");
    m_state = std::make_unique<State>(cipher.m_key, std::move(sink));
}

DecryptStream::~DecryptStream() = default;

// Decodes and decrypts in[0, chars), whole quads of base64 characters, less the last
// `padding` bytes they decode to, and moves the rest to the front.
void DecryptStream::Drain(std::size_t chars, std::size_t padding) {
    State& s = *m_state;
    const auto* text = reinterpret_cast<const unsigned char*>(s.in.data());
    unsigned char* const first = s.raw.data() + s.carry;
    unsigned char* out = first;
    for (std::size_t i = 0; i < chars; i += 4) {
        const unsigned a = kBase64Values[text[i]];
        const unsigned b = kBase64Values[text[i + 1]];
        const unsigned c = kBase64Values[text[i + 2]];
        const unsigned d = kBase64Values[text[i + 3]];
        if (((a | b | c | d) & kNotBase64) != 0) {
            std::size_t bad = i;
            while (kBase64Values[text[bad]] != kNotBase64) {
                ++bad;
            }
            throw BadCharacter(s.consumed + bad);
        }
        *out++ = static_cast<unsigned char>(a << 2 | b >> 4);
        *out++ = static_cast<unsigned char>(b << 4 | c >> 2);
        *out++ = static_cast<unsigned char>(c << 6 | d);
    }
    const auto decoded = static_cast<std::size_t>(out - first) - padding;
    // Every whole block but the last one available.
    const std::size_t available = s.carry + decoded;
    const std::size_t written =
        available > kBlockBytes ? (available - 1) / kBlockBytes * kBlockBytes : 0;
    s.aes.Blocks(s.raw.data(), written, s.plain.data());
    std::copy(s.raw.begin() + static_cast<std::ptrdiff_t>(written),
              s.raw.begin() + static_cast<std::ptrdiff_t>(available), s.raw.begin());
    s.carry = available - written;
    s.cipherBytes += decoded;
    s.consumed += chars;
    std::copy(s.in.begin() + static_cast<std::ptrdiff_t>(chars),
              s.in.begin() + static_cast<std::ptrdiff_t>(s.inSize), s.in.begin());
    s.inSize -= chars;
    if (written > 0) {
        s.sink(std::string_view(reinterpret_cast<const char*>(s.plain.data()), written));
    }
}

void DecryptStream::Update(std::string_view piece) {
    State& s = *m_state;
    while (!piece.empty()) {
        const std::size_t n = std::min(piece.size(), s.in.size() - s.inSize);
        std::copy_n(piece.data(), n, s.in.data() + s.inSize);
        s.inSize += n;
        piece.remove_prefix(n);
        if (s.inSize == s.in.size()) {
            Drain(kDecodeChars, 0);
        }
    }
}

void DecryptStream::Finish() {
    State& s = *m_state;
    std::string_view rest(s.in.data(), s.inSize);
    if (rest.size() >= 2 && rest.substr(rest.size() - 2) == "\r\n") {
        rest.remove_suffix(2);
    } else if (!rest.empty() && rest.back() == '\n') {
        rest.remove_suffix(1);
    }
    const std::uint64_t total = s.consumed + rest.size();
    if (total == 0) {
        throw Failure(kErrInvalidArgument, "Not base64 text: empty");
    }
    if (total % 4 != 0) {
        throw Failure(kErrInvalidArgument, "Not base64 text: length is not a multiple of 4");
    }
    std::size_t padding = 0;
    for (std::size_t i = 0; i < rest.size(); ++i) {
        const char c = rest[i];
        if (c == '=' && i + 2 >= rest.size()) {
            ++padding;
        } else if (padding > 0 || !IsBase64Char(c)) {
            throw BadCharacter(s.consumed + i);
        }
    }
    // Padding decodes as zero bits; its bytes are dropped after decoding.
    for (std::size_t i = rest.size() - padding; i < rest.size(); ++i) {
        s.in[i] = 'A';
    }
    s.inSize = rest.size();
    Drain(rest.size(), padding);
    if (s.cipherBytes % kBlockBytes != 0) {
        throw Failure(kErrCipher, "Decryption failed: data is not a whole number of blocks");
    }
    std::array<unsigned char, kBlockBytes> last{};
    if (s.carry == kBlockBytes) {
        s.aes.Blocks(s.raw.data(), kBlockBytes, last.data());
    }
    const std::size_t pad = last.back();
    if (s.carry != kBlockBytes || pad == 0 || pad > kBlockBytes ||
        !std::all_of(last.end() - static_cast<std::ptrdiff_t>(pad), last.end(),
                     [pad](unsigned char b) { return b == pad; })) {
        throw Failure(kErrCipher, "Decryption failed: wrong key or damaged data (bad padding)");
    }
    if (pad < kBlockBytes) {
        s.sink(std::string_view(reinterpret_cast<const char*>(last.data()), kBlockBytes - pad));
    }
}

std::string Cipher::Decrypt(std::string_view base64) const {
    std::string plain;
    plain.reserve(base64.size() / 4 * 3);
    DecryptStream stream(*this, [&plain](std::string_view chunk) { plain.append(chunk); });
    stream.Update(base64);
    stream.Finish();
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
