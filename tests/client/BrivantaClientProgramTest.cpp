// The BrivantaClient program as a user runs it: arguments, exit codes, the
// headless log and status lines, and closing on a signal.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "TempDir.h"

namespace {

// A child process with its stdout and stderr read through one pipe.
class Program {
  public:
    explicit Program(const std::vector<std::string>& args) {
        int fds[2];
        EXPECT_EQ(pipe(fds), 0);
        pid_ = fork();
        if (pid_ == 0) {
            dup2(fds[1], 1);
            dup2(fds[1], 2);
            close(fds[0]);
            close(fds[1]);
            std::vector<char*> argv;
            std::string binary = BRIVANTA_CLIENT_BINARY;
            argv.push_back(binary.data());
            std::vector<std::string> copies = args;
            for (auto& arg : copies) {
                argv.push_back(arg.data());
            }
            argv.push_back(nullptr);
            execv(binary.c_str(), argv.data());
            _exit(127);
        }
        close(fds[1]);
        out_ = fds[0];
    }
    ~Program() {
        if (pid_ > 0 && !reaped_) {
            kill(pid_, SIGKILL);
            Wait();
        }
        close(out_);
    }

    // Reads output until `pattern` matches a line or 10 s pass.
    bool WaitForLine(const std::string& pattern) {
        const std::regex expression(pattern);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        size_t checked = 0;
        while (std::chrono::steady_clock::now() < deadline) {
            for (; checked < Lines().size(); ++checked) {
                if (std::regex_search(Lines()[checked], expression)) {
                    return true;
                }
            }
            if (!ReadSome(100)) {
                return false;
            }
        }
        return false;
    }

    // Reads to the end and returns the exit code.
    int Wait() {
        while (ReadSome(1000)) {
        }
        int status = 0;
        waitpid(pid_, &status, 0);
        reaped_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    void Signal(int signal) { kill(pid_, signal); }
    const std::vector<std::string>& Lines() { return lines_; }
    std::string Text() const {
        std::string text;
        for (const auto& line : lines_) {
            text += line + "\n";
        }
        return text + partial_;
    }

  private:
    // False at the end of the output.
    bool ReadSome(int timeoutMs) {
        pollfd fd{out_, POLLIN, 0};
        if (poll(&fd, 1, timeoutMs) <= 0) {
            return true;
        }
        char buffer[4096];
        const ssize_t got = read(out_, buffer, sizeof buffer);
        if (got <= 0) {
            return false;
        }
        partial_.append(buffer, static_cast<size_t>(got));
        for (size_t end; (end = partial_.find('\n')) != std::string::npos;) {
            lines_.push_back(partial_.substr(0, end));
            partial_.erase(0, end + 1);
        }
        return true;
    }

    pid_t pid_ = -1;
    int out_ = -1;
    bool reaped_ = false;
    std::vector<std::string> lines_;
    std::string partial_;
};

TEST(BrivantaClientProgram, BadArgumentsAndAMissingWindowExitWithCode2) {
    Program bogus({"--bogus"});
    EXPECT_EQ(bogus.Wait(), 2);
    EXPECT_NE(bogus.Text().find("unknown argument \"--bogus\""), std::string::npos);
    EXPECT_NE(bogus.Text().find("usage: BrivantaClient"), std::string::npos);

    Program window({});
    EXPECT_EQ(window.Wait(), 2);
    EXPECT_NE(window.Text().find("the window is not built yet"), std::string::npos);
}

TEST(BrivantaClientProgram, AStoredValueOutOfRangeExitsWithCode2) {
    brivanta::test::TempDir dir;
    std::ofstream(dir.Path("c.ini")) << "[Setting]\nPort=70000\n";
    Program program({"--headless", "--config", dir.Path("c.ini")});
    EXPECT_EQ(program.Wait(), 2);
    EXPECT_NE(program.Text().find("Port"), std::string::npos) << program.Text();
}

TEST(BrivantaClientProgram, ListsOutputDevicesAndCodecs) {
    Program devices({"--list-devices"});
    EXPECT_EQ(devices.Wait(), 0);
    EXPECT_NE(devices.Text().find("Virtual null output\n"), std::string::npos);
    Program codecs({"--list-codecs", "--rate", "48000", "--channels", "1"});
    EXPECT_EQ(codecs.Wait(), 0);
    EXPECT_NE(codecs.Text().find("PCM\t1\t0\t768 kbit/s, 48000 Hz, Mono, 16 bit"),
              std::string::npos)
        << codecs.Text();
}

TEST(BrivantaClientProgram, HeadlessLogsStatusLinesAndClosesInOrderOnASignal) {
    brivanta::test::TempDir dir;
    std::ofstream(dir.Path("c.ini")) << "[Setting]\nDevice=Virtual null output\nMode=0\n";
    Program program({"--headless", "--config", dir.Path("c.ini"), "--status-interval", "50"});
    EXPECT_TRUE(program.WaitForLine(R"(^\d\d\.\d\d\.\d\d \d\d:\d\d:\d\d Client ready$)"));
    EXPECT_TRUE(program.WaitForLine(
        R"(^status \{"state":"Stop","buffered":0\.000,"correction":0,"next_seq":-1,"connects":0,)"));
    program.Signal(SIGTERM);
    EXPECT_EQ(program.Wait(), 0);
    std::vector<std::string> log;
    for (const auto& line : program.Lines()) {
        if (line.rfind("status ", 0) != 0) {
            log.push_back(line.substr(18));
        }
    }
    EXPECT_EQ(log,
              (std::vector<std::string>{"Start program", "Read settings", "Prepare output devices",
                                        "Client ready", "Stop client", "Finish"}));
}

}  // namespace
