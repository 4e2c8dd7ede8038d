// SPDX-License-Identifier: MIT
// Socket addresses: the ipvn record, host texts, and the peer address of real
// loopback connections over IPv4, IPv6 and a dual-stack IPv6 listener.
#include "pacelag/util.h"

#include <arpa/inet.h>
#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
const unsigned char zeros[16] = {};

// An IPv6 socket address if the text has a colon, else an IPv4 one.
sockaddr_storage addr(const char* text, uint32_t scope = 0, in_port_t port = 0) {
    sockaddr_storage ss{};
    auto* in = reinterpret_cast<sockaddr_in*>(&ss);
    auto* in6 = reinterpret_cast<sockaddr_in6*>(&ss);
    if (std::strchr(text, ':') == nullptr) {
        in->sin_family = AF_INET;
        in->sin_port = port;
        EXPECT_EQ(inet_pton(AF_INET, text, &in->sin_addr), 1);
    } else {
        in6->sin6_family = AF_INET6;
        in6->sin6_port = port;
        in6->sin6_scope_id = scope;
        EXPECT_EQ(inet_pton(AF_INET6, text, &in6->sin6_addr), 1);
    }
    return ss;
}

sockaddr* sa(sockaddr_storage& ss) {
    return reinterpret_cast<sockaddr*>(&ss);
}
socklen_t salen(const sockaddr_storage& ss) {
    return ss.ss_family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
}

// Closes its descriptor on every path out of a test.
struct Fd {
    int fd = -1;
    ~Fd() {
        if (fd >= 0) close(fd);
    }
};

// Connects to a listener on `listenaddr` from `connectaddr` and returns what
// accept() reports as the peer. False when the family is unavailable here.
bool loopbackpeer(const char* listenaddr, const char* connectaddr, bool dualstack,
                  sockaddr_storage& peer) {
    Fd listener, client, server;
    sockaddr_storage at = addr(listenaddr);
    socklen_t len = salen(at);
    listener.fd = socket(at.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener.fd < 0) return false;
    int v6only = dualstack ? 0 : 1;
    if (at.ss_family == AF_INET6)
        setsockopt(listener.fd, IPPROTO_IPV6, IPV6_V6ONLY, &v6only, sizeof v6only);
    if (bind(listener.fd, sa(at), len) != 0) return false;
    EXPECT_EQ(listen(listener.fd, 1), 0);
    EXPECT_EQ(getsockname(listener.fd, sa(at), &len), 0);
    // The port sits at the same offset in both families.
    sockaddr_storage to = addr(connectaddr, 0, reinterpret_cast<sockaddr_in*>(&at)->sin_port);
    client.fd = socket(to.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (client.fd < 0 || connect(client.fd, sa(to), salen(to)) != 0) return false;
    pollfd p{listener.fd, POLLIN, 0};
    if (poll(&p, 1, 5000) != 1) return false;
    socklen_t peerlen = sizeof peer;
    server.fd = accept(listener.fd, sa(peer), &peerlen);
    return server.fd >= 0;
}
} // namespace

TEST(SockaddrRecord, FromSocketAddress) {
    sockaddr_storage other{};
    other.ss_family = AF_UNIX;
    struct {
        sockaddr_storage ss;
        const char* text; // as ipvn2str writes it
    } cases[] = {{addr("192.0.2.1"), "192.0.2.1"},
                 {addr("::ffff:192.0.2.1"), "192.0.2.1"},
                 {addr("2001:db8::1"), "2001:DB8::1"},
                 {other, nullptr}}; // another family: all zero
    for (auto& c : cases) {
        ipvn rec;
        std::memset(&rec, 0xAA, sizeof rec);
        sockaddr2ipvn(sa(c.ss), &rec);
        if (c.text == nullptr) {
            EXPECT_EQ(std::memcmp(rec.v6, zeros, 16), 0);
            continue;
        }
        if (c.ss.ss_family == AF_INET) {
            EXPECT_EQ(rec.v4, 0xC0000201u);
            EXPECT_EQ(std::memcmp(rec.v6 + 4, zeros, 12), 0);
        } else {
            EXPECT_EQ(std::memcmp(rec.v6, &reinterpret_cast<sockaddr_in6*>(&c.ss)->sin6_addr, 16),
                      0);
        }
        char buf[40];
        EXPECT_EQ(ipvn2str(buf, &rec, c.ss.ss_family), static_cast<int>(std::strlen(c.text)));
        EXPECT_STREQ(buf, c.text);
    }
}

