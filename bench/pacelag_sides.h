// SPDX-License-Identifier: MIT
// Measures one side of the pacelag binary on loopback: the client against a
// reader that keeps up, the server fed by a writer that keeps its receive
// queue full. Each gives the achieved rate and the CPU share of the pacelag
// process. Shared by the pacing table and the side-by-side comparison.
#pragma once

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "measure.h"

const int kPacelagPadlen = 200;
const int kPacelagMsglen = kPacelagPadlen + 10;
const double kWarmup = 0.5; // seconds left out at the start of each run

// Achieved rate from a counter sampled as it grows: the slope between the
// first step of the counter after the warm-up and its last step, so that slow
// rates are not blurred by samples taken between two messages.
struct Slope {
    double t0 = -1, t1 = -1;
    long long n0 = 0, n1 = 0, last = -1;
    void sample(double t, long long n, double start) {
        if (t - start < kWarmup) {
            last = n;
            return;
        }
        if (n == last) return;
        last = n;
        if (t0 < 0) {
            t0 = t;
            n0 = n;
        }
        t1 = t;
        n1 = n;
    }
    double rate() const { return t1 > t0 ? static_cast<double>(n1 - n0) / (t1 - t0) : 0; }
};

inline pid_t spawnpacelag(const std::string& mode, int port, int rate) {
    std::string portarg = std::to_string(port), ratearg = std::to_string(rate),
                padarg = std::to_string(kPacelagPadlen);
    pid_t pid = fork();
    if (pid == 0) {
        int devnull = open("/dev/null", O_RDWR);
        dup2(devnull, 0);
        dup2(devnull, 1);
        if (mode == "client")
            execl(PACELAG_BIN, "pacelag", "-mode", "client", "-host", "127.0.0.1", "-port",
                  portarg.c_str(), "-rate", ratearg.c_str(), "-padlen", padarg.c_str(),
                  static_cast<char*>(nullptr));
        else
            execl(PACELAG_BIN, "pacelag", "-mode", "server", "-port", portarg.c_str(), "-rate",
                  ratearg.c_str(), "-padlen", padarg.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    return pid;
}

// Stops the child and returns its CPU seconds per second of its life.
inline double finish(pid_t pid, double started) {
    kill(pid, SIGTERM);
    int status = 0;
    rusage usage;
    memset(&usage, 0, sizeof usage);
    for (int i = 0; i < 300; ++i) { // up to 3 s, then force it
        if (wait4(pid, &status, WNOHANG, &usage) == pid) {
            return (seconds(usage.ru_utime) + seconds(usage.ru_stime)) / (now() - started);
        }
        usleep(10000);
    }
    kill(pid, SIGKILL);
    wait4(pid, &status, 0, &usage);
    fprintf(stderr, "pacelag did not stop within 3 s of SIGTERM\n");
    return -1;
}

inline int loopback(int port, sockaddr_in& addr) {
    memset(&addr, 0, sizeof addr);
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return socket(AF_INET, SOCK_STREAM, 0);
}

// The peers below take in what has arrived, then nap for a millisecond: they
// keep up with 100000 messages per second (about 21 KB per nap, far below the
// socket buffers) without a wake-up per message competing with pacelag for
// the two cores.
inline void nap() {
    usleep(1000);
}

// Takes in everything queued on a non-blocking socket; false once the peer
// has gone.
inline bool drain(int fd, long long& bytes) {
    static char buffer[1 << 18];
    for (;;) {
        ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n > 0) {
            bytes += n;
            continue;
        }
        return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
}

// The client side against a reader that takes everything.
inline Measured measureclient(int rate, double duration) {
    sockaddr_in addr;
    int listener = loopback(0, addr);
    socklen_t len = sizeof addr;
    if (bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(listener, 4) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        perror("listen");
        close(listener);
        return {};
    }
    double started = now();
    pid_t pid = spawnpacelag("client", ntohs(addr.sin_port), rate);
    pollfd p = {listener, POLLIN, 0};
    int conn = poll(&p, 1, 5000) == 1 ? accept(listener, nullptr, nullptr) : -1;
    close(listener);
    Slope slope;
    if (conn >= 0) {
        fcntl(conn, F_SETFL, O_NONBLOCK);
        long long bytes = 0;
        double start = now();
        while (now() - start < duration + kWarmup) {
            if (!drain(conn, bytes)) break;
            slope.sample(now(), bytes / kPacelagMsglen, start);
            nap();
        }
    }
    double cpu = finish(pid, started);
    if (conn >= 0) close(conn);
    return {slope.rate(), cpu};
}

// The server side fed by a writer that keeps its queue full; every echo
// stands for one message read. The writer's buffers are as large as the
// system allows, so that while other work keeps it off the processor the
// server still finds messages to read and room for its echoes.
inline Measured measureserver(int rate, double duration) {
    sockaddr_in addr;
    int probe = loopback(0, addr);
    socklen_t len = sizeof addr;
    bind(probe, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    getsockname(probe, reinterpret_cast<sockaddr*>(&addr), &len);
    int port = ntohs(addr.sin_port);
    close(probe);

    double started = now();
    pid_t pid = spawnpacelag("server", port, rate);
    int conn = -1;
    for (int i = 0; i < 100 && conn < 0; ++i) { // until it listens, up to 5 s
        usleep(50000);
        conn = loopback(port, addr);
        if (connect(conn, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            close(conn);
            conn = -1;
        }
    }
    Slope slope;
    if (conn >= 0) {
        fcntl(conn, F_SETFL, O_NONBLOCK);
        int big = 4 << 20; // the kernel caps it at net.core.wmem_max / rmem_max
        setsockopt(conn, SOL_SOCKET, SO_SNDBUF, &big, sizeof big);
        setsockopt(conn, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
        // Identical messages back to back, so the stream can be continued
        // from any offset with the same pattern.
        static char pattern[kPacelagMsglen * 256 + kPacelagMsglen];
        int stamp =
            snprintf(pattern, kPacelagMsglen, "%lld", static_cast<long long>(time(nullptr)));
        for (int m = 0; m < 257; ++m) {
            memcpy(pattern + m * kPacelagMsglen, pattern, static_cast<size_t>(stamp));
            memset(pattern + m * kPacelagMsglen + stamp, '#',
                   static_cast<size_t>(kPacelagMsglen - stamp));
        }
        long long written = 0, echoed = 0;
        double start = -1;
        double begun = now();
        while (now() - begun < duration + kWarmup + 1) {
            for (;;) { // fill the send queue
                long long offset = written % kPacelagMsglen;
                ssize_t n = send(conn, pattern + offset, sizeof pattern - kPacelagMsglen,
                                 MSG_NOSIGNAL | MSG_DONTWAIT);
                if (n <= 0) break;
                written += n;
            }
            if (!drain(conn, echoed)) break;
            if (echoed > 0) {
                if (start < 0) start = now(); // served from here on
                slope.sample(now(), echoed / (kPacelagMsglen / 2), start);
                if (now() - start >= duration + kWarmup) break;
            }
            nap();
        }
    }
    double cpu = finish(pid, started);
    if (conn >= 0) close(conn);
    return {slope.rate(), cpu};
}
