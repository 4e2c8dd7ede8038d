// SPDX-License-Identifier: MIT
// The ADDRESS:PORT a server listens on: "127.0.0.1:9464" or "[::1]:9464".
#pragma once

#include <string>
#include <sys/socket.h>

// Numeric addresses only (no name is looked up); port 0 to 65535, 0 taking
// any free port. False with a message in `error`.
bool parse_listen_address(const char* text, sockaddr_storage& addr, socklen_t& len,
                          std::string& error);

// The address as parse_listen_address reads it.
std::string address_text(const sockaddr_storage& addr);
