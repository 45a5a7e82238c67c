#pragma once
// Splitting a fuzzer's input into the pieces a target needs, the same way under libFuzzer and
// under the regression replay.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace brimlet::fuzz {

// A broken property: thrown by Check, turned into an abort by the libFuzzer entry and into a
// test failure by the replay.
class PropertyViolation : public std::logic_error {
  public:
    using std::logic_error::logic_error;
};

// Throws PropertyViolation carrying `what` when `ok` is false.
inline void Check(bool ok, const std::string& what) {
    if (!ok) {
        throw PropertyViolation(what);
    }
}

// Reads the input front to back; past its end every read gives zero or empty text, so any
// input decodes to something.
class FuzzInput {
  public:
    FuzzInput(const std::uint8_t* data, std::size_t size)
        : m_data(reinterpret_cast<const char*>(data), size) {}

    bool Empty() const { return m_data.empty(); }
    std::size_t Remaining() const { return m_data.size(); }

    // One byte, or 0 at the end.
    std::uint8_t Byte() {
        if (m_data.empty()) {
            return 0;
        }
        const auto b = static_cast<std::uint8_t>(m_data.front());
        m_data.remove_prefix(1);
        return b;
    }

    // Two bytes, little-endian.
    std::uint16_t Word() {
        const std::uint16_t lo = Byte();
        return static_cast<std::uint16_t>(lo | (Byte() << 8));
    }

    // Up to `n` bytes.
    std::string_view Bytes(std::size_t n) {
        const std::string_view piece = m_data.substr(0, n);
        m_data.remove_prefix(piece.size());
        return piece;
    }

    // A text of up to 255 bytes whose length comes first.
    std::string_view ShortText() { return Bytes(Byte()); }

    // Everything not read yet.
    std::string_view Rest() { return Bytes(m_data.size()); }

  private:
    std::string_view m_data;
};

}  // namespace brimlet::fuzz
