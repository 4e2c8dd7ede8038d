// Child process and loopback socket helpers for the pacelag tool tests.
#include "tool_helpers.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {
long long nowms() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}
} // namespace

void sleepms(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

Tool::Tool(const std::vector<std::string>& args) {
    // A test that dies on a write to a closed pipe would hide the real fault.
    ::signal(SIGPIPE, SIG_IGN);
    int pipefd[2];
    if (pipe2(pipefd, O_CLOEXEC) != 0) return;
    std::vector<char*> argv;
    std::string bin = PACELAG_BIN;
    argv.push_back(const_cast<char*>(bin.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
        dup2(pipefd[1], 1);
        int devnull = open("/dev/null", O_RDONLY);
        if (devnull >= 0) dup2(devnull, 0);
        execv(bin.c_str(), argv.data());
        _exit(127);
    }
    close(pipefd[1]);
    out_ = pipefd[0];
    fcntl(out_, F_SETFL, O_NONBLOCK);
    if (pid_ < 0) reaped_ = true;
}

Tool::~Tool() {
    if (!reaped_ && pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
}

void Tool::readpending(int timeoutms) {
    if (out_ < 0) {
        if (timeoutms > 0) sleepms(timeoutms);
        return;
    }
    pollfd p = {out_, POLLIN, 0};
    if (poll(&p, 1, timeoutms) <= 0) return;
    char buffer[8192];
    for (;;) {
        ssize_t n = read(out_, buffer, sizeof buffer);
        if (n > 0) {
            text_.append(buffer, static_cast<size_t>(n));
            continue;
        }
        if (n == 0) { // the child's end is closed: nothing more will come
            close(out_);
            out_ = -1;
        }
        return;
    }
}

bool Tool::waitfor(const std::string& text, int timeoutms, int times) {
    long long end = nowms() + timeoutms;
    for (;;) {
        if (countof(text_, text) >= times) return true;
        long long left = end - nowms();
        if (left <= 0) return false;
        if (out_ < 0) return false;
        readpending(static_cast<int>(left > 50 ? 50 : left));
    }
}

const std::string& Tool::output() {
    readpending(0);
    return text_;
}

void Tool::signal(int sig) {
    if (!reaped_ && pid_ > 0) kill(pid_, sig);
}

bool Tool::running() {
    if (reaped_) return false;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
        reaped_ = true;
        status_ = status;
        return false;
    }
    return true;
}

int Tool::waitexit(int timeoutms) {
    long long end = nowms() + timeoutms;
    while (running()) {
        if (nowms() >= end) return -2;
        readpending(20);
    }
    // Take in the last output once the writer is gone.
    while (out_ >= 0) readpending(100);
    if (WIFEXITED(status_)) return WEXITSTATUS(status_);
    return -1;
}

std::string runtool(const std::vector<std::string>& args, int& status) {
    Tool tool(args);
    status = tool.waitexit(kLongWaitMs);
    return tool.output();
}

Fd::~Fd() {
    reset();
}

void Fd::reset(int f) {
    if (fd >= 0) close(fd);
    fd = f;
}

int freeport() {
    int s = socket(AF_INET6, SOCK_STREAM, 0);
    if (s < 0) return -1;
    int off = 0;
    setsockopt(s, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
    sockaddr_in6 addr;
    memset(&addr, 0, sizeof addr);
    addr.sin6_family = AF_INET6;
    addr.sin6_addr = in6addr_any;
    socklen_t len = sizeof addr;
    int port = -1;
    if (bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
        port = ntohs(addr.sin6_port);
    close(s);
    return port;
}

int listenlocal(int& port, int backlog, int rcvbuf) {
    int s = socket(AF_INET, SOCK_STREAM, 0);
    if (s < 0) return -1;
    if (rcvbuf > 0) setsockopt(s, SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf);
    sockaddr_in addr;
    memset(&addr, 0, sizeof addr);
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(s, backlog) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        close(s);
        return -1;
    }
    port = ntohs(addr.sin_port);
    return s;
}

int connectto(const char* address, int port) {
    sockaddr_storage storage;
    memset(&storage, 0, sizeof storage);
    socklen_t len = 0;
    int family = strchr(address, ':') ? AF_INET6 : AF_INET;
    if (family == AF_INET6) {
        auto* a = reinterpret_cast<sockaddr_in6*>(&storage);
        a->sin6_family = AF_INET6;
        a->sin6_port = htons(static_cast<uint16_t>(port));
        if (inet_pton(AF_INET6, address, &a->sin6_addr) != 1) return -1;
        len = sizeof *a;
    } else {
        auto* a = reinterpret_cast<sockaddr_in*>(&storage);
        a->sin_family = AF_INET;
        a->sin_port = htons(static_cast<uint16_t>(port));
        if (inet_pton(AF_INET, address, &a->sin_addr) != 1) return -1;
        len = sizeof *a;
    }
    int s = socket(family, SOCK_STREAM, 0);
    if (s < 0) return -1;
    // Loopback connects finish at once or are refused; the listener's backlog
    // takes them even before the server accepts.
    if (connect(s, reinterpret_cast<sockaddr*>(&storage), len) != 0) {
        close(s);
        return -1;
    }
    return s;
}

int acceptwithin(int listener, int timeoutms) {
    pollfd p = {listener, POLLIN, 0};
    if (poll(&p, 1, timeoutms) <= 0) return -1;
    return accept(listener, nullptr, nullptr);
}

int readexact(int fd, char* buffer, int n, int timeoutms) {
    long long end = nowms() + timeoutms;
    int got = 0;
    while (got < n) {
        long long left = end - nowms();
        if (left <= 0) break;
        pollfd p = {fd, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left)) <= 0) break;
        ssize_t r = recv(fd, buffer + got, static_cast<size_t>(n - got), MSG_DONTWAIT);
        if (r == 0) break;
        if (r < 0) {
            if (errno == EAGAIN || errno == EINTR) continue;
            break;
        }
        got += static_cast<int>(r);
    }
    return got;
}

std::string readavailable(int fd, int quietms, int limitms) {
    std::string data;
    long long end = nowms() + limitms;
    char buffer[65536];
    while (nowms() < end) {
        pollfd p = {fd, POLLIN, 0};
        if (poll(&p, 1, quietms) <= 0) break;
        ssize_t r = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (r <= 0) {
            if (r < 0 && (errno == EAGAIN || errno == EINTR)) continue;
            break;
        }
        data.append(buffer, static_cast<size_t>(r));
    }
    return data;
}

bool writeall(int fd, const std::string& data, int timeoutms) {
    long long end = nowms() + timeoutms;
    size_t done = 0;
    while (done < data.size()) {
        long long left = end - nowms();
        if (left <= 0) return false;
        pollfd p = {fd, POLLOUT, 0};
        if (poll(&p, 1, static_cast<int>(left)) <= 0) return false;
        ssize_t w = send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (w < 0) {
            if (errno == EAGAIN || errno == EINTR) continue;
            return false;
        }
        done += static_cast<size_t>(w);
    }
    return true;
}

std::string message(long long stamp, int padlen) {
    return std::to_string(stamp) + std::string(static_cast<size_t>(padlen), '#');
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\n') continue;
        result.push_back(text.substr(start, i - start));
        start = i + 1;
    }
    if (start < text.size()) result.push_back(text.substr(start));
    return result;
}

int countof(const std::string& text, const std::string& what) {
    if (what.empty()) return 0;
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}
