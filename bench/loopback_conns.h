// SPDX-License-Identifier: MIT
// A listener and a number of loopback connections to it, each with a few
// bytes waiting in its receive queue: the sockets the lab benchmarks query.
#pragma once

#include <arpa/inet.h>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

struct LoopbackConns {
    int listener = -1;
    int port = 0;
    std::vector<int> fds;
    explicit LoopbackConns(int count) {
        listener = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a;
        memset(&a, 0, sizeof a);
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a);
        listen(listener, 1024);
        socklen_t len = sizeof a;
        getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
        for (int i = 0; i < count; ++i) {
            int c = socket(AF_INET, SOCK_STREAM, 0);
            if (connect(c, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
                close(c);
                break;
            }
            int s = accept(listener, nullptr, nullptr);
            (void)send(c, "0123456789", 10, 0);
            fds.push_back(c);
            fds.push_back(s);
        }
    }
    ~LoopbackConns() {
        for (int fd : fds) close(fd);
        close(listener);
    }
    LoopbackConns(const LoopbackConns&) = delete;
    LoopbackConns& operator=(const LoopbackConns&) = delete;
};
