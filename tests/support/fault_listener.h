#pragma once
// A TCP listener on 127.0.0.1 that accepts every connection and never sends a byte: a server
// that hangs during the login, for time-out tests.
#include <atomic>
#include <cstdint>
#include <thread>

namespace brimlet::test {

class SilentListener {
  public:
    // Listens on a free port of 127.0.0.1 at once; throws std::runtime_error when it cannot.
    SilentListener();
    // Stops accepting and closes every connection it holds.
    ~SilentListener();
    SilentListener(const SilentListener&) = delete;
    SilentListener& operator=(const SilentListener&) = delete;

    int port() const { return m_port; }
    // Connections accepted so far.
    int accepted() const { return m_accepted.load(); }

  private:
    void Loop();

#ifdef _WIN32
    std::uintptr_t m_listenSocket = ~std::uintptr_t{0};  // a SOCKET
    std::atomic<bool> m_stop{false};
#else
    int m_listenFd = -1;
    int m_stopPipe[2] = {-1, -1};
#endif
    int m_port = 0;
    std::atomic<int> m_accepted{0};
    std::thread m_thread;
};

// A port of 127.0.0.1 where nothing listens (bound once, then released).
int UnusedPort();

}  // namespace brimlet::test
