// SPDX-License-Identifier: MIT
// Socket diagnostics over netlink: inet_diag dumps filtered by port, and the
// root qdisc's backlog of one interface.
#include "sampler.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <linux/gen_stats.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/pkt_sched.h>
#include <linux/rtnetlink.h>
#include <linux/sock_diag.h>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

const uint32_t kLabStates =
    ((1u << 12) - 1) & ~((1u << 10) | (1u << 6)); // TCP_LISTEN, TCP_TIME_WAIT

namespace {
// One reply buffer per thread: a dump of a busy host arrives in many parts.
constexpr int kReplySize = 65536;

// NLMSG_OK without its mixed-sign comparison.
bool nl_ok(const nlmsghdr* h, int len) {
    return len >= static_cast<int>(sizeof(nlmsghdr)) && h->nlmsg_len >= sizeof(nlmsghdr) &&
           h->nlmsg_len <= static_cast<unsigned>(len);
}

int netlink_open(int protocol) {
    int fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, protocol);
    if (fd < 0) return -1;
    // A kernel that never answers must not stall a sampling loop.
    timeval limit = {1, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    sockaddr_nl local;
    memset(&local, 0, sizeof local);
    local.nl_family = AF_NETLINK;
    if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        int err = errno;
        close(fd);
        errno = err;
        return -1;
    }
    return fd;
}

int send_request(int fd, const void* request, size_t len) {
    sockaddr_nl kernel;
    memset(&kernel, 0, sizeof kernel);
    kernel.nl_family = AF_NETLINK;
    ssize_t n;
    do {
        n = sendto(fd, request, len, 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel);
    } while (n < 0 && errno == EINTR);
    return n == static_cast<ssize_t>(len) ? 0 : -1;
}

// Reads the parts of a dump until its end, handing each message of sequence
// `seq` to `each`. 0, or -1 with errno set (from the kernel's error reply too).
template <typename Each> int read_dump(int fd, uint32_t seq, Each each) {
    alignas(NLMSG_ALIGNTO) static thread_local char reply[kReplySize];
    for (;;) {
        ssize_t n = recv(fd, reply, sizeof reply, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (n == 0) {
            errno = EPROTO;
            return -1;
        }
        int left = static_cast<int>(n);
        for (nlmsghdr* h = reinterpret_cast<nlmsghdr*>(reply); nl_ok(h, left);
             h = NLMSG_NEXT(h, left)) {
            if (h->nlmsg_seq != seq) continue; // a late part of an abandoned dump
            if (h->nlmsg_type == NLMSG_DONE) return 0;
            if (h->nlmsg_type == NLMSG_ERROR) {
                const nlmsgerr* e = static_cast<const nlmsgerr*>(NLMSG_DATA(h));
                if (e->error == 0) continue;
                errno = -e->error;
                return -1;
            }
            each(h);
        }
    }
}

uint32_t next_seq() {
    static uint32_t seq = 0;
    return __atomic_add_fetch(&seq, 1, __ATOMIC_RELAXED);
}

void take_diag(const nlmsghdr* h, int port, std::vector<LabSock>& out) {
    if (h->nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg))) return;
    const inet_diag_msg* m = static_cast<const inet_diag_msg*>(NLMSG_DATA(h));
    LabSock s;
    s.family = m->idiag_family;
    s.lport = ntohs(m->id.idiag_sport);
    s.rport = ntohs(m->id.idiag_dport);
    // The kernel filter already chose by port; this keeps a kernel that
    // ignored the filter from showing other connections.
    if (port != 0 && s.lport != port && s.rport != port) return;
    memcpy(s.local, m->id.idiag_src, 16);
    memcpy(s.remote, m->id.idiag_dst, 16);
    s.state = m->idiag_state;
    s.cookie = m->id.idiag_cookie[0] | (static_cast<uint64_t>(m->id.idiag_cookie[1]) << 32);
    s.sendq = m->idiag_wqueue;
    s.recvq = m->idiag_rqueue;
    int len = static_cast<int>(h->nlmsg_len - NLMSG_LENGTH(sizeof *m));
    for (const rtattr* a = reinterpret_cast<const rtattr*>(m + 1); RTA_OK(a, len);
         a = RTA_NEXT(a, len)) {
        const size_t payload = RTA_PAYLOAD(a);
        if (a->rta_type == INET_DIAG_INFO) {
            // Older kernels send a shorter record; what they leave out reads 0.
            tcp_info info;
            memset(&info, 0, sizeof info);
            memcpy(&info, RTA_DATA(a), payload < sizeof info ? payload : sizeof info);
            s.hasinfo = true;
            s.unsent = info.tcpi_notsent_bytes;
            s.unacked = info.tcpi_unacked;
            s.mss = info.tcpi_snd_mss;
            s.cwnd = info.tcpi_snd_cwnd;
            s.rtt_us = info.tcpi_rtt;
            s.retrans = info.tcpi_total_retrans;
            s.bytes_received = info.tcpi_bytes_received;
            s.bytes_acked = info.tcpi_bytes_acked;
        } else if (a->rta_type == INET_DIAG_SKMEMINFO) {
            uint32_t mem[SK_MEMINFO_VARS] = {};
            memcpy(mem, RTA_DATA(a), payload < sizeof mem ? payload : sizeof mem);
            s.hasmem = true;
            s.sndbuf = mem[SK_MEMINFO_SNDBUF];
            s.rcvbuf = mem[SK_MEMINFO_RCVBUF];
            s.wmem_queued = mem[SK_MEMINFO_WMEM_QUEUED];
        }
    }
    // A connection that has not sent its first byte leaves the unsent count
    // at 0; it never exceeds the send queue.
    if (s.unsent > s.sendq) s.unsent = s.sendq;
    out.push_back(s);
}

