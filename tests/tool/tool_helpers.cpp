// SPDX-License-Identifier: MIT
// Child process and loopback socket helpers for the pacelag tool tests.
#include "tool_helpers.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
long long nowms() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// Waits for `events` on fd until the deadline; false on timeout.
bool pollby(int fd, short events, long long end) {
    long long left = end - nowms();
    pollfd p = {fd, events, 0};
    return left > 0 && poll(&p, 1, static_cast<int>(left)) > 0;
}

// A dual-stack TCP socket bound to an ephemeral port, on every address or on
// loopback (IPv4 clients only, through the mapped address); -1 on failure.
int bindephemeral(int& port, bool loopback, int rcvbuf) {
    int s = socket(AF_INET6, SOCK_STREAM, 0);
    if (s < 0) return -1;
    int off = 0;
    setsockopt(s, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
    if (rcvbuf > 0) setsockopt(s, SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf);
    sockaddr_in6 addr = {};
    addr.sin6_family = AF_INET6;
    if (loopback) inet_pton(AF_INET6, "::ffff:127.0.0.1", &addr.sin6_addr);
    socklen_t len = sizeof addr;
    if (bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        close(s);
        return -1;
    }
    port = ntohs(addr.sin6_port);
    return s;
}
} // namespace

Tool::Tool(const std::vector<std::string>& args) {
    // A test that dies on a write to a closed pipe would hide the real fault.
    ::signal(SIGPIPE, SIG_IGN);
    int pipefd[2];
    if (pipe2(pipefd, O_CLOEXEC) != 0) return;
    std::vector<char*> argv = {const_cast<char*>(PACELAG_BIN)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
        ::signal(SIGPIPE, SIG_DFL); // the binary must survive a vanished peer by itself
        dup2(pipefd[1], 1);
        int devnull = open("/dev/null", O_RDONLY);
        if (devnull >= 0) dup2(devnull, 0);
        execv(PACELAG_BIN, argv.data());
        _exit(127);
    }
    close(pipefd[1]);
    out_ = pipefd[0];
    fcntl(out_, F_SETFL, O_NONBLOCK);
    reaped_ = pid_ < 0;
}

Tool::~Tool() {
    if (!reaped_) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
}

void Tool::readpending(int timeoutms) {
    if (out_ < 0) return sleepms(timeoutms);
    pollfd p = {out_, POLLIN, 0};
    if (poll(&p, 1, timeoutms) <= 0) return;
    char buffer[8192];
    ssize_t n;
    while ((n = read(out_, buffer, sizeof buffer)) > 0)
        text_.append(buffer, static_cast<size_t>(n));
    if (n == 0) { // the child's end is closed: nothing more will come
        close(out_);
        out_ = -1;
    }
}

bool Tool::waitfor(const std::string& text, int timeoutms, int times) {
    long long end = nowms() + timeoutms;
    for (;;) {
        if (countof(text_, text) >= times) return true;
        long long left = end - nowms();
        if (left <= 0 || out_ < 0) return false;
        readpending(static_cast<int>(left > 50 ? 50 : left));
    }
}

const std::string& Tool::output() {
    readpending(0);
    return text_;
}

void Tool::signal(int sig) {
    if (!reaped_) kill(pid_, sig);
}

bool Tool::running() {
    int status = 0;
    if (!reaped_ && waitpid(pid_, &status, WNOHANG) == pid_) {
        reaped_ = true;
        status_ = status;
    }
    return !reaped_;
}

int Tool::waitexit(int timeoutms) {
    long long end = nowms() + timeoutms;
    while (running()) {
        if (nowms() >= end) return -2;
        readpending(20);
    }
    // Take in the last output once the writer is gone.
    while (out_ >= 0) readpending(100);
    return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
}

std::string runtool(const std::vector<std::string>& args, int& status) {
    Tool tool(args);
    status = tool.waitexit(kLongWaitMs);
    return tool.output();
}

int freeport() {
    int port = -1;
    int s = bindephemeral(port, false, 0);
    if (s >= 0) close(s);
    return port;
}

int listenlocal(int& port, int backlog, int rcvbuf) {
    int s = bindephemeral(port, true, rcvbuf);
    if (s >= 0 && listen(s, backlog) != 0) {
        close(s);
        return -1;
    }
    return s;
}

int connectto(const char* address, int port) {
    addrinfo hints = {};
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (getaddrinfo(address, std::to_string(port).c_str(), &hints, &found) != 0) return -1;
    // Loopback connects finish at once or are refused; the listener's backlog
    // takes them even before the server accepts.
    int s = socket(found->ai_family, SOCK_STREAM, 0);
    if (s >= 0 && connect(s, found->ai_addr, found->ai_addrlen) != 0) {
        close(s);
        s = -1;
    }
    freeaddrinfo(found);
    return s;
}

int acceptwithin(int listener, int timeoutms) {
    return pollby(listener, POLLIN, nowms() + timeoutms) ? accept(listener, nullptr, nullptr) : -1;
}

std::string readsome(int fd, size_t most, int quietms, int limitms) {
    std::string data;
    long long end = nowms() + limitms;
    char buffer[65536];
    while (data.size() < most && pollby(fd, POLLIN, std::min(end, nowms() + quietms))) {
        ssize_t r = recv(fd, buffer, std::min(sizeof buffer, most - data.size()), MSG_DONTWAIT);
        if (r == 0 || (r < 0 && errno != EAGAIN && errno != EINTR)) break;
        if (r > 0) data.append(buffer, static_cast<size_t>(r));
    }
    return data;
}

bool writeall(int fd, const std::string& data, int timeoutms) {
    long long end = nowms() + timeoutms;
    for (size_t done = 0; done < data.size();) {
        if (!pollby(fd, POLLOUT, end)) return false;
        ssize_t w = send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (w < 0 && errno != EAGAIN && errno != EINTR) return false;
        if (w > 0) done += static_cast<size_t>(w);
    }
    return true;
}

std::string message(long long stamp, int padlen) {
    return std::to_string(stamp) + std::string(static_cast<size_t>(padlen), '#');
}

int countof(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t at = text.find(what); !what.empty() && at != std::string::npos;
         at = text.find(what, at + 1))
        ++n;
    return n;
}
