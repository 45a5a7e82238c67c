#pragma once
// The document's encryption: AES-256-CBC (libcrypto, or CNG on Windows), the 32 key bytes the
// SHA-256 of a pass phrase, zero IV, PKCS#7 padding, standard base64 on one line. Every reader of
// the document decrypts with exactly these settings, so none of them is configurable.
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

// One decryption of base64 text that arrives in pieces: plain bytes go to the sink as the
// blocks decrypt, so memory stays bounded whatever the text's size. Faults are reported where
// they are found: a character that is not base64 as soon as it arrives, a length or padding
// fault, a wrong key or missing blocks only in Finish, after the sink has had everything but
// the last block. Exceptions thrown by the sink pass through unchanged.
class DecryptStream {
  public:
    // Throws Failure when `cipher` has no key or the cipher cannot start.
    DecryptStream(const Cipher& cipher, TextSink sink);
    ~DecryptStream();
    DecryptStream(const DecryptStream&) = delete;
    DecryptStream& operator=(const DecryptStream&) = delete;

    // Takes the next piece of the base64 text.
    void Update(std::string_view piece);
    // Checks the end (one trailing line end is ignored), removes the padding and hands over
    // the last plain bytes; nothing may follow. Throws Failure as Cipher::Decrypt does.
    void Finish();

  private:
    struct State;
    void Drain(std::size_t chars, std::size_t padding);

    std::unique_ptr<State> m_state;
};

class Cipher {
  public:
    // No key: encrypting and decrypting fail until a cipher with a key is assigned.
    Cipher() = default;
    // The key is the SHA-256 of the pass phrase's bytes. Throws Failure when the platform
    // cannot compute it.
    explicit Cipher(std::string_view passPhrase);

    // True when the cipher has a key, so Encrypt and Decrypt can run.
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
    friend class DecryptStream;
    void RequireReady(const char* operation) const;

    std::vector<unsigned char> m_key;
};

// The cipher of kDocumentPassPhrase; one without a key when the key cannot be derived, so the
// publication fails before any file is touched. Never throws.
Cipher DocumentCipher() noexcept;

}  // namespace brimlet
