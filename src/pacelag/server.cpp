// SPDX-License-Identifier: MIT
// The server loop: listen dual-stack on one port, serve one connection at a
// time, read whole test messages at the configured rate, print the age of every
// cadence-th one and echo the first half of each back.
#include "output.h"
#include "pacing.h"

#include "pacelag/util.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
// After a set-up failure: the status line the server always prints after one.
const char kAfterFailure[] = PACELAG_READY_LINE "\n";

// Seconds between the message's timestamp and now. The timestamp comes off the
// wire, so it may be any 64-bit value; the difference saturates instead of
// overflowing.
long long messageage(long long stamp) {
    long long now = static_cast<long long>(time(nullptr));
    long long age = 0;
    if (__builtin_sub_overflow(now, stamp, &age)) age = stamp < 0 ? LLONG_MAX : LLONG_MIN;
    return age;
}

// Serves one accepted connection until the peer goes, a message is faulty,
// the client stays silent for `idle` seconds (0: no limit) or the stop flag is
// set. `count` is the message counter that outlives it.
void serve(int conn, int padlen, int64_t interval, int cadence, int idle, uint32_t& count,
           MonotonicClock& clock, bool& stop) {
    const int64_t backoff = interval / 2;
    const int64_t idlelimit = static_cast<int64_t>(idle) * 1000000000;
    const int msglen = padlen + 10;
    char buffer[4096];
    Pacer pacer;
    pacer_start(pacer, interval, clock.latency, clock.now());
    // Silence is only measured when a read finds the queue empty, and counted
    // from the last read that returned bytes: a byte cannot have arrived later
    // than that read, so a client is never dropped early.
    int64_t lastbyte = clock.now();
    for (;;) {
        if (!pacer_wait(pacer, clock, stop)) return;

        int got = 0;
        while (got < msglen) {
            ssize_t n = recv(conn, buffer + got, static_cast<size_t>(msglen - got), 0);
            if (n == 0) {
                say("Connection closed\n");
                return;
            }
            if (n > 0) {
                got += static_cast<int>(n);
                if (idlelimit > 0) lastbyte = clock.now();
            } else {
                int err = lasterror();
                if (err == EAGAIN || err == EWOULDBLOCK) {
                    if (idlelimit > 0 && clock.now() - lastbyte >= idlelimit) {
                        say("[WARNING] No data for %d seconds, closing the connection\n", idle);
                        return;
                    }
                    sleepns(backoff);
                } else if (err != EINTR) {
                    say("[WARNING] Receive failure: %s\n", errtext(err));
                    return;
                }
            }
            // A message that has just become whole is still served.
            if (got < msglen && stopped(stop)) return;
        }

        buffer[msglen] = '\0';
        long long stamp = 0;
        int parsed = sscanf(buffer, "%lld", &stamp);
        if (parsed != 1) {
            say(PACELAG_ERROR_PREFIX " rx parse failed: %d\n", parsed);
            return;
        }
        if (count++ % static_cast<uint32_t>(cadence) == 0)
            say(PACELAG_AGE_FORMAT, messageage(stamp));

        // One attempt; a short or refused echo is simply dropped.
        if (send(conn, buffer, static_cast<size_t>(msglen / 2), MSG_NOSIGNAL) < 0) {
            int err = lasterror();
            if (err != EAGAIN && err != EWOULDBLOCK) {
                say("[WARNING] Send failure: %s\n", errtext(err));
                return;
            }
        }
        if (stopped(stop)) return;
    }
}
} // namespace

int pacelag_server(int port, int buflen, int padlen, int rate, bool& stop, int idle) {
    UTIL_CHECK(padlen >= 0 && padlen <= 4000);

    int64_t interval = 0;
    int cadence = 1;
    compute_pacing(rate, interval, cadence);
    MonotonicClock clock;

    int fd = socket(AF_INET6, SOCK_STREAM, IPPROTO_TCP);
    if (fd < 0)
        return setupfailed(-1, kAfterFailure, PACELAG_ERROR_PREFIX " Socket allocation failed");
    int off = 0;
    if (setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off) != 0)
        return setupfailed(fd, kAfterFailure, PACELAG_ERROR_PREFIX " Set dualstack socket failed");
    int on = 1;
    if (setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0)
        return setupfailed(fd, kAfterFailure, PACELAG_ERROR_PREFIX " Set reuse address failed");
    if (setblocking(fd, false) != 0)
        return setupfailed(fd, kAfterFailure,
                           PACELAG_ERROR_PREFIX " Failed to enter nonblocking mode");
    // Accepted sockets take their receive buffer from the listener's; it is
    // set again on each of them below. Failing here is not fatal.
    if (buflen > 0 && setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buflen, sizeof buflen) < 0) {
        const char* why = lasterrtext();
        say(PACELAG_ERROR_PREFIX " Failed to set receive buffer to %d: %s\n", buflen, why);
    }
    sockaddr_in6 addr;
    memset(&addr, 0, sizeof addr);
    addr.sin6_family = AF_INET6;
    addr.sin6_port = htons(static_cast<uint16_t>(port));
    addr.sin6_addr = in6addr_any;
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
        return setupfailed(fd, kAfterFailure, PACELAG_BIND_FAILED, port);
    if (listen(fd, 128) != 0)
        return setupfailed(fd, kAfterFailure, PACELAG_ERROR_PREFIX " Could not listen on port %d",
                           port);

    say(PACELAG_READY_LINE "\n");
    uint32_t count = 0;
    while (!stopped(stop)) {
        // Take every waiting connection at once: sleeping before each accept
        // would let a burst of dead connections hold a real client back for
        // a quarter second each. Only an empty queue waits, so the server
        // still looks for a new client four times a second when idle; other
        // failures (out of descriptors) wait too rather than spin.
        int conn = accept(fd, nullptr, nullptr);
        if (conn == -1) {
            int err = lasterror();
            if (err != ECONNABORTED && err != EINTR) usleep(250000);
            continue;
        }
        say("Accepted connection..\n");
        if (setblocking(conn, false) != 0) {
            // Closed without a message.
        } else if (buflen > 0 &&
                   setsockopt(conn, SOL_SOCKET, SO_RCVBUF, &buflen, sizeof buflen) < 0) {
            const char* why = lasterrtext();
            say(PACELAG_ERROR_PREFIX " Failed to set receive buffer to %d: %s\n", buflen, why);
        } else if (!stopped(stop)) {
            serve(conn, padlen, interval, cadence, idle, count, clock, stop);
        }
        closefd(conn);
        say(PACELAG_READY_LINE "\n");
    }
    closefd(fd);
    return 0;
}
