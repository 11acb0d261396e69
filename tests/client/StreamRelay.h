#pragma once

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/TcpSocket.h"

namespace brivanta::client::testkit {

// A TCP relay on loopback that the test controls: every connection to it is
// forwarded to the target, both ways, until the test drops all connections.
class StreamRelay {
  public:
    explicit StreamRelay(uint16_t targetPort) : targetPort_(targetPort) {
        listener_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(listener_, 8);
        socklen_t length = sizeof address;
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        acceptThread_ = std::thread([this] { AcceptLoop(); });
    }

    ~StreamRelay() {
        stopping_ = true;
        shutdown(listener_, SHUT_RDWR);
        acceptThread_.join();
        DropAll();
        for (auto& pump : pumps_) {
            pump.join();
        }
        close(listener_);
    }

    uint16_t Port() const { return port_; }
    int Accepted() const { return accepted_; }

    // Cuts every relayed connection on both sides.
    void DropAll() {
        std::lock_guard lock(mutex_);
        for (const int fd : open_) {
            shutdown(fd, SHUT_RDWR);
        }
    }

  private:
    void AcceptLoop() {
        while (!stopping_) {
            const int client = accept(listener_, nullptr, nullptr);
            if (client < 0) {
                return;
            }
            common::TcpSocket upstream;
            if (upstream.Connect("127.0.0.1", targetPort_, 2000) != 0) {
                close(client);
                continue;
            }
            const int server = dup(upstream.Fd());
            upstream.Close();
            ++accepted_;
            std::lock_guard lock(mutex_);
            open_.push_back(client);
            open_.push_back(server);
            pumps_.emplace_back([this, client, server] { Pump(client, server); });
        }
    }

    void Pump(int client, int server) {
        pollfd fds[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
        char buffer[65536];
        for (;;) {
            if (poll(fds, 2, 100) < 0) {
                break;
            }
            if (Forward(fds[0], server, buffer, sizeof buffer) ||
                Forward(fds[1], client, buffer, sizeof buffer)) {
                break;
            }
        }
        std::lock_guard lock(mutex_);
        std::erase(open_, client);
        std::erase(open_, server);
        close(client);
        close(server);
    }

    // True when the connection has ended.
    static bool Forward(const pollfd& from, int to, char* buffer, size_t size) {
        if ((from.revents & (POLLIN | POLLHUP | POLLERR)) == 0) {
            return false;
        }
        const ssize_t got = read(from.fd, buffer, size);
        if (got <= 0) {
            return true;
        }
        for (ssize_t sent = 0; sent < got;) {
            const ssize_t n =
                send(to, buffer + sent, static_cast<size_t>(got - sent), MSG_NOSIGNAL);
            if (n <= 0) {
                return true;
            }
            sent += n;
        }
        return false;
    }

    const uint16_t targetPort_;
    int listener_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<int> accepted_{0};
    std::thread acceptThread_;
    std::mutex mutex_;
    std::vector<int> open_;           // guarded by mutex_
    std::vector<std::thread> pumps_;  // guarded by mutex_
};

}  // namespace brivanta::client::testkit
