// Stand-ins for libVelGnMD5.so with scripted behaviour, one shared library per FAKE_MODE_*.
#include <cstdint>
#include <string>

#include "md5lib/vel_variant.h"

#define FAKE_API extern "C" __attribute__((visibility("default")))

using velgnmd5::SetText;

namespace {
[[maybe_unused]] std::string Text(const VelVariant* v) {
    std::string_view t;
    return velgnmd5::InputText(v, t) ? std::string(t) : std::string("<not text>");
}
}  // namespace

#if !defined(FAKE_MODE_NOWHOLE)
FAKE_API int16_t VelGetMD5([[maybe_unused]] const VelVariant* filePath,
                           [[maybe_unused]] VelVariant* checksumOut,
                           [[maybe_unused]] VelVariant* spareOut,
                           [[maybe_unused]] VelVariant* errorOut) {
    SetText(spareOut, "spare " + Text(filePath));
#if defined(FAKE_MODE_SPACES)
    SetText(checksumOut, "  d41d8cd98f00b204e9800998ecf8427e  ");
    return 1;
#elif defined(FAKE_MODE_PATH)
    SetText(checksumOut, " from-path ");
    return 7;  // any non-zero value is success
#elif defined(FAKE_MODE_BADTYPE)
    VelVariantClear(checksumOut);
    checksumOut->type = 42;
    return 1;
#elif defined(FAKE_MODE_LEFTOVER)
    SetText(checksumOut, "  partial Value ");
    SetText(errorOut, "whole-file failed");
    return 0;
#else
    SetText(errorOut, "whole-file failed");
    return 0;
#endif
}
#endif

#if !defined(FAKE_MODE_NOBLOCK)
FAKE_API int16_t VelGetMD5WBlock([[maybe_unused]] const VelVariant* filePath,
                                 [[maybe_unused]] const VelVariant* blockSizeKB,
                                 [[maybe_unused]] VelVariant* checksumOut,
                                 [[maybe_unused]] VelVariant* spareOut,
                                 [[maybe_unused]] VelVariant* errorOut) {
#if defined(FAKE_MODE_BLOCK)
    // Echoes the block size text so the caller's argument is visible in the result.
    SetText(checksumOut, " abc" + Text(blockSizeKB) + "def ");
    return 1;
#elif defined(FAKE_MODE_FAIL) || defined(FAKE_MODE_LEFTOVER)
    SetText(errorOut, "  read failed: " + Text(filePath) + "  ");
    return 0;
#else
    SetText(checksumOut, "BLOCK FUNCTION CALLED");
    SetText(errorOut, "BLOCK FUNCTION CALLED");
    return 1;
#endif
}
#endif
