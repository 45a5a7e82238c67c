#pragma once
// Inside the library only: the answer to one call, and the platform's half, one file read and
// hashed.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velgnmd5 {

struct Outcome {
    bool ok = false;
    std::string checksum;  // lower-case hex
    std::uint64_t size = 0;
    std::string error;
};

inline Outcome Fail(std::string error) {
    Outcome o;
    o.error = std::move(error);
    return o;
}

inline std::string LowerHex(const unsigned char* bytes, std::size_t size) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(size * 2);
    for (std::size_t i = 0; i < size; ++i) {
        hex.push_back(kHex[bytes[i] >> 4]);
        hex.push_back(kHex[bytes[i] & 0x0f]);
    }
    return hex;
}

// The library's answer for one call once its arguments are read as text: the file at `path`
// hashed whole (no block size) or `blockSizeKB` kilobytes per read. Fails with the texts the
// API documents (an empty path, a NUL in it, a block size that is no whole number of 1 to
// 65536 kilobytes, and those of HashRegularFile).
Outcome Compute(std::string_view path, std::optional<std::string_view> blockSizeKB);

// The MD5 of the regular file at `path` (not empty, no NUL), read `chunkSize` bytes at a
// time. Anything but a regular file fails: "<path> is a directory", "<path> is not a regular
// file", or "Cannot open|stat|read <path>: <the system's reason>".
Outcome HashRegularFile(const std::string& path, std::size_t chunkSize);

}  // namespace velgnmd5
