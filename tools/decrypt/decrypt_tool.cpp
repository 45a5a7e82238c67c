#include "decrypt/decrypt_tool.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <ostream>

#include "cipher/cipher.h"
#include "common/failure.h"
#include "common/fd_io.h"
#include "common/unique_fd.h"
#include "common/utf8.h"

namespace brimlet::tools {

namespace {

constexpr std::string_view kProgram = "brimlet-decrypt";
constexpr std::int32_t kErrNotText = -1;

// A document holds UTF-8 text without the control characters XML forbids. Data decrypted
// with a wrong key passes the padding check about once in 256 keys; it is never such text.
bool LooksLikeDocumentText(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') {
            return false;
        }
        char32_t cp = 0;
        const std::size_t n = DecodeUtf8(s, i, cp);
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
