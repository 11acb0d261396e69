#include "server/ExternalReceiver.h"

#include <cerrno>
#include <chrono>
#include <thread>
#include <vector>

namespace brivanta::server {

namespace {

constexpr char kGreeting[] = "Brivanta\r\n";
constexpr char kEmptyLine[] = "\r\n";
constexpr char kInvalidPassword[] = "Invalid password\r\n";
constexpr char kMaxConnectionsReply[] = "Max connections\r\n";

int WriteText(common::TcpSocket& socket, const char* text) {
    return socket.WriteAll(text, std::char_traits<char>::length(text));
}

}  // namespace

int ReadLine(common::TcpSocket& socket, std::string& line, int timeoutMs, size_t maxBytes) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    const int savedTimeout = socket.ReadTimeout();
    line.clear();
    int result = 0;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            result = ETIMEDOUT;
            break;
        }
        socket.SetReadTimeout(static_cast<int>(left));
        char c = 0;
        result = socket.ReadExactly(&c, 1);
        if (result != 0 || c == '\n') {
            break;
        }
        if (line.size() == maxBytes) {
            result = EMSGSIZE;
            break;
        }
        line.push_back(c);
    }
    socket.SetReadTimeout(savedTimeout);
    if (result == 0 && !line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return result;
}

TExternalReceiver::TExternalReceiver(AddBlockFn addBlock, LogFn outLog)
    : addBlock_(std::move(addBlock)),
      outLog_(std::move(outLog)),
      server_(common::TcpServerHandlers{
          [this](common::TcpConnection& c) { External_Connect(c); },
          [this](common::TcpConnection& c) { External_Execute(c); },
          {},
          [this](common::TcpConnection& c, const std::string& m) { External_Exception(c, m); }}) {}

int TExternalReceiver::Start(const Config& config) {
    Stop();
    config_ = config;
    const int result = server_.Start(config_.bindAddress, config_.port);
    if (result != 0) {
        outLog_("External server:" + common::SocketErrorText(result));
    }
    return result;
}

void TExternalReceiver::Stop() {
    if (server_.Active()) {
        server_.Stop();
    }
}

void TExternalReceiver::External_Connect(common::TcpConnection& connection) {
    common::TcpSocket& socket = connection.Socket();
    if (server_.ConnectionCount() > kMaxConnections) {
        WriteText(socket, kMaxConnectionsReply);
        connection.Close();
        return;
    }
    if (config_.ipOnly && connection.PeerAddress() != config_.ip) {
        connection.Close();
        return;
    }
    std::string password;
    if (WriteText(socket, kGreeting) != 0 ||
        ReadLine(socket, password, passwordTimeoutMs_, kMaxLineBytes) != 0) {
        connection.Close();
        return;
    }
    if (password != config_.password) {
        WriteText(socket, kInvalidPassword);
        connection.Close();
        return;
    }
    if (WriteText(socket, kEmptyLine) != 0) {
        connection.Close();
    }
}

void TExternalReceiver::External_Execute(common::TcpConnection& connection) {
    common::TcpSocket& socket = connection.Socket();
    uint8_t lengthBytes[2];
    if (socket.ReadExactly(lengthBytes, sizeof lengthBytes) != 0) {
        connection.Close();
        return;
    }
    const uint16_t length = static_cast<uint16_t>(lengthBytes[0] | (lengthBytes[1] << 8));
    if (length <= 1) {
        if (WriteText(socket, kEmptyLine) != 0) {
            connection.Close();
            return;
        }
    } else {
        uint8_t type = 0;
        std::vector<uint8_t> payload(length - 1u);
        if (socket.ReadExactly(&type, 1) != 0 ||
            socket.ReadExactly(payload.data(), payload.size()) != 0) {
            connection.Close();  // a packet cut short is dropped
            return;
        }
        addBlock_(payload.data(), payload.size(), type);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

void TExternalReceiver::External_Exception(common::TcpConnection& connection,
                                           const std::string& message) {
    outLog_(connection.PeerAddress() + ":" + message);
    connection.Close();
}

}  // namespace brivanta::server
