// SPDX-License-Identifier: MIT
// Reading and writing the ADDRESS:PORT a server listens on.
#include "listen_address.h"

#include <arpa/inet.h>
#include <cstdlib>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>

bool parse_listen_address(const char* text, sockaddr_storage& addr, socklen_t& len,
                          std::string& error) {
    const std::string all = text != nullptr ? text : "";
    error = "-metrics needs ADDRESS:PORT with a numeric address, such as 127.0.0.1:9464 or "
            "[::1]:9464, not '" +
            all + "'";
    std::string host, port;
    if (!all.empty() && all[0] == '[') {
        size_t close = all.find(']');
        if (close == std::string::npos || close + 1 >= all.size() || all[close + 1] != ':')
            return false;
        host = all.substr(1, close - 1);
        port = all.substr(close + 2);
    } else {
        size_t colon = all.rfind(':');
        if (colon == std::string::npos || all.find(':') != colon) return false;
        host = all.substr(0, colon);
        port = all.substr(colon + 1);
    }
    if (host.empty() || port.empty() || port.size() > 5 ||
        port.find_first_not_of("0123456789") != std::string::npos || atoi(port.c_str()) > 65535)
        return false;
    addrinfo hints;
    memset(&hints, 0, sizeof hints);
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV | AI_PASSIVE;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), port.c_str(), &hints, &found) != 0 || found == nullptr)
        return false;
    memset(&addr, 0, sizeof addr);
    memcpy(&addr, found->ai_addr, found->ai_addrlen);
    len = found->ai_addrlen;
    freeaddrinfo(found);
    error.clear();
    return true;
}

std::string address_text(const sockaddr_storage& a) {
    char host[INET6_ADDRSTRLEN] = "";
    if (a.ss_family == AF_INET6) {
        const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&a);
        inet_ntop(AF_INET6, &v6->sin6_addr, host, sizeof host);
        return std::string("[") + host + "]:" + std::to_string(ntohs(v6->sin6_port));
    }
    const auto* v4 = reinterpret_cast<const sockaddr_in*>(&a);
    inet_ntop(AF_INET, &v4->sin_addr, host, sizeof host);
    return std::string(host) + ":" + std::to_string(ntohs(v4->sin_port));
}
