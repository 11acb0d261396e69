#include "common/TcpSocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

namespace brivanta::common {

namespace {

using SteadyClock = std::chrono::steady_clock;

int Resolve(const std::string& host, uint16_t port, sockaddr_in& out) {
    std::memset(&out, 0, sizeof(out));
    out.sin_family = AF_INET;
    out.sin_port = htons(port);
    if (inet_pton(AF_INET, host.c_str(), &out.sin_addr) == 1) {
        return 0;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) {
        return EHOSTUNREACH;
    }
    out.sin_addr = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr;
    freeaddrinfo(found);
    return 0;
}

int SetBlocking(int fd, bool blocking) {
    const int flags = fcntl(fd, F_GETFL, 0);
    if (flags < 0) {
        return errno;
    }
    const int wanted = blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK);
    return fcntl(fd, F_SETFL, wanted) < 0 ? errno : 0;
}

// Waits until fd is ready for `events` or the deadline passes (none = forever).
int WaitReady(int fd, short events, const SteadyClock::time_point* deadline) {
    for (;;) {
        int waitMs = -1;
        if (deadline != nullptr) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(*deadline - SteadyClock::now());
            if (left.count() <= 0) {
                return ETIMEDOUT;
            }
            waitMs = static_cast<int>(left.count());
        }
        pollfd entry{fd, events, 0};
        const int ready = poll(&entry, 1, waitMs);
        if (ready > 0) {
            return 0;
        }
        if (ready < 0 && errno != EINTR) {
            return errno;
        }
    }
}

void SetNoDelay(int fd) {
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
}

}  // namespace

TcpSocket::TcpSocket(int fd) : fd_(fd) {
    if (fd_ >= 0) {
        SetNoDelay(fd_);
    }
}

TcpSocket::~TcpSocket() {
    Close();
}

TcpSocket::TcpSocket(TcpSocket&& other) noexcept
    : fd_(other.fd_), readTimeoutMs_(other.readTimeoutMs_) {
    other.fd_ = -1;
}

TcpSocket& TcpSocket::operator=(TcpSocket&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = other.fd_;
        readTimeoutMs_ = other.readTimeoutMs_;
        other.fd_ = -1;
    }
    return *this;
}

int TcpSocket::Connect(const std::string& host, uint16_t port, int timeoutMs,
                       const std::string& localAddress) {
    Close();
    sockaddr_in remote{};
    if (const int rc = Resolve(host, port, remote); rc != 0) {
        return rc;
    }
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return errno;
    }
    TcpSocket guard(fd);  // closes fd on every failure below
    if (!localAddress.empty()) {
        sockaddr_in local{};
        if (const int rc = Resolve(localAddress, 0, local); rc != 0) {
            return rc;
        }
        if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof(local)) < 0) {
            return errno;
        }
    }
    if (const int rc = SetBlocking(fd, false); rc != 0) {
        return rc;
    }
    if (connect(fd, reinterpret_cast<sockaddr*>(&remote), sizeof(remote)) < 0) {
        if (errno != EINPROGRESS) {
            return errno;
        }
        const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeoutMs);
        if (const int rc = WaitReady(fd, POLLOUT, timeoutMs > 0 ? &deadline : nullptr); rc != 0) {
            return rc;
        }
        int failure = 0;
        socklen_t length = sizeof(failure);
        if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &failure, &length) < 0) {
            return errno;
        }
        if (failure != 0) {
            return failure;
        }
    }
    if (const int rc = SetBlocking(fd, true); rc != 0) {
        return rc;
    }
    *this = std::move(guard);
    return 0;
}

int TcpSocket::ReadExactly(void* data, size_t size) {
    if (fd_ < 0) {
        return EBADF;
    }
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(readTimeoutMs_);
    auto* next = static_cast<uint8_t*>(data);
    size_t left = size;
    while (left > 0) {
        if (const int rc = WaitReady(fd_, POLLIN, readTimeoutMs_ > 0 ? &deadline : nullptr);
            rc != 0) {
            return rc;
        }
        const ssize_t got = recv(fd_, next, left, 0);
        if (got == 0) {
            return ECONNRESET;
        }
        if (got < 0) {
            if (errno == EINTR || errno == EAGAIN) {
                continue;
            }
            return errno;
        }
        next += got;
        left -= static_cast<size_t>(got);
    }
    return 0;
}

int TcpSocket::WriteAll(const void* data, size_t size) {
    return WriteParts({std::span<const uint8_t>(static_cast<const uint8_t*>(data), size)});
}

int TcpSocket::WriteParts(std::initializer_list<std::span<const uint8_t>> parts) {
    if (fd_ < 0) {
        return EBADF;
    }
    std::vector<iovec> pending;
    for (const auto& part : parts) {
        if (!part.empty()) {
            pending.push_back(iovec{const_cast<uint8_t*>(part.data()), part.size()});
        }
    }
    size_t first = 0;
    while (first < pending.size()) {
        msghdr message{};
        message.msg_iov = pending.data() + first;
        message.msg_iovlen = pending.size() - first;
        ssize_t sent = sendmsg(fd_, &message, MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        while (sent > 0) {
            iovec& part = pending[first];
            const size_t taken = std::min(part.iov_len, static_cast<size_t>(sent));
            part.iov_base = static_cast<uint8_t*>(part.iov_base) + taken;
            part.iov_len -= taken;
            sent -= static_cast<ssize_t>(taken);
            if (part.iov_len == 0) {
                ++first;
            }
        }
    }
    return 0;
}

bool TcpSocket::PeerClosed() const {
    if (fd_ < 0) {
        return true;
    }
    pollfd entry{fd_, POLLRDHUP, 0};
    return poll(&entry, 1, 0) > 0 && (entry.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
}

void TcpSocket::Shutdown() {
    if (fd_ >= 0) {
        shutdown(fd_, SHUT_RDWR);
    }
}

void TcpSocket::Close() {
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
}

bool TcpSocket::PeerEndpoint(std::string& address, uint16_t& port) const {
    sockaddr_in peer{};
    socklen_t length = sizeof(peer);
    if (fd_ < 0 || getpeername(fd_, reinterpret_cast<sockaddr*>(&peer), &length) < 0 ||
        peer.sin_family != AF_INET) {
        return false;
    }
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &peer.sin_addr, text, sizeof(text));
    address = text;
    port = ntohs(peer.sin_port);
    return true;
}

uint16_t TcpSocket::LocalPort() const {
    sockaddr_in local{};
    socklen_t length = sizeof(local);
    if (fd_ < 0 || getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &length) < 0) {
        return 0;
    }
    return ntohs(local.sin_port);
}

std::string SocketErrorText(int code) {
    return std::strerror(code);
}

}  // namespace brivanta::common
