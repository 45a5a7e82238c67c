#pragma once
// A TCP proxy on 127.0.0.1 in front of a server port that forwards both ways until the client
// sends `marker`, then forwards nothing more on any connection and answers no new one: a
// network path that dies in the middle of a call.
#include <atomic>
#include <string>
#include <thread>

namespace brimlet::test {

class StallingProxy {
  public:
    // Listens at once; throws std::runtime_error when it cannot.
    StallingProxy(int targetPort, std::string marker);
    // Closes every connection.
    ~StallingProxy();
    StallingProxy(const StallingProxy&) = delete;
    StallingProxy& operator=(const StallingProxy&) = delete;

    int port() const { return m_port; }
    bool stalled() const { return m_stalled.load(); }

  private:
    void Loop();

    int m_targetPort;
    std::string m_marker;
    int m_listenFd = -1;
    int m_stopPipe[2] = {-1, -1};
    int m_port = 0;
    std::atomic<bool> m_stalled{false};
    std::thread m_thread;
};

}  // namespace brimlet::test
