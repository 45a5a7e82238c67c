#include "decrypt/decrypt_tool.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <ostream>

#include "common/failure.h"
#include "common/fd_io.h"
#include "common/unique_fd.h"
#include "document/cipher.h"

namespace brimlet::tools {

namespace {

constexpr std::string_view kProgram = "brimlet-decrypt";
constexpr std::int32_t kErrNotText = -1;

// Length of the UTF-8 sequence starting at s[i], or 0 when it is not a valid one.
std::size_t Utf8SequenceLength(std::string_view s, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char lead = byte(i);
    std::size_t length = 0;
    unsigned int min = 0;
    unsigned int code = 0;
    if (lead < 0x80) {
        return 1;
    } else if ((lead & 0xe0) == 0xc0) {
        length = 2;
        min = 0x80;
        code = lead & 0x1f;
    } else if ((lead & 0xf0) == 0xe0) {
        length = 3;
        min = 0x800;
        code = lead & 0x0f;
    } else if ((lead & 0xf8) == 0xf0) {
        length = 4;
        min = 0x10000;
        code = lead & 0x07;
    } else {
        return 0;
    }
    if (i + length > s.size()) {
        return 0;
    }
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xc0) != 0x80) {
            return 0;
        }
        code = (code << 6) | (byte(i + k) & 0x3f);
    }
    if (code < min || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff)) {
        return 0;
    }
    return length;
}

// A document holds UTF-8 text without the control characters XML forbids. Data decrypted
// with a wrong key passes the padding check about once in 256 keys; it is never such text.
bool LooksLikeDocumentText(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') {
            return false;
        }
        const std::size_t n = Utf8SequenceLength(s, i);
        if (n == 0) {
            return false;
        }
        i += n;
    }
    return true;
}

void Usage(std::ostream& stream) {
    stream << "usage: " << kProgram << " FILE\n"
           << "Prints the plain XML of a published document (base64 of AES-256-CBC).\n";
}

}  // namespace

std::string DecryptDocumentText(std::string_view fileText) {
    std::string plain = DocumentCipher().Decrypt(fileText);
    if (!LooksLikeDocumentText(plain)) {
        throw Failure(kErrNotText, "Decryption failed: wrong key (the result is not text)");
    }
    return plain;
}

std::string ReadWholeFile(const std::string& path) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) {
        throw ErrnoFailure(errno, path);
    }
    std::string content;
    if (!ReadUpTo(fd.get(), content.max_size(), content)) {
        throw ErrnoFailure(errno, path);
    }
    return content;
}

int RunDecryptTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    std::vector<std::string> files;
    bool optionsDone = false;
    for (const std::string& arg : args) {
        if (!optionsDone && (arg == "-h" || arg == "--help")) {
            Usage(out);
            return 0;
        }
        if (!optionsDone && arg == "--") {
            optionsDone = true;
            continue;
        }
        if (!optionsDone && arg.size() > 1 && arg[0] == '-') {
            err << kProgram << ": unknown option " << arg << " (try --help)\n";
            return 2;
        }
        files.push_back(arg);
    }
    if (files.size() != 1) {
        Usage(err);
        return 2;
    }
    const std::string& path = files.front();
    std::string content;
    try {
        content = ReadWholeFile(path);
    } catch (...) {
        err << kProgram << ": " << CurrentFailure().description() << "\n";
        return 1;
    }
    std::string plain;
    try {
        plain = DecryptDocumentText(content);
    } catch (...) {
        err << kProgram << ": " << path << ": " << CurrentFailure().description() << "\n";
        return 1;
    }
    out.write(plain.data(), static_cast<std::streamsize>(plain.size()));
    out.flush();
    if (!out) {
        err << kProgram << ": cannot write the output\n";
        return 1;
    }
    return 0;
}

}  // namespace brimlet::tools
