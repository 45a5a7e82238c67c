#include "md5lib/velgnmd5.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "common/fd_io.h"
#include "common/unique_fd.h"
#include "md5lib/vel_variant.h"

namespace velgnmd5 {
namespace {

constexpr std::size_t kWholeFileChunk = std::size_t{1} << 20;
constexpr std::uint32_t kMaxBlockKB = 65536;

struct Outcome {
    bool ok = false;
    std::string checksum;  // lower-case hex
    std::uint64_t size = 0;
    std::string error;
};

std::string ErrnoText(int err) {
    return std::error_code(err, std::generic_category()).message();
}

Outcome Fail(std::string error) {
    Outcome o;
    o.error = std::move(error);
    return o;
}

using EvpMdCtx = std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)>;

Outcome HashFile(std::string_view pathText, std::size_t chunkSize) {
    if (pathText.empty()) {
        return Fail("File path is empty");
    }
    const std::string path(pathText);
    if (path.find('\0') != std::string::npos) {
        return Fail("File path contains a NUL character");
    }
    // O_NONBLOCK: opening a FIFO must not hang; it is refused below as not a regular file.
    brimlet::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (!fd) {
        const int err = errno;
        return Fail("Cannot open " + path + ": " + ErrnoText(err));
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
        const int err = errno;
        return Fail("Cannot stat " + path + ": " + ErrnoText(err));
    }
    if (S_ISDIR(st.st_mode)) {
        return Fail(path + " is a directory");
    }
    if (!S_ISREG(st.st_mode)) {
        return Fail(path + " is not a regular file");
    }

    EvpMdCtx ctx(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_md5(), nullptr) != 1) {
        return Fail("MD5 is not available");
    }
    std::vector<unsigned char> buffer(chunkSize);
    Outcome o;
    for (;;) {
        const ssize_t n = brimlet::ReadSome(fd.get(), buffer.data(), buffer.size());
        if (n < 0) {
            const int err = errno;
            return Fail("Cannot read " + path + ": " + ErrnoText(err));
        }
        if (n == 0) {
            break;
        }
        if (EVP_DigestUpdate(ctx.get(), buffer.data(), static_cast<std::size_t>(n)) != 1) {
            return Fail("MD5 computation failed");
        }
        o.size += static_cast<std::uint64_t>(n);
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digestLen = 0;
    if (EVP_DigestFinal_ex(ctx.get(), digest, &digestLen) != 1) {
        return Fail("MD5 computation failed");
    }
    static constexpr char kHex[] = "0123456789abcdef";
    o.checksum.reserve(std::size_t{digestLen} * 2);
    for (unsigned int i = 0; i < digestLen; ++i) {
        o.checksum.push_back(kHex[digest[i] >> 4]);
        o.checksum.push_back(kHex[digest[i] & 0x0f]);
    }
    o.ok = true;
    return o;
}

// Whole kilobytes as plain decimal digits; no sign, no blanks, no exponent.
bool ParseBlockSize(std::string_view text, std::uint32_t& kb) {
    if (text.empty()) {
        return false;
    }
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, kb);
    return ec == std::errc() && ptr == end && kb >= 1 && kb <= kMaxBlockKB;
}

// Writes the outcome into the outputs; the result convention of the API.
std::int16_t Deliver(const Outcome& o, VelVariant* checksumOut, VelVariant* spareOut,
                     VelVariant* errorOut) noexcept {
    if (!o.ok) {
        SetText(errorOut, o.error);
        return 0;
    }
    const std::string size = std::to_string(o.size);
    if (!SetText(checksumOut, o.checksum) || !SetText(spareOut, size)) {
        SetText(errorOut, "Out of memory");
        return 0;
    }
    VelVariantClear(errorOut);
    return 1;
}

std::int16_t Run(const VelVariant* filePath, const VelVariant* blockSizeKB, bool blockwise,
                 VelVariant* checksumOut, VelVariant* spareOut, VelVariant* errorOut) noexcept {
    if (checksumOut == nullptr || spareOut == nullptr || errorOut == nullptr) {
        if (errorOut != nullptr) {
            SetText(errorOut, "An output argument is missing");
        }
        return 0;
    }
    try {
        std::string_view path;
        if (!InputText(filePath, path)) {
            return Deliver(Fail("File path is not text"), checksumOut, spareOut, errorOut);
        }
        std::size_t chunk = kWholeFileChunk;
        if (blockwise) {
            std::string_view sizeText;
            std::uint32_t kb = 0;
            if (!InputText(blockSizeKB, sizeText)) {
                return Deliver(Fail("Block size is not text"), checksumOut, spareOut, errorOut);
            }
            if (!ParseBlockSize(sizeText, kb)) {
                return Deliver(Fail("Invalid block size \"" + std::string(sizeText) +
                                    "\": expected whole kilobytes from 1 to 65536"),
                               checksumOut, spareOut, errorOut);
            }
            chunk = std::size_t{kb} * 1024;
        }
        return Deliver(HashFile(path, chunk), checksumOut, spareOut, errorOut);
    } catch (const std::bad_alloc&) {
        SetText(errorOut, "Out of memory");
    } catch (...) {
        SetText(errorOut, "Unexpected failure");
    }
    return 0;
}

}  // namespace
}  // namespace velgnmd5

extern "C" int16_t VelGetMD5(const VelVariant* filePath, VelVariant* checksumOut,
                             VelVariant* spareOut, VelVariant* errorOut) {
    return velgnmd5::Run(filePath, nullptr, false, checksumOut, spareOut, errorOut);
}

extern "C" int16_t VelGetMD5WBlock(const VelVariant* filePath, const VelVariant* blockSizeKB,
                                   VelVariant* checksumOut, VelVariant* spareOut,
                                   VelVariant* errorOut) {
    return velgnmd5::Run(filePath, blockSizeKB, true, checksumOut, spareOut, errorOut);
}
