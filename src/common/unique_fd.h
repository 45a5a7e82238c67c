#pragma once
// Move-only owner of a file descriptor.
#include <unistd.h>

#include <utility>

namespace brimlet {

class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    UniqueFd(UniqueFd&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            Reset();
            m_fd = std::exchange(other.m_fd, -1);
        }
        return *this;
    }
    ~UniqueFd() { Reset(); }

    int get() const { return m_fd; }
    explicit operator bool() const { return m_fd >= 0; }
    int Release() { return std::exchange(m_fd, -1); }
    // Closes now and reports close()'s result (0, or -1 with errno set).
    int Close() {
        const int fd = std::exchange(m_fd, -1);
        return fd >= 0 ? ::close(fd) : 0;
    }

  private:
    void Reset() {
        if (m_fd >= 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    int m_fd = -1;
};

}  // namespace brimlet
