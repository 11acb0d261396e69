// Server cost of N listeners on loopback: the server runs in a child process
// (one peer thread per listener, a feeder appending one 371-byte block every
// 23.2 ms, as a 128 kbit/s stream at 44.1 kHz), the listeners in this one.
// Reports the server's CPU time per second of stream and its memory.
//
//   bench_stream_listeners [seconds] [N ...]     (default: 5 100 1000)

#include <fcntl.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "client/StreamLogin.h"
#include "common/Clock.h"
#include "server/NetContact.h"
#include "server/StreamServer.h"

namespace {

using namespace brivanta;
using SteadyClock = std::chrono::steady_clock;

constexpr auto kBlockInterval = std::chrono::microseconds(23220);
constexpr size_t kBlockBytes = 371;
constexpr auto kWarmUp = std::chrono::seconds(1);

void RaiseFileLimit(rlim_t wanted) {
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    if (limit.rlim_cur < wanted) {
        limit.rlim_cur = std::min(wanted, limit.rlim_max);
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

// The server process: runs until the control pipe closes.
[[noreturn]] void RunServer(int listeners, int readyFd, int controlFd) {
    common::SystemClock clock;
    server::TNetSender sender(clock, {}, {});
    sender.SetSlotCount(listeners + 16);
    sender.SetStreamParams({common::WaveFormatEx{85, 2, 44100, 16000, 1, 0, 12},
                            "MPEG Layer-3 Codec", "128 kBit/s, 44,100 Hz, Stereo"});
    server::StreamServer server(sender);
    uint16_t port = 0;
    if (server.Start("127.0.0.1", 0, listeners + 16) == 0) {
        port = server.LocalPort();
    }
    [[maybe_unused]] auto written = write(readyFd, &port, sizeof(port));

    std::atomic<bool> feeding{true};
    std::thread feeder([&] {
        const std::vector<uint8_t> block(kBlockBytes, 0x5A);
        auto next = SteadyClock::now();
        while (feeding) {
            sender.AddBlock(block.data(), block.size(), protocol::btMusic);
            next += kBlockInterval;
            std::this_thread::sleep_until(next);
        }
    });
    pollfd control{controlFd, POLLIN, 0};
    while (poll(&control, 1, 40) == 0) {  // the 40 ms work tick
        sender.UpdateNow();
        sender.Sweep();
    }
    feeding = false;
    feeder.join();
    server.Stop();
    _exit(0);
}

struct ProcessSample {
    double cpuSeconds = 0;
    long rssKb = 0;
    long peakRssKb = 0;
    long threads = 0;
};

ProcessSample Sample(pid_t pid) {
    ProcessSample sample;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    unsigned long long utime = 0;
    unsigned long long stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14) {
            utime = std::stoull(field);
        } else if (i == 15) {
            stime = std::stoull(field);
        }
    }
    sample.cpuSeconds =
        static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        const auto value = [&] { return std::atol(line.c_str() + line.find(':') + 1); };
        if (line.rfind("VmRSS:", 0) == 0) {
            sample.rssKb = value();
        } else if (line.rfind("VmHWM:", 0) == 0) {
            sample.peakRssKb = value();
        } else if (line.rfind("Threads:", 0) == 0) {
            sample.threads = value();
        }
    }
    return sample;
}

// Logs in `count` listeners, each from its own loopback address.
std::vector<common::TcpSocket> ConnectListeners(int count, uint16_t port) {
    std::vector<common::TcpSocket> sockets;
    for (int i = 0; i < count; ++i) {
        const std::string local =
            "127.1." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1);
        common::TcpSocket socket;
        client::ServerAnnouncement announcement;
        if (socket.Connect("127.0.0.1", port, 2000, local) != 0) {
            std::fprintf(stderr, "listener %d: connect failed\n", i);
            continue;
        }
        socket.SetReadTimeout(2000);
        if (!client::ReadServerAnnouncement(socket, announcement).ok ||
            !client::WriteClientAnswer(socket, "", {3000, protocol::kSeqNewest}, true).ok) {
            std::fprintf(stderr, "listener %d: login failed\n", i);
            continue;
        }
        fcntl(socket.Fd(), F_SETFL, fcntl(socket.Fd(), F_GETFL) | O_NONBLOCK);
        sockets.push_back(std::move(socket));
    }
    return sockets;
}

