#include "md5lib/velgnmd5.h"

#include <charconv>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <string_view>

#include "md5lib/md5_file.h"
#include "md5lib/vel_variant.h"

namespace velgnmd5 {
namespace {

constexpr std::size_t kWholeFileChunk = std::size_t{1} << 20;
constexpr std::uint32_t kMaxBlockKB = 65536;

Outcome HashFile(std::string_view pathText, std::size_t chunkSize) {
    if (pathText.empty()) {
        return Fail("File path is empty");
    }
    const std::string path(pathText);
    if (path.find('\0') != std::string::npos) {
        return Fail("File path contains a NUL character");
    }
    return HashRegularFile(path, chunkSize);
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
