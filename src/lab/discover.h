// SPDX-License-Identifier: MIT
// Finding pacelag's two sockets and the shaped link to sample: diagnostics
// sockets opened inside each namespace, and the connection picked by port.
#pragma once

#include "sampler.h"

#include <vector>

// The kernel handles a run samples through; -1 while not open.
struct DiagHandles {
    int server = -1; // sock_diag in the server's namespace
    int client = -1; // sock_diag in the client's; -1 when one namespace holds both
    int qdisc = -1;  // rtnetlink in the client's namespace, for the shaped link
    int ifindex = 0; // the shaped interface there
    void close_all();
};

// Opens a sock_diag socket inside namespace `nsfd` (-1: this one). 0 or -1.
int open_diag_in(int nsfd, int& fd);
// Opens rtnetlink inside `nsfd` and finds interface `dev` there (where the
// lab's veth lives, never in the lab's own namespace). 0 or -1.
int open_qdisc_in(int nsfd, const char* dev, int& fd, int& ifindex);

// The established connection among `socks` whose local (server) or remote
// (client) port is `port`; else the first one on that port in another state;
// null when none.
const LabSock* pick_connection(const std::vector<LabSock>& socks, int port, bool server);

// Keeps one end of the connection in sight. Once it is known each sample is
// a hash lookup; a query by port walks every connection of the host and is
// kept for finding it (before the connection, or after it changed).
class SockFinder {
  public:
    SockFinder(bool server) : server_(server) {}
    // The socket now, or null when there is none.
    const LabSock* find(int fd, int port);

  private:
    bool server_;
    bool have_ = false;
    LabSock known_;
    std::vector<LabSock> socks_;
};
