#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "common/TcpServer.h"

namespace brivanta::server {

// The LAN input of external data: a sender connects, gets the line
// "Brivanta", answers with the password line and then sends packets (u16
// length L, then the type byte and L - 1 payload bytes); each becomes a block
// of that type in the send queue. L of 0 or 1 is a keep-alive, answered with
// an empty line.
//
// Threads: Start and Stop belong to the engine's main thread; the handlers
// run on each connection's own thread and read the configuration, which only
// changes while the listener is stopped (no connection threads exist then).
class TExternalReceiver {
  public:
    static constexpr int kMaxConnections = 5;
    // This system bounds the wait for the password line: five connections
    // that never log in would otherwise shut out the real sender. An admitted
    // sender may stay quiet as long as it likes.
    static constexpr int kPasswordTimeoutMs = 10000;
    static constexpr size_t kMaxLineBytes = 4096;

    struct Config {
        uint16_t port = 2105;
        std::string password;  // ExtPass, compared exactly
        bool ipOnly = false;   // ExtIPOnly
        std::string ip;        // ExtIP, the one address accepted when ipOnly
        std::string bindAddress = "0.0.0.0";
    };

    using AddBlockFn = std::function<void(const uint8_t* data, size_t size, uint8_t type)>;
    using LogFn = std::function<void(const std::string&)>;

    TExternalReceiver(AddBlockFn addBlock, LogFn outLog);
    ~TExternalReceiver() { Stop(); }

    // Stops listening if it was, then listens with the configuration. On
    // failure logs "External server:" and the error text; returns 0 or errno.
    int Start(const Config& config);
    // Stops listening and ends every connection.
    void Stop();
    bool Listening() const { return server_.Active(); }
    uint16_t LocalPort() const { return server_.LocalPort(); }
    int ConnectionCount() const { return server_.ConnectionCount(); }

    void SetPasswordTimeout(int ms) { passwordTimeoutMs_ = ms; }

  private:
    void External_Connect(common::TcpConnection& connection);
    void External_Execute(common::TcpConnection& connection);
    void External_Exception(common::TcpConnection& connection, const std::string& message);

    const AddBlockFn addBlock_;
    const LogFn outLog_;
    Config config_;  // written by Start while no connection thread runs
    std::atomic<int> passwordTimeoutMs_{kPasswordTimeoutMs};
    common::TcpServer server_;
};

// Reads one line that ends at LF (a CR before it is dropped) within timeoutMs
// in all; 0 or an errno value (EMSGSIZE for a line longer than maxBytes).
int ReadLine(common::TcpSocket& socket, std::string& line, int timeoutMs, size_t maxBytes);

}  // namespace brivanta::server
