#include "support/fault_listener.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace brimlet::test {

namespace {

int BoundSocket(int& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        const int err = errno;
        ::close(fd);
        throw std::runtime_error(std::string("bind 127.0.0.1: ") + std::strerror(err));
    }
    port = ntohs(addr.sin_port);
    return fd;
}

}  // namespace

SilentListener::SilentListener() {
    m_listenFd = BoundSocket(m_port);
    if (::listen(m_listenFd, 16) != 0 || ::pipe2(m_stopPipe, O_CLOEXEC) != 0) {
        const int err = errno;
        ::close(m_listenFd);
        throw std::runtime_error(std::string("listen: ") + std::strerror(err));
    }
    m_thread = std::thread([this] { Loop(); });
}

SilentListener::~SilentListener() {
    const char stop = 's';
    (void)!::write(m_stopPipe[1], &stop, 1);
    m_thread.join();
    ::close(m_stopPipe[0]);
    ::close(m_stopPipe[1]);
    ::close(m_listenFd);
}

void SilentListener::Loop() {
    std::vector<int> held;
    for (;;) {
        pollfd fds[2] = {{m_listenFd, POLLIN, 0}, {m_stopPipe[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
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
            if (c >= 0) {
                held.push_back(c);
                ++m_accepted;
            }
        }
    }
    for (int c : held) {
        ::close(c);
    }
}

int UnusedPort() {
    int port = 0;
    ::close(BoundSocket(port));
    return port;
}

}  // namespace brimlet::test
