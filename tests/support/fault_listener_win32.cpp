#include <winsock2.h>
#include <ws2tcpip.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "common/handle_win32.h"
#include "support/fault_listener.h"

namespace brimlet::test {

namespace {

// Winsock, started once for the test process.
class WinsockUse {
  public:
    WinsockUse() {
        WSADATA data{};
        if (const int err = WSAStartup(MAKEWORD(2, 2), &data); err != 0) {
            throw std::runtime_error("WSAStartup: " + SystemErrorText(static_cast<DWORD>(err)));
        }
    }
    ~WinsockUse() { WSACleanup(); }
    WinsockUse(const WinsockUse&) = delete;
    WinsockUse& operator=(const WinsockUse&) = delete;
};

void EnsureWinsock() {
    static const WinsockUse winsock;
}

std::runtime_error SocketError(const std::string& what) {
    return std::runtime_error(what + ": " + SystemErrorText(static_cast<DWORD>(WSAGetLastError())));
}

SOCKET BoundSocket(int& port) {
    const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) {
        throw SocketError("socket");
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int len = sizeof addr;
    if (::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        const std::runtime_error error = SocketError("bind 127.0.0.1");
        ::closesocket(s);
        throw error;
    }
    port = ntohs(addr.sin_port);
    return s;
}

}  // namespace

// No pipe to wake a select on Windows: the loop looks at the stop flag every 50 ms.
SilentListener::SilentListener() {
    EnsureWinsock();
    const SOCKET s = BoundSocket(m_port);
    if (::listen(s, 16) != 0) {
        const std::runtime_error error = SocketError("listen");
        ::closesocket(s);
        throw error;
    }
    m_listenSocket = s;
    m_thread = std::thread([this] { Loop(); });
}

SilentListener::~SilentListener() {
    m_stop = true;
    m_thread.join();
    ::closesocket(static_cast<SOCKET>(m_listenSocket));
}

void SilentListener::Loop() {
    const auto listening = static_cast<SOCKET>(m_listenSocket);
    std::vector<SOCKET> held;
    while (!m_stop) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(listening, &readable);
        timeval wait{0, 50000};
        if (::select(0, &readable, nullptr, nullptr, &wait) > 0) {
            const SOCKET c = ::accept(listening, nullptr, nullptr);
            if (c != INVALID_SOCKET) {
                held.push_back(c);
                ++m_accepted;
            }
        }
    }
    for (const SOCKET c : held) {
        ::closesocket(c);
    }
}

int UnusedPort() {
    EnsureWinsock();
    int port = 0;
    ::closesocket(BoundSocket(port));
    return port;
}

}  // namespace brimlet::test
