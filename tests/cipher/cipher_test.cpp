#include "cipher/cipher.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace brimlet {
namespace {

// Computed once with: printf '%s' PASS | openssl dgst -sha256, and openssl enc -aes-256-cbc
// -a -A -K <key> -iv 0...0 over the plain texts below.
constexpr std::string_view kKeyHex =
    "3f0b06648622068f9cf8021892ad6b79b7e489123dd2cce9a82bacd6317779e4";

#ifndef _WIN32
// On Windows, cross_decrypt.sh has the stock tool decrypt the Windows build's output on the host.
bool HaveOpenssl() {
    return std::system("command -v openssl >/dev/null 2>&1") == 0;
}

// Decrypts a file with the stock command line tool, which we did not write.
std::string OpensslDecrypt(const std::string& path) {
    const std::string command = "openssl enc -d -aes-256-cbc -a -A -K " + std::string(kKeyHex) +
                                " -iv 00000000000000000000000000000000 -in " + path;
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        ADD_FAILURE() << "popen failed";
        return {};
    }
    std::string out;
    char buf[65536];
    std::size_t n = 0;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) {
        out.append(buf, n);
    }
    EXPECT_EQ(::pclose(pipe), 0) << command;
    return out;
}
#endif

std::string RandomText(std::size_t size, unsigned seed) {
    std::mt19937 gen(seed);
    std::uniform_int_distribution<int> byte(0, 255);
    std::string s(size, '\0');
    for (char& c : s) {
        c = static_cast<char>(byte(gen));
    }
    return s;
}

TEST(CipherTest, MatchesKnownAnswersOfTheStockTool) {
    const Cipher cipher = DocumentCipher();
    EXPECT_EQ(cipher.Encrypt("<brimlet>known answer</brimlet>"),
              "QOygBAT3QT/wIQIqWanzpjm7Gx9/Y+fAuKXZiCeNQIs=");
    EXPECT_EQ(cipher.Encrypt(""), "Eva7dlJyjZJCszLp9jH91Q==");
    EXPECT_EQ(cipher.Encrypt("\xC3\xA4\xC3\xB6\xC3\xBC\xE2\x82\xAC\xF0\x9F\x98\x80"),
              "CjPoPMulpiIO5ILrrSQ0UA==");
    // The key is the pass phrase's digest, whichever phrase: the document's is one of them.
    EXPECT_EQ(Cipher(kDocumentPassPhrase).Encrypt("x"), cipher.Encrypt("x"));
    EXPECT_NE(Cipher("another pass phrase").Encrypt("x"), cipher.Encrypt("x"));
}

#ifndef _WIN32
TEST(CipherTest, StockToolDecryptsEverySizeAroundBlockAndChunkEdges) {
    if (!HaveOpenssl()) {
        GTEST_SKIP() << "openssl command not installed";
    }
    test::TempDir dir;
    const Cipher cipher = DocumentCipher();
    unsigned seed = 1;
    for (const std::size_t size :
         {std::size_t{1}, std::size_t{15}, std::size_t{16}, std::size_t{17}, std::size_t{49151},
          std::size_t{49152}, std::size_t{49153}, std::size_t{300001}}) {
        const std::string plain = RandomText(size, seed++);
        // Pieces split off the chunk grid, as the publisher hands head, body and tail.
        const std::string_view all(plain);
        const std::size_t a = size / 3;
        const std::size_t b = size - size / 5;
        std::string streamed;
        int chunks = 0;
        cipher.EncryptTo(
            {all.substr(0, a), all.substr(a, b - a), std::string_view(), all.substr(b)},
            [&](std::string_view chunk) {
                EXPECT_EQ(chunk.size() % 4, 0u);
                streamed.append(chunk);
                ++chunks;
            });
        const std::string whole = cipher.Encrypt(plain);
        ASSERT_EQ(streamed, whole) << size;
        EXPECT_EQ(whole.size(), Cipher::EncryptedTextSize(size));
        EXPECT_EQ(whole.find_first_of("\r\n"), std::string::npos);
        if (size > 100000) {
            EXPECT_GT(chunks, 2) << "large input must be streamed in pieces";
        }
        test::WriteFile(dir / "doc", whole + "\r\n");
        EXPECT_EQ(OpensslDecrypt(dir / "doc"), plain) << size;
        EXPECT_EQ(cipher.Decrypt(whole + "\r\n"), plain) << size;
    }
}
#endif

TEST(CipherTest, StreamOfTinyPiecesEncryptsLikeTheWholeText) {
    const Cipher cipher = DocumentCipher();
    const std::string plain = RandomText(100003, 7);
    std::string streamed;
    EncryptStream stream(cipher, [&](std::string_view chunk) { streamed.append(chunk); });
    for (std::size_t i = 0; i < plain.size();) {
        const std::size_t n = std::min<std::size_t>(1 + i % 97, plain.size() - i);
        stream.Update(std::string_view(plain).substr(i, n));
        i += n;
    }
    stream.Finish();
    EXPECT_EQ(streamed, cipher.Encrypt(plain));

    EXPECT_THROW(EncryptStream(Cipher(), [](std::string_view) {}), Failure);
    EncryptStream failing(cipher, [](std::string_view) { throw std::runtime_error("disk"); });
    EXPECT_THROW(
        {
            failing.Update(plain);
            failing.Finish();
        },
        std::runtime_error);
}

