// SPDX-License-Identifier: MIT
// Socket diagnostics: what the kernel holds for each TCP connection (queues,
// buffer limits, congestion state), read through NETLINK_SOCK_DIAG, and a
// link's qdisc backlog read through rtnetlink. This is what `ss -tmi` and
// `tc -s qdisc` show, but cheap enough to ask for every 10 ms.
#pragma once

#include <cstdint>
#include <vector>

struct LabSock {
    int family = 0;         // AF_INET or AF_INET6
    uint8_t local[16] = {}; // address in network order (4 bytes used for AF_INET)
    uint8_t remote[16] = {};
    int lport = 0, rport = 0;
    int state = 0;        // TCP_ESTABLISHED ...
    uint64_t cookie = 0;  // tells one connection from a later one on the same ports
    uint32_t sendq = 0;   // bytes written but not acknowledged, unsent included
    uint32_t recvq = 0;   // bytes received but not yet read
    bool hasinfo = false; // the fields below came with the reply
    uint32_t unsent = 0;  // of sendq, bytes not yet handed to the network
    uint32_t unacked = 0; // segments in flight
    uint32_t mss = 0;
    uint32_t cwnd = 0;    // segments
    uint32_t rtt_us = 0;  // smoothed round-trip time
    uint32_t retrans = 0; // total retransmitted segments
    uint64_t bytes_received = 0;
    uint64_t bytes_acked = 0;
    bool hasmem = false;
    uint32_t sndbuf = 0, rcvbuf = 0; // the socket's buffer limits, bytes
    uint32_t wmem_queued = 0;        // memory the send queue takes, overheads included
};

// Connection states the sampler asks for: every one but LISTEN and TIME_WAIT,
// which hold no queues worth watching.
extern const uint32_t kLabStates;

// A NETLINK_SOCK_DIAG socket in the caller's network namespace. A socket stays
// bound to the namespace it was opened in, so one per namespace is enough.
// -1 with errno set when the kernel refuses.
int diag_open();

// Every TCP connection (IPv4 and IPv6) whose local or remote port is `port`
// (0: all) and whose state is in `states` (bit 1 << state). Replaces `out`'s
// contents. 0, or -1 with errno set.
int diag_query(int fd, int port, uint32_t states, std::vector<LabSock>& out);

// Reads the connection `known` (from an earlier query) again by its
// addresses and ports: one hash lookup in the kernel, where a query by port
// walks every connection of the host. 0 with `out` filled; -1 with errno
// ENOENT (or ESTALE) when it is gone, or another errno on failure.
int diag_lookup(int fd, const LabSock& known, LabSock& out);

// An rtnetlink socket in the caller's network namespace; -1 on failure.
int qdisc_open();

// The backlog in bytes of the root qdisc of interface `ifindex`; -1 when it
// cannot be read.
int64_t qdisc_backlog(int fd, int ifindex);

// "127.0.0.1:5000" or "[::1]:5000"; IPv4-mapped IPv6 addresses shown as IPv4.
// Returns the length written; `size` 64 is always enough.
int labsock_endpoint(const LabSock& s, bool local, char* buf, int size);

// The kernel's short name of a TCP state ("ESTAB", "SYN-SENT" ...).
const char* tcpstate_name(int state);
