// SPDX-License-Identifier: MIT
// Helpers for the metrics tests: a plain HTTP/1.0 GET over loopback with a
// time bound, a loopback connection whose reader never reads (so its send
// queue stands still at a known size), and a process's open descriptors and
// resident memory.
#pragma once

#include "lab_helpers.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

struct OwnedFd {
    int fd = -1;
    explicit OwnedFd(int f = -1) : fd(f) {}
    ~OwnedFd() { reset(); }
    OwnedFd(const OwnedFd&) = delete;
    OwnedFd& operator=(const OwnedFd&) = delete;
    OwnedFd(OwnedFd&& o) noexcept : fd(o.fd) { o.fd = -1; }
    void reset(int f = -1) {
        if (fd >= 0) close(fd);
        fd = f;
    }
};

inline int local_port_of(int fd) {
    sockaddr_in a;
    socklen_t len = sizeof a;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) return -1;
    return ntohs(a.sin_port);
}

// A connected socket to 127.0.0.1:port, blocking, or -1.
inline int connect_loopback(int port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a;
    memset(&a, 0, sizeof a);
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) return fd;
    if (fd >= 0) close(fd);
    return -1;
}

// Everything the peer sends until it closes, or until `ms` passed; `closed`
// says which.
inline std::string read_until_closed(int fd, int ms, bool* closed = nullptr) {
    std::string out;
    long long end = lab_now_ms() + ms;
    if (closed) *closed = false;
    for (;;) {
        long long left = end - lab_now_ms();
        if (left <= 0) break;
        pollfd p = {fd, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left)) <= 0) continue;
        char buf[8192];
        ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0) {
            if (closed) *closed = true;
            break;
        }
        out.append(buf, static_cast<size_t>(n));
    }
    return out;
}

struct HttpAnswer {
    int status = 0; // 0: no answer in time
    std::string headers, body;
};

inline HttpAnswer http_get(int port, const std::string& target, const std::string& accept = "",
                           int ms = 5000) {
    HttpAnswer a;
    OwnedFd fd(connect_loopback(port));
    if (fd.fd < 0) return a;
    std::string req = "GET " + target + " HTTP/1.0\r\nHost: 127.0.0.1\r\n";
    if (!accept.empty()) req += "Accept: " + accept + "\r\n";
    req += "\r\n";
    if (send(fd.fd, req.data(), req.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(req.size()))
        return a;
    bool closed = false;
    std::string all = read_until_closed(fd.fd, ms, &closed);
    size_t split = all.find("\r\n\r\n");
    if (!closed || split == std::string::npos || all.compare(0, 5, "HTTP/") != 0) return a;
    a.status = atoi(all.c_str() + all.find(' ') + 1);
    a.headers = all.substr(0, split);
    a.body = all.substr(split + 4);
    return a;
}

inline std::string url_encode(const std::string& s) {
    std::string out;
    for (unsigned char ch : s) {
        if (isalnum(ch) || ch == '_' || ch == '.' || ch == '-') {
            out += static_cast<char>(ch);
        } else {
            char hex[4];
            snprintf(hex, sizeof hex, "%%%02X", ch);
            out += hex;
        }
    }
    return out;
}

// The value of the sample `name{labels}` in a text-format or OpenMetrics
// body, where `labels` is the label text exactly as written; NAN if absent.
inline double sample_value(const std::string& body, const std::string& series) {
    std::istringstream in(body);
    for (std::string line; std::getline(in, line);)
        if (line.compare(0, series.size() + 1, series + " ") == 0)
            return strtod(line.c_str() + series.size() + 1, nullptr);
    return NAN;
}

// A listener on 127.0.0.1 and a connection to it whose accepted end never
// reads: the writer's send queue fills to a size that then stands still.
struct StalledPair {
    OwnedFd listener, writer, reader;
    int port = -1;
    bool open() {
        listener.reset(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        int small = 4096;
        setsockopt(listener.fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        sockaddr_in a;
        memset(&a, 0, sizeof a);
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (bind(listener.fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            listen(listener.fd, 16) != 0)
            return false;
        port = local_port_of(listener.fd);
        writer.reset(connect_loopback(port));
        reader.reset(accept(listener.fd, nullptr, nullptr));
        return writer.fd >= 0 && reader.fd >= 0;
    }
    // Writes until the send queue takes no more (about `bytes` at most).
    void fill(size_t bytes) {
        int flags = fcntl(writer.fd, F_GETFL);
        fcntl(writer.fd, F_SETFL, flags | O_NONBLOCK);
        std::string chunk(4096, 'x');
        for (size_t sent = 0; sent < bytes;) {
            ssize_t n = send(writer.fd, chunk.data(), chunk.size(), MSG_NOSIGNAL);
            if (n <= 0) break;
            sent += static_cast<size_t>(n);
        }
    }
};

// Open descriptors of a process, and its resident memory in KiB.
inline int open_fds(pid_t pid) {
    int n = 0;
    if (DIR* d = opendir(("/proc/" + std::to_string(pid) + "/fd").c_str())) {
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.') ++n;
        closedir(d);
    }
    return n;
}

inline long resident_kib(pid_t pid) {
    std::istringstream in(slurp("/proc/" + std::to_string(pid) + "/status"));
    for (std::string line; std::getline(in, line);)
        if (line.compare(0, 6, "VmRSS:") == 0) return atol(line.c_str() + 6);
    return -1;
}

// The address `watch -metrics ...:0` said it serves on: its port, or -1.
inline int metrics_port(LabChild& watch) {
    if (!watch.waitfor("/metrics\n", 5000)) return -1;
    const std::string& out = watch.output();
    size_t at = out.find("metrics on http://");
    if (at == std::string::npos) return -1;
    size_t colon = out.find(':', at + 18);
    return atoi(out.c_str() + colon + 1);
}
