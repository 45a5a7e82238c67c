#include <charconv>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "md5lib/md5_file.h"

namespace velgnmd5 {
namespace {

constexpr std::size_t kWholeFileChunk = std::size_t{1} << 20;
constexpr std::uint32_t kMaxBlockKB = 65536;

// Whole kilobytes as plain decimal digits; no sign, no blanks, no exponent.
bool ParseBlockSize(std::string_view text, std::uint32_t& kb) {
    if (text.empty()) {
        return false;
    }
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, kb);
    return ec == std::errc() && ptr == end && kb >= 1 && kb <= kMaxBlockKB;
}

}  // namespace

Outcome Compute(std::string_view path, std::optional<std::string_view> blockSizeKB) {
    std::size_t chunk = kWholeFileChunk;
    if (blockSizeKB) {
        std::uint32_t kb = 0;
        if (!ParseBlockSize(*blockSizeKB, kb)) {
            return Fail("Invalid block size \"" + std::string(*blockSizeKB) +
                        "\": expected whole kilobytes from 1 to 65536");
        }
        chunk = std::size_t{kb} * 1024;
    }
    if (path.empty()) {
        return Fail("File path is empty");
    }
    if (path.find('\0') != std::string_view::npos) {
        return Fail("File path contains a NUL character");
    }
    return HashRegularFile(std::string(path), chunk);
}

}  // namespace velgnmd5
