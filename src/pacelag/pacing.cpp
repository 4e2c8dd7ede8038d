// SPDX-License-Identifier: MIT
// The tool's real clock for pacing, and its output helper.
#include "pacing.h"

#include "pacelag/util.h"

#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <sys/prctl.h>

MonotonicClock::MonotonicClock() {
    // The default slack of 50 us would make every timed sleep wake late by
    // that much; the schedule wants its deadlines kept.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    latency = measure_latency(*this);
}

int64_t MonotonicClock::now() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

void MonotonicClock::sleepuntil(int64_t deadline) {
    timespec ts;
    ts.tv_sec = static_cast<time_t>(deadline / 1000000000);
    ts.tv_nsec = static_cast<long>(deadline % 1000000000);
    // Returns early on a signal; the caller then looks at the stop flag.
    clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr);
}

void say(const char* format, ...) {
    va_list args;
    va_start(args, format);
    vprintf(format, args);
    va_end(args);
    fflush(stdout);
}

int setupfailed(int fd, const char* after, const char* what, ...) {
    const char* why = lasterrtext();
    va_list args;
    va_start(args, what);
    vprintf(what, args);
    va_end(args);
    say(": %s\n%s", why, after);
    closefd(fd);
    return -1;
}
