// Shared parts of the pacelag tool: the pacing values derived from a rate, the
// two loops' entry points, and the small helpers both loops use to read the
// stop flag and to print.
#pragma once

#include <cstdint>

#include "check.h"

struct addrinfo;

// Interval in nanoseconds (1e9 / rate, truncated) and print cadence (rate / 24,
// at least 1). The back-off is half the interval. Kept inline, like the other
// pure pacing rules here, so the unit tests use them without the tool's binary.
inline void compute_pacing(int rate, int64_t& interval, int& cadence) {
    UTIL_CHECK(rate >= 1);
    interval = static_cast<int64_t>(1000000000 / rate);
    cadence = rate / 24;
    if (cadence == 0) cadence = 1;
}

// Both loops return 0 after a stop and -1 after a failure; they only return
// once `stop` is set or something failed. padlen is 0..4000.
int pacelag_client(const addrinfo* entry, const char* host, int port, int buflen, int padlen,
                   int rate, bool& stop);
int pacelag_server(int port, int buflen, int padlen, int rate, bool& stop);

// The stop flag is a plain bool that a signal handler sets. Every access goes
// through these atomic builtins so that the handler's store and the loops'
// loads are single lock-free byte accesses the compiler cannot cache or tear.
inline bool stopped(const bool& flag) {
    return __atomic_load_n(&flag, __ATOMIC_RELAXED);
}
inline void setstop(bool& flag) {
    __atomic_store_n(&flag, true, __ATOMIC_RELAXED);
}

// printf followed by a flush: every line and mark must be visible when it
// happens, also when standard output is a pipe or a file.
void say(const char* format, ...) __attribute__((format(printf, 1, 2)));
