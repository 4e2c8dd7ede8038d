// SPDX-License-Identifier: MIT
// Opening the diagnostics sockets inside namespaces and keeping pacelag's
// sockets in sight.
#include "discover.h"

#include "netns.h"

#include <net/if.h>
#include <unistd.h>

namespace {
struct QdiscOpen {
    const char* dev;
    int fd = -1;
    int ifindex = 0;
};

int open_diag_here(void* arg) {
    int* fd = static_cast<int*>(arg);
    *fd = diag_open();
    return *fd < 0 ? -1 : 0;
}

int open_qdisc_here(void* arg) {
    QdiscOpen* q = static_cast<QdiscOpen*>(arg);
    q->ifindex = static_cast<int>(if_nametoindex(q->dev));
    q->fd = qdisc_open();
    return q->fd < 0 || q->ifindex == 0 ? -1 : 0;
}
} // namespace

void DiagHandles::close_all() {
    for (int* fd : {&server, &client, &qdisc}) {
        if (*fd >= 0) close(*fd);
        *fd = -1;
    }
}

int open_diag_in(int nsfd, int& fd) {
    return in_namespace(nsfd, open_diag_here, &fd);
}

int open_qdisc_in(int nsfd, const char* dev, int& fd, int& ifindex) {
    QdiscOpen q;
    q.dev = dev;
    int rc = in_namespace(nsfd, open_qdisc_here, &q);
    if (rc != 0 && q.fd >= 0) {
        close(q.fd);
        q.fd = -1;
    }
    fd = q.fd;
    ifindex = q.ifindex;
    return rc;
}

const LabSock* pick_connection(const std::vector<LabSock>& socks, int port, bool server) {
    const LabSock* found = nullptr;
    for (const LabSock& s : socks) {
        if ((server ? s.lport : s.rport) != port) continue;
        if (s.state == 1) return &s; // TCP_ESTABLISHED
        if (found == nullptr) found = &s;
    }
    return found;
}

const LabSock* SockFinder::find(int fd, int port) {
    if (have_ && diag_lookup(fd, known_, known_) == 0) return &known_;
    have_ = false;
    if (diag_query(fd, port, kLabStates, socks_) != 0) return nullptr;
    if (const LabSock* s = pick_connection(socks_, port, server_)) {
        known_ = *s;
        have_ = true;
        return &known_;
    }
    return nullptr;
}
