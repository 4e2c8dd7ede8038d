// SPDX-License-Identifier: MIT
// Helpers for the end-to-end tests of the pacelag binary: a child process with
// its standard output on a pipe, and small loopback socket utilities. Every
// wait is bounded and every child is reaped when its handle goes away.
#pragma once

#include <chrono>
#include <string>
#include <sys/types.h>
#include <thread>
#include <unistd.h>
#include <vector>

// Generous bounds: the sanitizer build runs the binary several times slower.
constexpr int kShortWaitMs = 3000;
constexpr int kLongWaitMs = 8000;

class Tool {
  public:
    explicit Tool(const std::vector<std::string>& args);
    ~Tool();
    Tool(const Tool&) = delete;
    Tool& operator=(const Tool&) = delete;

    // Reads until the output holds `text` at least `times` times.
    bool waitfor(const std::string& text, int timeoutms = kShortWaitMs, int times = 1);
    // Everything read so far (after taking in whatever is pending).
    const std::string& output();
    void signal(int sig);
    // Exit status once the process ended by itself, -1 when it was killed by
    // a signal, -2 on timeout (the process then keeps running).
    int waitexit(int timeoutms = kShortWaitMs);
    bool running();
    pid_t pid() const { return pid_; }

  private:
    void readpending(int timeoutms);
    pid_t pid_ = -1;
    int out_ = -1;
    bool reaped_ = true; // until a child runs
    int status_ = -1;    // not an exit status: a child that never ran did not exit 0
    std::string text_;
};

// Runs the binary to its end and returns its output and exit status.
std::string runtool(const std::vector<std::string>& args, int& status);

// Owns a descriptor.
struct Fd {
    int fd = -1;
    Fd() = default;
    explicit Fd(int f) : fd(f) {}
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    void reset(int f = -1) {
        if (fd >= 0) close(fd);
        fd = f;
    }
};

// A TCP port free at the moment on every address, as the server binds.
int freeport();
// Listener on 127.0.0.1 with an ephemeral port; rcvbuf > 0 sets SO_RCVBUF first.
int listenlocal(int& port, int backlog = 16, int rcvbuf = 0);
// Blocking connect to a numeric address ("127.0.0.1" or "::1"); -1 on failure.
int connectto(const char* address, int port);
// Accepts within the time bound; -1 on timeout.
int acceptwithin(int listener, int timeoutms);
// Reads until `most` bytes came, the peer closed, `quietms` passed without
// data or `limitms` passed in all.
std::string readsome(int fd, size_t most, int quietms, int limitms = kLongWaitMs);
bool writeall(int fd, const std::string& data, int timeoutms = kShortWaitMs);
// A test message as the client builds it: timestamp then padlen '#'.
std::string message(long long stamp, int padlen);
int countof(const std::string& text, const std::string& what);
inline void sleepms(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}
