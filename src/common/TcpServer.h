#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "common/TcpSocket.h"

namespace brivanta::common {

// One accepted connection. Its socket belongs to the connection's own thread;
// Close() may be called from any thread.
class TcpConnection {
  public:
    TcpConnection(TcpSocket socket, bool peerBound, std::string peerAddress, uint16_t peerPort)
        : socket_(std::move(socket)),
          peerBound_(peerBound),
          peerAddress_(std::move(peerAddress)),
          peerPort_(peerPort) {}

    TcpSocket& Socket() { return socket_; }
    bool PeerBound() const { return peerBound_; }
    const std::string& PeerAddress() const { return peerAddress_; }  // dotted decimal
    uint16_t PeerPort() const { return peerPort_; }

    // Closes the connection and asks its thread to end after the running
    // handler; the disconnect handler follows.
    void Close();
    bool CloseRequested() const { return closeRequested_; }

    // Called once by the connection's thread after its last handler.
    void Release();

  private:
    std::mutex closeMutex_;  // orders Close() on other threads against Release()
    TcpSocket socket_;
    const bool peerBound_;
    const std::string peerAddress_;
    const uint16_t peerPort_;
    std::atomic<bool> closeRequested_{false};
};

// The events of a connection, all called on that connection's own thread:
// onConnect once, then onExecute again and again while the connection lives,
// then onDisconnect once. An exception escaping onConnect or onExecute goes to
// onException and ends the connection. Unset handlers are skipped.
struct TcpServerHandlers {
    std::function<void(TcpConnection&)> onConnect;
    std::function<void(TcpConnection&)> onExecute;
    std::function<void(TcpConnection&)> onDisconnect;
    std::function<void(TcpConnection&, const std::string& message)> onException;
};

// An IPv4 listener that gives every connection a thread of its own.
// Start() and Stop() belong to one owning thread; the other members may be
// called from any thread, handlers included.
class TcpServer {
  public:
    explicit TcpServer(TcpServerHandlers handlers);
    ~TcpServer();
    TcpServer(const TcpServer&) = delete;
    TcpServer& operator=(const TcpServer&) = delete;

    // Listens on bindAddress:port (port 0 = any free port); 0 or an errno value.
    int Start(const std::string& bindAddress, uint16_t port);

    // Enters the stopping state (new connections are closed at once, existing
    // ones are closed now), then joins the listener and every connection thread.
    void Stop();

    bool Active() const { return active_; }
    bool Stopping() const { return stopping_; }
    uint16_t LocalPort() const { return localPort_; }

    // Connections beyond the limit are closed on arrival; 0 = no limit.
    void SetMaxConnections(int limit) { maxConnections_ = limit; }
    int MaxConnections() const { return maxConnections_; }
    int ConnectionCount() const;

  private:
    struct Peer {
        std::shared_ptr<TcpConnection> connection;
        std::thread thread;
    };

    void AcceptLoop();
    void Admit(int fd);
    void RunConnection(const std::shared_ptr<TcpConnection>& connection);
    void CallGuarded(const std::function<void(TcpConnection&)>& handler, TcpConnection& connection,
                     bool& failed);
    void Retire(const TcpConnection* connection);
    void JoinRetired();

    const TcpServerHandlers handlers_;
    std::atomic<bool> active_{false};
    std::atomic<bool> stopping_{false};
    std::atomic<int> maxConnections_{0};
    uint16_t localPort_ = 0;
    int listenFd_ = -1;
    int wakeFds_[2] = {-1, -1};  // a pipe that wakes the accept loop for Stop()
    std::thread acceptThread_;

    mutable std::mutex peersMutex_;
    std::list<Peer> running_;  // guarded by peersMutex_
    std::list<Peer> retired_;  // guarded by peersMutex_; threads that ended, still to join
};

}  // namespace brivanta::common
