// SPDX-License-Identifier: MIT
// Socket addresses: the 16-byte ipvn record, numeric host text of a peer with
// zone and IPv4-mapped prefix removed, and the dual-stack probe.
#include "pacelag/util.h"

#include "check.h"

#include <arpa/inet.h>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

static_assert(sizeof(ipvn) == 16, "ipvn is exactly 16 bytes");

void sockaddr2ipvn(const sockaddr* sa, ipvn* rec) {
    UTIL_CHECK(sa != nullptr && rec != nullptr);
    std::memset(rec, 0, sizeof *rec);
    if (sa->sa_family == AF_INET) {
        sockaddr_in in4;
        std::memcpy(&in4, sa, sizeof in4);
        rec->v4 = ntohl(in4.sin_addr.s_addr);
    } else if (sa->sa_family == AF_INET6) {
        sockaddr_in6 in6;
        std::memcpy(&in6, sa, sizeof in6);
        std::memcpy(rec->v6, &in6.sin6_addr, 16);
    }
}

int ipvn2str(char* buf, const ipvn* rec, int family) {
    UTIL_CHECK(buf != nullptr && rec != nullptr);
    if (family == AF_INET6) return ipv6addr2str(buf, rec->v6);
    return ipv4num2str(buf, rec->v4);
}

int sockaddr2host(const sockaddr* sa, char* host, int hostlen) {
    UTIL_CHECK(sa != nullptr && host != nullptr);
    // There is nowhere to put even the empty text; a negative length must not
    // reach getnameinfo, where it would turn into a huge buffer size.
    if (hostlen < 1) return EAI_OVERFLOW;
    host[0] = '\0';
    socklen_t salen = sa->sa_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
    int rc =
        getnameinfo(sa, salen, host, static_cast<socklen_t>(hostlen), nullptr, 0, NI_NUMERICHOST);
    if (rc == 0) hostunmap(host);
    return rc;
}

void hostunmap(char* host) {
    UTIL_CHECK(host != nullptr);
    char* zone = std::strchr(host, '%');
    if (zone != nullptr) *zone = '\0';
    // Only a mapped IPv4 address has a dotted remainder; "::ffff:1:2:3" is a
    // different IPv6 address and dropping its first groups would name another.
    if (strncasecmp(host, "::ffff:", 7) == 0 && std::strchr(host + 7, ':') == nullptr) {
        char scratch[64];
        strcopy(scratch, host + 7, sizeof scratch);
        std::strcpy(host, scratch);
    }
}

bool ipv6dualstack() {
    int fd = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) return false;
    int off = 0;
    bool dual = setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off) == 0;
    close(fd);
    return dual;
}