TEST(SockaddrHost, Unmap) {
    const char* cases[][2] = {
        {"2001:db8::1", "2001:db8::1"},
        {"fe80::1%eth0", "fe80::1"},
        {"::FFFF:10.0.0.1", "10.0.0.1"},
        {"::fFfF:10.0.0.1%lo", "10.0.0.1"},
        {"::ffff", "::ffff"},
        {"::ffff:", ""},
        {"::192.0.2.1", "::192.0.2.1"},
        {"::ffff:1:2:3", "::ffff:1:2:3"},
        {"::FFFF:ffff:ffff:ffff:ffff:ffff", "::FFFF:ffff:ffff:ffff:ffff:ffff"},
        {"%x", ""},
        {"", ""}};
    for (const auto& c : cases) {
        char buf[32];
        std::strcpy(buf, c[0]);
        hostunmap(buf);
        EXPECT_STREQ(buf, c[1]) << c[0];
    }
}

TEST(SockaddrHost, NumericText) {
    struct {
        sockaddr_storage ss;
        int hostlen;
        int rc;
        const char* host;
    } cases[] = {
        {addr("192.0.2.1"), 64, 0, "192.0.2.1"},
        {addr("::ffff:192.0.2.1"), 64, 0, "192.0.2.1"},
        {addr("::192.0.2.1"), 64, 0, "::192.0.2.1"},
        {addr("::ffff:1:2:3:4:5"), 64, 0, "::ffff:1:2:3:4:5"}, // not a mapped address
        {addr("fe80::1", if_nametoindex("lo")), 64, 0, "fe80::1"},
        {addr("192.0.2.1"), 5, EAI_OVERFLOW, ""},
        {addr("192.0.2.1"), 1, EAI_OVERFLOW, ""},
        {addr("192.0.2.1"), 0, EAI_OVERFLOW, nullptr},
        {addr("192.0.2.1"), -1, EAI_OVERFLOW, nullptr},
    };
    for (auto& c : cases) {
        char host[65] = {};
        std::memset(host, 'x', 64);
        EXPECT_EQ(sockaddr2host(sa(c.ss), host, c.hostlen), c.rc);
        // Without room even for the empty text nothing is written at all.
        EXPECT_STREQ(host, c.host ? c.host : std::string(64, 'x').c_str());
    }
}

TEST(SockaddrLoopback, PeerOfRealConnections) {
    const unsigned char mapped[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 127, 0, 0, 1};
    struct {
        const char* listenaddr;
        const char* connectaddr;
        bool dualstack;
        const char* host;
    } cases[] = {{"127.0.0.1", "127.0.0.1", false, "127.0.0.1"},
                 {"::1", "::1", false, "::1"},
                 {"::", "127.0.0.1", true, "127.0.0.1"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.connectaddr);
        if (c.dualstack && !ipv6dualstack()) {
            ADD_FAILURE() << "no dual-stack IPv6 sockets on this host";
            continue;
        }
        sockaddr_storage peer{};
        if (!loopbackpeer(c.listenaddr, c.connectaddr, c.dualstack, peer)) {
            ASSERT_NE(std::strchr(c.listenaddr, ':'), nullptr) << "loopback connection failed";
            std::printf("skipped: no IPv6 loopback for %s\n", c.connectaddr);
            continue;
        }
        ASSERT_EQ(peer.ss_family, addr(c.listenaddr).ss_family);
        char host[NI_MAXHOST], text[40];
        EXPECT_EQ(sockaddr2host(sa(peer), host, sizeof host), 0);
        EXPECT_STREQ(host, c.host);
        ipvn rec;
        sockaddr2ipvn(sa(peer), &rec);
        ipvn2str(text, &rec, peer.ss_family);
        EXPECT_STREQ(text, c.host);
        EXPECT_TRUE(peer.ss_family != AF_INET || rec.v4 == 0x7F000001u) << rec.v4;
        EXPECT_TRUE(!c.dualstack || std::memcmp(rec.v6, mapped, 16) == 0);
    }
}