// Reads everything that arrives on the sockets until the deadline.
uint64_t Drain(const std::vector<common::TcpSocket>& sockets, SteadyClock::time_point until) {
    const int epoll = epoll_create1(0);
    for (size_t i = 0; i < sockets.size(); ++i) {
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.u64 = i;
        epoll_ctl(epoll, EPOLL_CTL_ADD, sockets[i].Fd(), &event);
    }
    uint64_t bytes = 0;
    std::vector<epoll_event> events(256);
    std::vector<uint8_t> buffer(1 << 16);
    while (SteadyClock::now() < until) {
        const int ready = epoll_wait(epoll, events.data(), static_cast<int>(events.size()), 20);
        for (int i = 0; i < ready; ++i) {
            const int fd = sockets[events[i].data.u64].Fd();
            ssize_t got = 0;
            while ((got = read(fd, buffer.data(), buffer.size())) > 0) {
                bytes += static_cast<uint64_t>(got);
            }
        }
    }
    close(epoll);
    return bytes;
}

void Measure(int listeners, int seconds) {
    int ready[2];
    int control[2];
    if (pipe(ready) != 0 || pipe(control) != 0) {
        std::perror("pipe");
        return;
    }
    const pid_t child = fork();
    if (child == 0) {
        close(ready[0]);
        close(control[1]);
        RunServer(listeners, ready[1], control[0]);
    }
    close(ready[1]);
    close(control[0]);
    uint16_t port = 0;
    if (read(ready[0], &port, sizeof(port)) != sizeof(port) || port == 0) {
        std::fprintf(stderr, "server did not start\n");
        return;
    }
    const auto sockets = ConnectListeners(listeners, port);
    Drain(sockets, SteadyClock::now() + kWarmUp);
    const ProcessSample before = Sample(child);
    const auto start = SteadyClock::now();
    const uint64_t bytes = Drain(sockets, start + std::chrono::seconds(seconds));
    const double wall = std::chrono::duration<double>(SteadyClock::now() - start).count();
    const ProcessSample after = Sample(child);
    close(control[1]);
    close(ready[0]);
    waitpid(child, nullptr, 0);

    const double expectedPerListener =
        static_cast<double>(kBlockBytes + protocol::kBlockHeaderSize) /
        std::chrono::duration<double>(kBlockInterval).count();
    std::printf("%6d %9zu %12.1f %9.2f %10.1f %10.1f %8ld %9.1f%%\n", listeners, sockets.size(),
                (after.cpuSeconds - before.cpuSeconds) / wall * 1000.0,
                (after.cpuSeconds - before.cpuSeconds) / wall * 1000.0 / listeners,
                static_cast<double>(after.rssKb) / 1024.0,
                static_cast<double>(after.peakRssKb) / 1024.0, after.threads,
                static_cast<double>(bytes) / wall / static_cast<double>(sockets.size()) /
                    expectedPerListener * 100.0);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    std::vector<int> counts;
    for (int i = 2; i < argc; ++i) {
        counts.push_back(std::max(1, std::atoi(argv[i])));
    }
    if (counts.empty()) {
        counts = {100, 1000};
    }
    int most = 0;
    for (const int count : counts) {
        most = std::max(most, count);
    }
    // Each listener costs one descriptor here and one in the server process.
    RaiseFileLimit(static_cast<rlim_t>(most) + 256);
    std::printf("listeners  logged  cpu ms/s  ms/s each  rss MiB  peak MiB  threads  received\n");
    for (const int count : counts) {
        Measure(count, seconds);
    }
    return 0;
}
