#pragma once
// Owner of an open lock file (a descriptor, or a HANDLE on Windows): closing it releases the
// lock, and so does the process's end, however it ends.
#include <utility>

namespace brimlet {

class LockHandle {
  public:
#ifdef _WIN32
    using Native = void*;  // a HANDLE; an invalid one is kept as none
    static constexpr Native kNone = nullptr;
#else
    using Native = int;
    static constexpr Native kNone = -1;
#endif

    LockHandle() = default;
    explicit LockHandle(Native native) : m_native(native) {}
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
    ~LockHandle() {
        Close();
    }

    explicit operator bool() const {
        return m_native != kNone;
    }
    Native native() const {
        return m_native;
    }
    void Close() noexcept;

  private:
    Native m_native = kNone;
};

}  // namespace brimlet
