#pragma once
// Unicode lower-case mapping of one code point, the same under every process locale: glibc's
// C.UTF-8 tables on Linux, the invariant locale's on Windows.

namespace brimlet {

// The lower-case form of `cp` (a non-ASCII scalar value), or `cp` when it has none.
char32_t LowerCodePoint(char32_t cp);

}  // namespace brimlet