TEST(CipherTest, WithoutAKeyNothingIsEncrypted) {
    const Cipher cipher;
    EXPECT_FALSE(cipher.Ready());
    try {
        cipher.Encrypt("text");
        FAIL() << "encrypted without a key";
    } catch (const Failure& f) {
        EXPECT_EQ(f.description(), "Encryption failed: no key set");
    }
    int calls = 0;
    EXPECT_THROW(cipher.EncryptTo({"text"}, [&](std::string_view) { ++calls; }), Failure);
    EXPECT_EQ(calls, 0);
}

TEST(CipherTest, DecryptReportsBadInputClearly) {
    const Cipher cipher = DocumentCipher();
    const std::string good = cipher.Encrypt("some document text that spans blocks");
    const auto failure = [&](const Cipher& c, const std::string& text) {
        try {
            c.Decrypt(text);
        } catch (const Failure& f) {
            return f.description();
        }
        return std::string("no failure");
    };
    for (const std::string& bad :
         std::vector<std::string>{"", "abc", "ab!d", "=abc", "ab=c", good + " ", "a\nbc"}) {
        EXPECT_EQ(failure(cipher, bad).rfind("Not base64 text", 0), 0u) << bad;
    }
    EXPECT_EQ(failure(cipher, good.substr(4)).rfind("Decryption failed", 0), 0u);
    const Cipher wrong("another pass phrase");
    EXPECT_EQ(failure(wrong, good), "Decryption failed: wrong key or damaged data (bad padding)");
    EXPECT_EQ(cipher.Decrypt(good + "\n"), "some document text that spans blocks");
}

}  // namespace
}  // namespace brimlet

namespace brimlet {
namespace {

// The decryption decodes 262144 characters (196608 bytes) per step and holds back the last 8.
TEST(CipherTest, DecryptStreamMatchesTheWholeTextAroundBlockAndStepEdges) {
    const Cipher cipher = DocumentCipher();
    unsigned seed = 11;
    for (const std::size_t size :
         {std::size_t{0}, std::size_t{1}, std::size_t{15}, std::size_t{16}, std::size_t{17},
          std::size_t{196591}, std::size_t{196592}, std::size_t{196608}, std::size_t{196609},
          std::size_t{393216}, std::size_t{400001}}) {
        const std::string plain = RandomText(size, seed++);
        const std::string text = cipher.Encrypt(plain) + "\r\n";
        for (const std::size_t piece :
             {std::size_t{1}, std::size_t{4093}, std::size_t{262152}, text.size()}) {
            if (piece == 1 && size > 20000) {
                continue;  // one character at a time is slow and adds nothing past a block
            }
            std::string streamed;
            DecryptStream stream(cipher, [&](std::string_view chunk) { streamed.append(chunk); });
            for (std::size_t i = 0; i < text.size(); i += piece) {
                stream.Update(std::string_view(text).substr(i, piece));
            }
            stream.Finish();
            ASSERT_EQ(streamed, plain) << size << " in pieces of " << piece;
        }
    }
}

TEST(CipherTest, DecryptStreamReportsFaultsPastTheFirstStep) {
    const Cipher cipher = DocumentCipher();
    const std::string good = cipher.Encrypt(RandomText(600000, 5));
    const auto failure = [&](const std::string& text) {
        try {
            DecryptStream stream(cipher, [](std::string_view) {});
            for (std::size_t i = 0; i < text.size(); i += 65536) {
                stream.Update(std::string_view(text).substr(i, 65536));
            }
            stream.Finish();
        } catch (const Failure& f) {
            return f.description();
        }
        return std::string("no failure");
    };
    std::string badChar = good;
    badChar[500001] = '*';
    std::string lineEnd = good;
    lineEnd[good.size() - 9] = '\n';
    std::string earlyPad = good;
    earlyPad[good.size() - 8] = '=';
    const std::vector<std::pair<std::string, std::string>> cases = {
        {badChar, "Not base64 text: unexpected character at offset 500001"},
        {lineEnd,
         "Not base64 text: unexpected character at offset " + std::to_string(good.size() - 9)},
        {earlyPad,
         "Not base64 text: unexpected character at offset " + std::to_string(good.size() - 8)},
        {good + "\n\n", "Not base64 text: length is not a multiple of 4"},
        {good.substr(0, good.size() - 4),
         "Decryption failed: data is not a whole number of blocks"},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(failure(text), expected) << text.size();
    }
    EXPECT_EQ(failure(good + "\r\n"), "no failure");
}

}  // namespace
}  // namespace brimlet
