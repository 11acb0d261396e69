#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "common/TcpServer.h"
#include "server/NetContact.h"

namespace brivanta::server {

// The stream listener: one thread per connection, running the login and then
// the 10 ms send loop of that listener over the one TNetSender.
// Start(), Stop() and SetMaxConnections() belong to the main thread; the
// handlers run on the peer threads.
class StreamServer {
  public:
    // connectionsChanged: asks the next work tick to refresh the connections
    // view; called from peer threads.
    StreamServer(TNetSender& sender, std::function<void()> connectionsChanged = {});
    ~StreamServer();

    // Listens on bindAddress:port; 0 or an errno value.
    int Start(const std::string& bindAddress, uint16_t port, int maxConnections);
    // Closes new and existing connections at once and joins every peer thread.
    void Stop();

    void SetMaxConnections(int limit) { tcpServer_.SetMaxConnections(limit); }
    bool Active() const { return tcpServer_.Active(); }
    bool Stopping() const { return tcpServer_.Stopping(); }
    uint16_t LocalPort() const { return tcpServer_.LocalPort(); }
    int ConnectionCount() const { return tcpServer_.ConnectionCount(); }

  private:
    void TCPServerConnect(common::TcpConnection& connection);
    void TCPServerExecute(common::TcpConnection& connection);
    void TCPServerDisconnect(common::TcpConnection& connection);
    void TCPServerException(common::TcpConnection& connection, const std::string& message);

    TNetSender& sender_;
    const std::function<void()> connectionsChanged_;
    common::TcpServer tcpServer_;
};

}  // namespace brivanta::server
