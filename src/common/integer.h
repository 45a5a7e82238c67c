#pragma once
// The one parser of whole numbers written as text (settings, procedure parameters and results).
#include <cstdint>
#include <string_view>

namespace brimlet {

// A whole 32-bit number: an optional sign, decimal digits, blanks (spaces, tabs, CR, LF) around
// allowed ("30", " 5 ", "+7", "-3"). Anything else ("", "abc", "1e3", "1.5", "0x10", "- 5", out
// of 32-bit range) throws Failure 13 "Type mismatch".
std::int32_t ParseInt32(std::string_view text);

}  // namespace brimlet
