#pragma once
// Owner of an open lock file (a descriptor, or a HANDLE on Windows): closing it releases the
// lock, and so does the process's end, however it ends.
#include <cstdint>
#include <utility>

namespace brimlet {

class LockHandle {
  public:
    LockHandle() = default;
    explicit LockHandle(std::intptr_t native) : m_native(native) {}
    LockHandle(const LockHandle&) = delete;
    LockHandle& operator=(const LockHandle&) = delete;
    LockHandle(LockHandle&& other) noexcept : m_native(std::exchange(other.m_native, kNone)) {}
    LockHandle& operator=(LockHandle&& other) noexcept {
        if (this != &other) {
            Close();
            m_native = std::exchange(other.m_native, kNone);
        }
        return *this;
    }
    ~LockHandle() { Close(); }

    explicit operator bool() const { return m_native != kNone; }
    std::intptr_t native() const { return m_native; }
    void Close() noexcept;

  private:
    // -1 is both an invalid descriptor and INVALID_HANDLE_VALUE.
    static constexpr std::intptr_t kNone = -1;
    std::intptr_t m_native = kNone;
};

}  // namespace brimlet