struct DiagRequest {
    nlmsghdr nlh;
    inet_diag_req_v2 req;
    rtattr bc;
    inet_diag_bc_op ops[4];
};

// "sport == port or dport == port" for the kernel's filter: an op that jumps
// to the end accepts, one that jumps 4 bytes past it rejects.
void port_filter(DiagRequest& r, int port) {
    r.bc.rta_type = INET_DIAG_REQ_BYTECODE;
    r.bc.rta_len = RTA_LENGTH(sizeof r.ops);
    r.ops[0] = {INET_DIAG_BC_S_EQ, 16, 8};
    r.ops[1] = {0, 0, static_cast<unsigned short>(port)};
    r.ops[2] = {INET_DIAG_BC_D_EQ, 8, 12};
    r.ops[3] = {0, 0, static_cast<unsigned short>(port)};
}

bool kernel_filter_works = true; // cleared once a kernel refused the filter
} // namespace

int diag_open() {
    return netlink_open(NETLINK_SOCK_DIAG);
}

int diag_query(int fd, int port, uint32_t states, std::vector<LabSock>& out) {
    out.clear();
    for (int family : {AF_INET, AF_INET6}) {
        DiagRequest r;
        memset(&r, 0, sizeof r);
        const bool filtered = port != 0 && __atomic_load_n(&kernel_filter_works, __ATOMIC_RELAXED);
        size_t len = filtered ? sizeof r : offsetof(DiagRequest, bc);
        r.nlh.nlmsg_len = static_cast<uint32_t>(len);
        r.nlh.nlmsg_type = SOCK_DIAG_BY_FAMILY;
        r.nlh.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
        r.nlh.nlmsg_seq = next_seq();
        r.req.sdiag_family = static_cast<uint8_t>(family);
        r.req.sdiag_protocol = IPPROTO_TCP;
        r.req.idiag_states = states;
        r.req.idiag_ext = (1 << (INET_DIAG_INFO - 1)) | (1 << (INET_DIAG_SKMEMINFO - 1));
        if (filtered) port_filter(r, port);
        if (send_request(fd, &r, len) != 0) return -1;
        const size_t before = out.size();
        int rc = read_dump(fd, r.nlh.nlmsg_seq, [&](const nlmsghdr* h) {
            if (h->nlmsg_type == SOCK_DIAG_BY_FAMILY) take_diag(h, port, out);
        });
        if (rc != 0 && filtered && errno == EINVAL) {
            // Ask again without the filter and keep choosing in user space.
            __atomic_store_n(&kernel_filter_works, false, __ATOMIC_RELAXED);
            out.resize(before);
            return diag_query(fd, port, states, out);
        }
        if (rc != 0) return -1;
    }
    return 0;
}

