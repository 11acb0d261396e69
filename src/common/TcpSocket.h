#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>

namespace brivanta::common {

// A blocking IPv4 TCP socket with a connect time-out and a read time-out.
// Operations return 0 or an errno value: ETIMEDOUT when a time-out ran out,
// ECONNRESET when the peer closed the connection, EBADF when not open.
// One thread owns the socket; only Shutdown() may be called from another
// thread while the owner is blocked in it (it wakes the owner with an error).
class TcpSocket {
  public:
    TcpSocket() = default;
    explicit TcpSocket(int fd);  // takes ownership of a connected descriptor
    ~TcpSocket();
    TcpSocket(TcpSocket&& other) noexcept;
    TcpSocket& operator=(TcpSocket&& other) noexcept;
    TcpSocket(const TcpSocket&) = delete;
    TcpSocket& operator=(const TcpSocket&) = delete;

    // Connects to host (dotted address or name) within timeoutMs (0 = the
    // system's own limit). A non-empty localAddress binds the local end first,
    // e.g. to one of the 127.x.y.z loopback addresses.
    int Connect(const std::string& host, uint16_t port, int timeoutMs,
                const std::string& localAddress = {});

    bool IsOpen() const { return fd_ >= 0; }
    int Fd() const { return fd_; }

    // Bounds each ReadExactly call; 0 = wait as long as it takes.
    void SetReadTimeout(int ms) { readTimeoutMs_ = ms; }
    int ReadTimeout() const { return readTimeoutMs_; }

    int ReadExactly(void* data, size_t size);
    int WriteAll(const void* data, size_t size);
    // Writes the parts back to back in one system call where the kernel allows.
    int WriteParts(std::initializer_list<std::span<const uint8_t>> parts);

    // True when the peer has closed or reset the connection (does not block).
    bool PeerClosed() const;

    // Ends both directions; blocked reads and writes on other threads return.
    void Shutdown();
    void Close();

    // The peer's dotted address and port; false when the socket has none.
    bool PeerEndpoint(std::string& address, uint16_t& port) const;
    uint16_t LocalPort() const;

  private:
    int fd_ = -1;
    int readTimeoutMs_ = 0;
};

// The system's text for an error code of TcpSocket.
std::string SocketErrorText(int code);

}  // namespace brivanta::common
