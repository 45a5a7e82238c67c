#pragma once
// The document's encryption component: AES-256-CBC over libcrypto, the key derived from a
// pass phrase (SHA-256, hex), zero IV, PKCS#7 padding, standard base64 on one line. The
// operations mirror the component the document's readers were written against; a name the
// component does not know makes that operation throw Failure and leaves the settings as
// they were.
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/failure.h"

namespace brimlet {

// The pass phrase every reader of the document decrypts with.
inline constexpr std::string_view kDocumentPassPhrase = "Qm7RtX2bLw9PzK4nHc8VjE5sYa3FdU6g";

// Receives encoded output in pieces, in order.
using TextSink = std::function<void(std::string_view)>;

class Cipher;

// One encryption of a text that arrives in pieces: base64 text goes to the sink chunk by
// chunk (each a whole number of quads, the last one padded), as EncryptTo would write it.
// Exceptions thrown by the sink pass through unchanged.
class EncryptStream {
  public:
    // Throws Failure when `cipher` has no key or the cipher cannot start.
    EncryptStream(const Cipher& cipher, TextSink sink);
    ~EncryptStream();
    EncryptStream(const EncryptStream&) = delete;
    EncryptStream& operator=(const EncryptStream&) = delete;

    // Encrypts the next piece of the text.
    void Update(std::string_view piece);
    // Pads, encrypts and hands over the rest; nothing may follow.
    void Finish();

  private:
    struct State;
    void Flush(bool last);

    std::unique_ptr<State> m_state;
};

class Cipher {
  public:
    // Defaults: "aes", "cbc", 256 bits, "base64" output, no key (encrypting fails until one
    // is set).
    Cipher() = default;

    // Only "aes" (ASCII case ignored) is known.
    void SetAlgorithm(std::string_view name);
    // Only "cbc" (ASCII case ignored) is known.
    void SetMode(std::string_view name);
    // Only 256 is supported.
    void SetKeyLength(int bits);
    // SHA-256 of the pass phrase's bytes, in `encoding` ("hex": 64 lower-case digits).
    std::string DeriveKey(std::string_view passPhrase, std::string_view encoding) const;
    // Decodes `key` ("hex", either case) and sets it; it must hold exactly 32 bytes.
    void SetKey(std::string_view key, std::string_view encoding);
    // Only "base64" (standard alphabet, padded, no line breaks) is known.
    void SetOutputEncoding(std::string_view name);

    // True once a key is set, so Encrypt and Decrypt can run.
    bool Ready() const { return !m_key.empty(); }

    // Encrypts the UTF-8 bytes of `text`; returns the base64 text on one line.
    std::string Encrypt(std::string_view text) const;
    // Encrypts the concatenation of `pieces` without joining them, handing base64 text to
    // `sink` chunk by chunk (each chunk a whole number of base64 quads). Exceptions thrown
    // by the sink pass through unchanged.
    void EncryptTo(std::initializer_list<std::string_view> pieces, const TextSink& sink) const;
    // Decodes base64 text (one trailing line end is ignored) and decrypts it. Throws Failure
    // "Not base64 text ..." for anything but padded standard base64, and "Decryption failed
    // ..." for a wrong key or damaged data (bad padding, length not whole blocks).
    std::string Decrypt(std::string_view base64) const;

    // Size of Encrypt's result for `plainBytes` input bytes.
    static std::size_t EncryptedTextSize(std::size_t plainBytes);

  private:
    friend class EncryptStream;
    void RequireReady(const char* operation) const;

    std::vector<unsigned char> m_key;
};

// A cipher with the document's fixed settings applied in the component's order (algorithm,
// mode, key length, derived key, key, output encoding). A failing operation is skipped
// silently and the next one runs. Never throws.
Cipher DocumentCipher() noexcept;

// The document's encryption: the base64 text of `text` under DocumentCipher(), or empty text
// when encrypting failed. Writes no log entries. Never throws.
std::string EncryptDocument(std::string_view text) noexcept;

}  // namespace brimlet
