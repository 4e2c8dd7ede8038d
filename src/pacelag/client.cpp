// SPDX-License-Identifier: MIT
// The client loop: connect once, then in every slot of the schedule drain the
// echoes, build a time-stamped test message and send it without ever blocking. A message that
// finds the send queue full is dropped whole; one that went out in part is
// finished with back-off sleeps.
#include "output.h"
#include "pacing.h"

#include "pacelag/util.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace {
// After a set-up failure: the empty line the loop always leaves after an error.
const char kAfterFailure[] = "\n";
} // namespace

int pacelag_client(const addrinfo* entry, const char* host, int port, int buflen, int padlen,
                   int rate, bool& stop) {
    UTIL_CHECK(entry != nullptr);
    UTIL_CHECK(host != nullptr);
    UTIL_CHECK(padlen >= 0 && padlen <= 4000);

    int64_t interval = 0;
    int cadence = 1;
    compute_pacing(rate, interval, cadence);
    const int64_t backoff = interval / 2;
    MonotonicClock clock;

    int fd = socket(entry->ai_family, SOCK_STREAM, IPPROTO_TCP);
    if (fd < 0)
        return setupfailed(-1, kAfterFailure, PACELAG_ERROR_PREFIX " Socket allocation failed");
    // The connect blocks. A stop signal during it interrupts it (the handler
    // is installed without SA_RESTART): that is still reported, but it is a
    // stop, not a failure. A stop that came earlier ends the client here.
    if (stopped(stop)) {
        closefd(fd);
        return 0;
    }
    if (connect(fd, entry->ai_addr, entry->ai_addrlen) != 0) {
        bool interrupted = lasterror() == EINTR && stopped(stop);
        setupfailed(fd, kAfterFailure, PACELAG_ERROR_PREFIX " connect failed to %s on port %d",
                    host, port);
        return interrupted ? 0 : -1;
    }
    if (buflen > 0 && setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &buflen, sizeof buflen) < 0)
        return setupfailed(fd, kAfterFailure,
                           PACELAG_ERROR_PREFIX " Failed to set send buffer to %d", buflen);
    if (setblocking(fd, false) != 0)
        return setupfailed(fd, kAfterFailure,
                           PACELAG_ERROR_PREFIX " Failed to make socket nonblocking");

    char buffer[4096];
    uint32_t count = 0;
    Pacer pacer;
    pacer_start(pacer, interval, clock.latency, clock.now());
    while (!stopped(stop)) {
        // A stop during the wait ends the pass with nothing sent and no mark:
        // "." means a full send queue, not a stop.
        if (!pacer_wait(pacer, clock, stop)) break;

        // Echoes only need to leave the receive queue; what the drain finds,
        // including errors and end of stream, does not matter here.
        (void)recv(fd, buffer, sizeof buffer, 0);

        int len = snprintf(buffer, sizeof buffer, "%lld", static_cast<long long>(time(nullptr)));
        memset(buffer + len, '#', static_cast<size_t>(padlen));
        len += padlen;

        int sent = 0;
        bool full = false; // dropped whole on a full send queue
        while (sent < len && !stopped(stop)) {
            // MSG_NOSIGNAL: a vanished peer must come back as EPIPE, not kill us.
            ssize_t n = send(fd, buffer + sent, static_cast<size_t>(len - sent), MSG_NOSIGNAL);
            if (n >= 0) {
                sent += static_cast<int>(n);
                continue;
            }
            int err = lasterror();
            if (err == EAGAIN || err == EWOULDBLOCK) {
                if (sent == 0) { // the queue is full: drop this message whole
                    full = true;
                    break;
                }
                sleepns(backoff);
            } else if (err != EINTR) {
                say("\n" PACELAG_ERROR_PREFIX " send failed: %s\n\n", errtext(err));
                closefd(fd);
                return -1;
            }
        }

        // A stop before any byte went out cut the pass; that is no drop.
        if (sent == 0 && !full) break;
        if (count % static_cast<uint32_t>(cadence) == 0)
            say("%c", sent == len ? kMarkSent : kMarkDropped);
        ++count;
    }

    say("\n");
    closefd(fd);
    return 0;
}
