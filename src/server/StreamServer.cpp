#include "server/StreamServer.h"

#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

namespace brivanta::server {

namespace {

constexpr auto kSendInterval = std::chrono::milliseconds(10);

// One step above normal for the calling thread; silently nothing without the
// privilege.
void RaiseThreadPriority() {
    const auto thread = static_cast<id_t>(gettid());
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, thread);
    if (errno == 0) {
        setpriority(PRIO_PROCESS, thread, nice - 1);
    }
}

std::string PeerText(const common::TcpConnection& connection) {
    return connection.PeerAddress() + ":" + std::to_string(connection.PeerPort());
}

}  // namespace

StreamServer::StreamServer(TNetSender& sender, std::function<void()> connectionsChanged)
    : sender_(sender),
      connectionsChanged_(std::move(connectionsChanged)),
      tcpServer_(common::TcpServerHandlers{
          [this](common::TcpConnection& c) { TCPServerConnect(c); },
          [this](common::TcpConnection& c) { TCPServerExecute(c); },
          [this](common::TcpConnection& c) { TCPServerDisconnect(c); },
          [this](common::TcpConnection& c, const std::string& m) { TCPServerException(c, m); }}) {}

StreamServer::~StreamServer() {
    Stop();
}

int StreamServer::Start(const std::string& bindAddress, uint16_t port, int maxConnections) {
    tcpServer_.SetMaxConnections(maxConnections);
    return tcpServer_.Start(bindAddress, port);
}

void StreamServer::Stop() {
    tcpServer_.Stop();
}

void StreamServer::TCPServerConnect(common::TcpConnection& connection) {
    if (tcpServer_.Stopping()) {
        connection.Close();
        return;
    }
    sender_.LogConnect("Connect..." + PeerText(connection));
    RaiseThreadPriority();

    bool restore = false;
    const uint8_t result = sender_.Login(connection, restore);
    if (result != protocol::lrAdmitted) {
        sender_.LogConnect("Falshe! rc=" + std::to_string(result) + " - " + PeerText(connection));
        connection.Close();
    } else {
        sender_.LogConnect("Start " + PeerText(connection));
    }
    if (const auto line = TNetSender::LoginLogLine(result, restore, connection.PeerAddress());
        !line.empty()) {
        sender_.OutLog(line);
    }
    if (connectionsChanged_) {
        connectionsChanged_();
    }
}

void StreamServer::TCPServerExecute(common::TcpConnection& connection) {
    try {
        if (tcpServer_.Stopping()) {
            connection.Close();
            return;
        }
        const int index = sender_.FindPeerSlot(connection);
        if (index < 0) {
            // The slot was taken over by another login or cleared.
            connection.Close();
            return;
        }
        sender_.SendPending(connection, index);
        std::this_thread::sleep_for(kSendInterval);
    } catch (...) {
        // A failed pass is retried on the next call; the socket decides when to end.
    }
}

// This system turns only an Online slot Offline here: a refused client's
// Banned slot keeps its full refusal time after the server has closed the
// refused connection.
void StreamServer::TCPServerDisconnect(common::TcpConnection& connection) {
    try {
        if (sender_.SetPeerOffline(connection, true) < 0) {
            sender_.LogConnect("Сторонний клиент отключен " + PeerText(connection));
        }
        sender_.OutLog("Disconnect " + connection.PeerAddress());
        if (connectionsChanged_) {
            connectionsChanged_();
        }
    } catch (...) {
        // Clean-up always finishes.
    }
}

void StreamServer::TCPServerException(common::TcpConnection& connection,
                                      const std::string& message) {
    try {
        if (sender_.SetPeerOffline(connection, false) >= 0) {
            sender_.OutLog(connection.PeerAddress() + ":" + message);
        }
    } catch (...) {
        // Clean-up always finishes.
    }
    connection.Close();
}

}  // namespace brivanta::server
