#pragma once
// The MD5 of the tests' own, to check the library's and the run's checksums against.
#include <string>

namespace brimlet::test {

// Lower-case hex MD5 of `data`, computed with libcrypto's one-shot digest.
std::string Md5Hex(const std::string& data);
// Output of `md5sum` for a file: its 32 hex digits.
std::string Md5sumOf(const std::string& path);

}  // namespace brimlet::test
