#pragma once
// UTF-8 sequences one code point at a time.
#include <cstddef>
#include <string>
#include <string_view>

namespace brimlet {

// Length of the valid UTF-8 sequence at s[i] (1 to 4) and its code point in `cp`; 0 when the
// bytes there are not one (overlong forms, surrogates and values past U+10FFFF included).
// `i` must be below s.size().
std::size_t DecodeUtf8(std::string_view s, std::size_t i, char32_t& cp);

// Appends the UTF-8 form of the scalar value `cp`.
void AppendUtf8(std::string& out, char32_t cp);

}  // namespace brimlet
