#pragma once
// Bytes as hex text.
#include <cstddef>
#include <string>

namespace brimlet {

// Two lower-case hex digits per byte, in order.
std::string LowerHex(const unsigned char* bytes, std::size_t size);

}  // namespace brimlet