int diag_lookup(int fd, const LabSock& known, LabSock& out) {
    struct {
        nlmsghdr nlh;
        inet_diag_req_v2 req;
    } r;
    memset(&r, 0, sizeof r);
    r.nlh.nlmsg_len = sizeof r;
    r.nlh.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    r.nlh.nlmsg_flags = NLM_F_REQUEST;
    r.nlh.nlmsg_seq = next_seq();
    r.req.sdiag_family = static_cast<uint8_t>(known.family);
    r.req.sdiag_protocol = IPPROTO_TCP;
    r.req.idiag_states = ~0u;
    r.req.idiag_ext = (1 << (INET_DIAG_INFO - 1)) | (1 << (INET_DIAG_SKMEMINFO - 1));
    r.req.id.idiag_sport = htons(static_cast<uint16_t>(known.lport));
    r.req.id.idiag_dport = htons(static_cast<uint16_t>(known.rport));
    memcpy(r.req.id.idiag_src, known.local, 16);
    memcpy(r.req.id.idiag_dst, known.remote, 16);
    // The cookie makes a later connection on the same addresses and ports
    // count as a different one.
    r.req.id.idiag_cookie[0] = static_cast<uint32_t>(known.cookie);
    r.req.id.idiag_cookie[1] = static_cast<uint32_t>(known.cookie >> 32);
    if (send_request(fd, &r, sizeof r) != 0) return -1;
    std::vector<LabSock> found;
    // One reply, not a dump: the socket, or an error message.
    alignas(NLMSG_ALIGNTO) char reply[8192];
    for (;;) {
        ssize_t n = recv(fd, reply, sizeof reply, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EPROTO;
            return -1;
        }
        int left = static_cast<int>(n);
        for (nlmsghdr* h = reinterpret_cast<nlmsghdr*>(reply); nl_ok(h, left);
             h = NLMSG_NEXT(h, left)) {
            if (h->nlmsg_seq != r.nlh.nlmsg_seq) continue;
            if (h->nlmsg_type == NLMSG_ERROR) {
                const nlmsgerr* e = static_cast<const nlmsgerr*>(NLMSG_DATA(h));
                errno = e->error != 0 ? -e->error : ENOENT;
                return -1;
            }
            if (h->nlmsg_type != SOCK_DIAG_BY_FAMILY) continue;
            take_diag(h, 0, found);
            if (found.empty()) continue;
            out = found[0];
            return 0;
        }
    }
}

int qdisc_open() {
    return netlink_open(NETLINK_ROUTE);
}

int64_t qdisc_backlog(int fd, int ifindex) {
    struct {
        nlmsghdr nlh;
        tcmsg tc;
    } r;
    memset(&r, 0, sizeof r);
    r.nlh.nlmsg_len = sizeof r;
    r.nlh.nlmsg_type = RTM_GETQDISC;
    r.nlh.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    r.nlh.nlmsg_seq = next_seq();
    r.tc.tcm_family = AF_UNSPEC;
    r.tc.tcm_ifindex = ifindex;
    if (send_request(fd, &r, sizeof r) != 0) return -1;
    int64_t backlog = -1;
    int rc = read_dump(fd, r.nlh.nlmsg_seq, [&](const nlmsghdr* h) {
        if (h->nlmsg_type != RTM_NEWQDISC || h->nlmsg_len < NLMSG_LENGTH(sizeof(tcmsg))) return;
        const tcmsg* t = static_cast<const tcmsg*>(NLMSG_DATA(h));
        if (t->tcm_ifindex != ifindex || t->tcm_parent != TC_H_ROOT) return;
        int len = static_cast<int>(h->nlmsg_len - NLMSG_LENGTH(sizeof *t));
        for (const rtattr* a = reinterpret_cast<const rtattr*>(t + 1); RTA_OK(a, len);
             a = RTA_NEXT(a, len)) {
            if (a->rta_type == TCA_STATS2) {
                int inner = static_cast<int>(RTA_PAYLOAD(a));
                for (const rtattr* b = static_cast<const rtattr*>(RTA_DATA(a)); RTA_OK(b, inner);
                     b = RTA_NEXT(b, inner)) {
                    if (b->rta_type != TCA_STATS_QUEUE || RTA_PAYLOAD(b) < sizeof(gnet_stats_queue))
                        continue;
                    gnet_stats_queue q;
                    memcpy(&q, RTA_DATA(b), sizeof q);
                    backlog = q.backlog;
                }
            } else if (a->rta_type == TCA_STATS && backlog < 0 &&
                       RTA_PAYLOAD(a) >= sizeof(tc_stats)) {
                tc_stats st;
                memcpy(&st, RTA_DATA(a), sizeof st);
                backlog = st.backlog;
            }
        }
    });
    return rc == 0 ? backlog : -1;
}

int labsock_endpoint(const LabSock& s, bool local, char* buf, int size) {
    const uint8_t* addr = local ? s.local : s.remote;
    int port = local ? s.lport : s.rport;
    char text[INET6_ADDRSTRLEN] = "?";
    static const uint8_t mapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    if (s.family == AF_INET) {
        inet_ntop(AF_INET, addr, text, sizeof text);
    } else if (memcmp(addr, mapped, 12) == 0) {
        inet_ntop(AF_INET, addr + 12, text, sizeof text);
    } else {
        inet_ntop(AF_INET6, addr, text, sizeof text);
        return snprintf(buf, static_cast<size_t>(size), "[%s]:%d", text, port);
    }
    return snprintf(buf, static_cast<size_t>(size), "%s:%d", text, port);
}

const char* tcpstate_name(int state) {
    static const char* const names[] = {"?",          "ESTAB",      "SYN-SENT",  "SYN-RECV",
                                        "FIN-WAIT-1", "FIN-WAIT-2", "TIME-WAIT", "UNCONN",
                                        "CLOSE-WAIT", "LAST-ACK",   "LISTEN",    "CLOSING"};
    if (state < 0 || state >= static_cast<int>(sizeof names / sizeof names[0])) return "?";
    return names[state];
}
