#include "common/TcpServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <exception>

namespace brivanta::common {

namespace {

// How often the accept loop wakes to join the threads of ended connections.
constexpr int kReapIntervalMs = 500;

std::shared_ptr<TcpConnection> MakeConnection(int fd) {
    TcpSocket socket(fd);
    std::string address;
    uint16_t port = 0;
    const bool bound = socket.PeerEndpoint(address, port);
    return std::make_shared<TcpConnection>(std::move(socket), bound, std::move(address), port);
}

}  // namespace

void TcpConnection::Close() {
    closeRequested_ = true;
    std::lock_guard lock(closeMutex_);
    socket_.Shutdown();
}

void TcpConnection::Release() {
    closeRequested_ = true;
    std::lock_guard lock(closeMutex_);
    socket_.Close();
}

TcpServer::TcpServer(TcpServerHandlers handlers) : handlers_(std::move(handlers)) {}

TcpServer::~TcpServer() {
    Stop();
}

int TcpServer::Start(const std::string& bindAddress, uint16_t port) {
    if (active_) {
        return EALREADY;
    }
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    if (inet_pton(AF_INET, bindAddress.c_str(), &local.sin_addr) != 1) {
        return EINVAL;
    }
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return errno;
    }
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
    if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof(local)) < 0 ||
        listen(fd, SOMAXCONN) < 0 || pipe2(wakeFds_, O_CLOEXEC) < 0) {
        const int rc = errno;
        close(fd);
        return rc;
    }
    sockaddr_in bound{};
    socklen_t length = sizeof(bound);
    getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length);
    localPort_ = ntohs(bound.sin_port);
    listenFd_ = fd;
    stopping_ = false;
    active_ = true;
    acceptThread_ = std::thread([this] { AcceptLoop(); });
    return 0;
}

void TcpServer::Stop() {
    if (!active_) {
        return;
    }
    stopping_ = true;
    const char wake = 1;
    [[maybe_unused]] const auto written = write(wakeFds_[1], &wake, 1);
    acceptThread_.join();
    close(listenFd_);
    close(wakeFds_[0]);
    close(wakeFds_[1]);
    listenFd_ = wakeFds_[0] = wakeFds_[1] = -1;

    std::list<Peer> peers;
    {
        std::lock_guard lock(peersMutex_);
        peers.splice(peers.end(), running_);
        peers.splice(peers.end(), retired_);
    }
    for (auto& peer : peers) {
        peer.connection->Close();
    }
    for (auto& peer : peers) {
        peer.thread.join();
    }
    active_ = false;
}

int TcpServer::ConnectionCount() const {
    std::lock_guard lock(peersMutex_);
    return static_cast<int>(running_.size());
}

void TcpServer::AcceptLoop() {
    pollfd waits[2] = {{listenFd_, POLLIN, 0}, {wakeFds_[0], POLLIN, 0}};
    while (!stopping_) {
        const int ready = poll(waits, 2, kReapIntervalMs);
        JoinRetired();
        if (ready <= 0 || (waits[1].revents & POLLIN) != 0 || stopping_) {
            continue;
        }
        const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) {
            Admit(fd);
        } else if (errno == EMFILE || errno == ENFILE) {
            // Out of descriptors: the pending connection stays queued; do not spin.
            poll(nullptr, 0, 10);
        }
    }
}

void TcpServer::Admit(int fd) {
    const int limit = maxConnections_;
    std::lock_guard lock(peersMutex_);
    if (stopping_ || (limit > 0 && static_cast<int>(running_.size()) >= limit)) {
        close(fd);
        return;
    }
    try {
        auto connection = MakeConnection(fd);
        running_.push_back(Peer{connection, {}});
        try {
            // Assigned under the lock, so the thread's own Retire() waits for it.
            running_.back().thread = std::thread([this, connection] { RunConnection(connection); });
        } catch (...) {
            running_.pop_back();  // no thread to be had: the connection closes with its record
        }
    } catch (...) {
        // Out of memory for the record: the socket that took fd has closed it.
    }
}

void TcpServer::CallGuarded(const std::function<void(TcpConnection&)>& handler,
                            TcpConnection& connection, bool& failed) {
    if (!handler || failed) {
        return;
    }
    std::string message;
    try {
        handler(connection);
        return;
    } catch (const std::exception& error) {
        message = error.what();
    } catch (...) {
        message = "unknown error";
    }
    failed = true;
    try {
        if (handlers_.onException) {
            handlers_.onException(connection, message);
        }
    } catch (...) {
        // The exception handler's own failure has nowhere left to go.
    }
}

void TcpServer::RunConnection(const std::shared_ptr<TcpConnection>& connection) {
    bool failed = false;
    if (stopping_) {
        connection->Close();
    } else {
        CallGuarded(handlers_.onConnect, *connection, failed);
    }
    while (!failed && !stopping_ && !connection->CloseRequested() &&
           !connection->Socket().PeerClosed()) {
        if (!handlers_.onExecute) {
            connection->Close();
            break;
        }
        CallGuarded(handlers_.onExecute, *connection, failed);
    }
    bool disconnectFailed = false;
    CallGuarded(handlers_.onDisconnect, *connection, disconnectFailed);
    connection->Release();
    Retire(connection.get());
}

void TcpServer::Retire(const TcpConnection* connection) {
    std::lock_guard lock(peersMutex_);
    for (auto it = running_.begin(); it != running_.end(); ++it) {
        if (it->connection.get() == connection) {
            retired_.splice(retired_.end(), running_, it);
            return;
        }
    }
}

void TcpServer::JoinRetired() {
    std::list<Peer> ended;
    {
        std::lock_guard lock(peersMutex_);
        ended.splice(ended.end(), retired_);
    }
    for (auto& peer : ended) {
        peer.thread.join();
    }
}

}  // namespace brivanta::common
