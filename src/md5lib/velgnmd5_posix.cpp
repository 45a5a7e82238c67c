#include <cstdint>
#include <new>
#include <optional>
#include <string>
#include <string_view>

#include "md5lib/md5_file.h"
#include "md5lib/vel_variant.h"
#include "md5lib/velgnmd5.h"

namespace velgnmd5 {
namespace {

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
        std::optional<std::string_view> kb;
        if (blockwise) {
            std::string_view sizeText;
            if (!InputText(blockSizeKB, sizeText)) {
                return Deliver(Fail("Block size is not text"), checksumOut, spareOut, errorOut);
            }
            kb = sizeText;
        }
        return Deliver(Compute(path, kb), checksumOut, spareOut, errorOut);
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
