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

sockaddr_storage v4addr(const char* text) {
    sockaddr_storage ss{};
    auto* in = reinterpret_cast<sockaddr_in*>(&ss);
    in->sin_family = AF_INET;
    EXPECT_EQ(inet_pton(AF_INET, text, &in->sin_addr), 1);
    return ss;
}

sockaddr_storage v6addr(const char* text, uint32_t scope = 0) {
    sockaddr_storage ss{};
    auto* in6 = reinterpret_cast<sockaddr_in6*>(&ss);
    in6->sin6_family = AF_INET6;
    in6->sin6_scope_id = scope;
    EXPECT_EQ(inet_pton(AF_INET6, text, &in6->sin6_addr), 1);
    return ss;
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
bool loopbackpeer(int family, const char* listenaddr, const char* connectaddr, bool dualstack,
                  sockaddr_storage& peer) {
    Fd listener, client, server;
    listener.fd = socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener.fd < 0) return false;
    sockaddr_storage at = family == AF_INET ? v4addr(listenaddr) : v6addr(listenaddr);
    socklen_t len = family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
    if (family == AF_INET6) {
        int v6only = dualstack ? 0 : 1;
        setsockopt(listener.fd, IPPROTO_IPV6, IPV6_V6ONLY, &v6only, sizeof v6only);
    }
    if (bind(listener.fd, reinterpret_cast<sockaddr*>(&at), len) != 0) return false;
    EXPECT_EQ(listen(listener.fd, 1), 0);
    EXPECT_EQ(getsockname(listener.fd, reinterpret_cast<sockaddr*>(&at), &len), 0);
    in_port_t port = family == AF_INET ? reinterpret_cast<sockaddr_in*>(&at)->sin_port
                                       : reinterpret_cast<sockaddr_in6*>(&at)->sin6_port;

    int cfamily = std::strchr(connectaddr, ':') ? AF_INET6 : AF_INET;
    sockaddr_storage to = cfamily == AF_INET ? v4addr(connectaddr) : v6addr(connectaddr);
    if (cfamily == AF_INET) {
        reinterpret_cast<sockaddr_in*>(&to)->sin_port = port;
    } else {
        reinterpret_cast<sockaddr_in6*>(&to)->sin6_port = port;
    }
    client.fd = socket(cfamily, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (client.fd < 0) return false;
    // A loopback connect to a listening socket completes at once; the poll
    // below bounds the wait for accept in any case.
    if (connect(client.fd, reinterpret_cast<sockaddr*>(&to),
                cfamily == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6)) != 0) {
        return false;
    }
    pollfd p{listener.fd, POLLIN, 0};
    if (poll(&p, 1, 5000) != 1) return false;
    socklen_t peerlen = sizeof peer;
    server.fd = accept(listener.fd, reinterpret_cast<sockaddr*>(&peer), &peerlen);
    return server.fd >= 0;
}
} // namespace

TEST(SockaddrRecord, FromSocketAddress) {
    sockaddr_storage a4 = v4addr("192.0.2.1");
    sockaddr_storage mapped = v6addr("::ffff:192.0.2.1");
    sockaddr_storage a6 = v6addr("2001:db8::1");
    sockaddr_storage other{};
    other.ss_family = AF_UNIX;

    ipvn rec;
    std::memset(&rec, 0xAA, sizeof rec);
    sockaddr2ipvn(reinterpret_cast<sockaddr*>(&a4), &rec);
    EXPECT_EQ(rec.v4, 0xC0000201u);
    EXPECT_EQ(std::memcmp(rec.v6 + 4, zeros, 12), 0);
    char buf[40];
    EXPECT_EQ(ipvn2str(buf, &rec, AF_INET), 9);
    EXPECT_STREQ(buf, "192.0.2.1");

    struct {
        sockaddr_storage* sa;
        const char* text;
    } v6cases[] = {{&mapped, "192.0.2.1"}, {&a6, "2001:DB8::1"}};
    for (const auto& c : v6cases) {
        sockaddr2ipvn(reinterpret_cast<sockaddr*>(c.sa), &rec);
        EXPECT_EQ(std::memcmp(rec.v6, &reinterpret_cast<sockaddr_in6*>(c.sa)->sin6_addr, 16), 0);
        EXPECT_EQ(ipvn2str(buf, &rec, AF_INET6), static_cast<int>(std::strlen(c.text)));
        EXPECT_STREQ(buf, c.text);
    }

    std::memset(&rec, 0xAA, sizeof rec);
    sockaddr2ipvn(reinterpret_cast<sockaddr*>(&other), &rec);
    EXPECT_EQ(std::memcmp(rec.v6, zeros, 16), 0);
}

