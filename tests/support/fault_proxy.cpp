#include "support/fault_proxy.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace brimlet::test {

namespace {

sockaddr_in Loopback(int port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    return addr;
}

// Writes all of data to a blocking socket; false on failure.
bool SendAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

StallingProxy::StallingProxy(int targetPort, std::string marker)
    : m_targetPort(targetPort), m_marker(std::move(marker)) {
    m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr = Loopback(0);
    socklen_t len = sizeof addr;
    if (m_listenFd < 0 ||
        ::bind(m_listenFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&addr), &len) != 0 ||
        ::listen(m_listenFd, 16) != 0 || ::pipe2(m_stopPipe, O_CLOEXEC) != 0) {
        const int err = errno;
        if (m_listenFd >= 0) {
            ::close(m_listenFd);
        }
        throw std::runtime_error(std::string("proxy: ") + std::strerror(err));
    }
    m_port = ntohs(addr.sin_port);
    m_thread = std::thread([this] { Loop(); });
}

StallingProxy::~StallingProxy() {
    const char stop = 's';
    (void)!::write(m_stopPipe[1], &stop, 1);
    m_thread.join();
    ::close(m_stopPipe[0]);
    ::close(m_stopPipe[1]);
    ::close(m_listenFd);
}

void StallingProxy::Loop() {
    struct Pair {
        int client;
        int server;
        bool ended = false;
    };
    std::vector<Pair> pairs;
    std::vector<int> held;  // accepted after the stall, never answered
    std::vector<char> buf(65536);
    bool stop = false;
    while (!stop) {
        const bool stalled = m_stalled.load();
        std::vector<pollfd> fds{{m_listenFd, POLLIN, 0}, {m_stopPipe[0], POLLIN, 0}};
        if (!stalled) {
            for (const Pair& p : pairs) {
                fds.push_back({p.client, POLLIN, 0});
                fds.push_back({p.server, POLLIN, 0});
            }
        }
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        if (fds[1].revents != 0) {
            break;
        }
        if ((fds[0].revents & POLLIN) != 0) {
            const int c = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
            if (c >= 0 && stalled) {
                held.push_back(c);
            } else if (c >= 0) {
                const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
                const sockaddr_in target = Loopback(m_targetPort);
                if (s >= 0 &&
                    ::connect(s, reinterpret_cast<const sockaddr*>(&target), sizeof target) == 0) {
                    pairs.push_back({c, s, false});
                } else {
                    ::close(c);
                    if (s >= 0) {
                        ::close(s);
                    }
                }
            }
        }
        for (std::size_t i = 2; i < fds.size() && !stop; ++i) {
            if (fds[i].revents == 0) {
                continue;
            }
            Pair& p = pairs[(i - 2) / 2];
            const bool fromClient = fds[i].fd == p.client;
            const ssize_t n = ::recv(fds[i].fd, buf.data(), buf.size(), 0);
            if (n <= 0) {
                p.ended = true;
                continue;
            }
            (void)SendAll(fromClient ? p.server : p.client, buf.data(),
                          static_cast<std::size_t>(n));
            if (fromClient &&
                std::string_view(buf.data(), static_cast<std::size_t>(n)).find(m_marker) !=
                    std::string_view::npos) {
                m_stalled = true;
                break;
            }
        }
        for (auto it = pairs.begin(); it != pairs.end();) {
            if (it->ended) {
                ::close(it->client);
                ::close(it->server);
                it = pairs.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (const Pair& p : pairs) {
        ::close(p.client);
        ::close(p.server);
    }
    for (int c : held) {
        ::close(c);
    }
}

}  // namespace brimlet::test