TEST(SockaddrHost, Unmap) {
    struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"10.0.0.1", "10.0.0.1"},
        {"2001:db8::1", "2001:db8::1"},
        {"fe80::1%eth0", "fe80::1"},
        {"::FFFF:10.0.0.1", "10.0.0.1"},
        {"::ffff:10.0.0.1", "10.0.0.1"},
        {"::fFfF:10.0.0.1%lo", "10.0.0.1"},
        {"::ffff", "::ffff"},
        {"::ffff:", ""},
        {"::192.0.2.1", "::192.0.2.1"},
        {"%x", ""},
        {"", ""},
    };
    for (const auto& c : cases) {
        char buf[32];
        std::strcpy(buf, c.in);
        hostunmap(buf);
        EXPECT_STREQ(buf, c.out) << c.in;
    }
}

TEST(SockaddrHost, NumericText) {
    unsigned lo = if_nametoindex("lo");
    sockaddr_storage a4 = v4addr("192.0.2.1");
    sockaddr_storage mapped = v6addr("::ffff:192.0.2.1");
    sockaddr_storage compat = v6addr("::192.0.2.1");
    sockaddr_storage linklocal = v6addr("fe80::1", lo);
    struct {
        sockaddr_storage* sa;
        int hostlen;
        int rc;
        const char* host;
    } cases[] = {
        {&a4, 64, 0, "192.0.2.1"},       {&mapped, 64, 0, "192.0.2.1"},
        {&compat, 64, 0, "::192.0.2.1"}, {&linklocal, 64, 0, "fe80::1"},
        {&a4, 5, EAI_OVERFLOW, ""},      {&a4, 1, EAI_OVERFLOW, ""},
    };
    for (const auto& c : cases) {
        char host[64];
        std::memset(host, 'x', sizeof host);
        EXPECT_EQ(sockaddr2host(reinterpret_cast<sockaddr*>(c.sa), host, c.hostlen), c.rc);
        EXPECT_STREQ(host, c.host);
    }
    // No room even for the empty text: nothing is written at all.
    char untouched[2] = {'x', '\0'};
    EXPECT_NE(sockaddr2host(reinterpret_cast<sockaddr*>(&a4), untouched, 0), 0);
    EXPECT_NE(sockaddr2host(reinterpret_cast<sockaddr*>(&a4), untouched, -1), 0);
    EXPECT_STREQ(untouched, "x");
}

TEST(SockaddrLoopback, PeerOfRealConnections) {
    struct {
        int family;
        const char* listenaddr;
        const char* connectaddr;
        bool dualstack;
        const char* host;
        int recfamily;
    } cases[] = {
        {AF_INET, "127.0.0.1", "127.0.0.1", false, "127.0.0.1", AF_INET},
        {AF_INET6, "::1", "::1", false, "::1", AF_INET6},
        {AF_INET6, "::", "127.0.0.1", true, "127.0.0.1", AF_INET6},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.connectaddr);
        if (c.dualstack && !ipv6dualstack()) {
            ADD_FAILURE() << "no dual-stack IPv6 sockets on this host";
            continue;
        }
        sockaddr_storage peer{};
        if (!loopbackpeer(c.family, c.listenaddr, c.connectaddr, c.dualstack, peer)) {
            if (c.family == AF_INET6) { // no IPv6 loopback here
                std::printf("skipped: no IPv6 loopback for %s\n", c.connectaddr);
                continue;
            }
            FAIL() << "loopback connection failed";
        }
        ASSERT_EQ(peer.ss_family, c.family);
        char host[NI_MAXHOST];
        EXPECT_EQ(sockaddr2host(reinterpret_cast<sockaddr*>(&peer), host, sizeof host), 0);
        EXPECT_STREQ(host, c.host);

        ipvn rec;
        sockaddr2ipvn(reinterpret_cast<sockaddr*>(&peer), &rec);
        char text[40];
        ipvn2str(text, &rec, peer.ss_family);
        EXPECT_STREQ(text, c.host);
        if (c.recfamily == AF_INET) {
            EXPECT_EQ(rec.v4, 0x7F000001u);
        } else if (c.dualstack) {
            const unsigned char want[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 127, 0, 0, 1};
            EXPECT_EQ(std::memcmp(rec.v6, want, 16), 0);
        }
    }
}
