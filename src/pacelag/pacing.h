// SPDX-License-Identifier: MIT
// Shared parts of the pacelag tool: the pacing values derived from a rate, the
// schedule both loops keep, their entry points, and the small helpers both
// use to read the stop flag and to print.
#pragma once

#include <cstdint>

#include "check.h"
#include "output.h"

struct addrinfo;

// The stop flag is a plain bool that a signal handler sets. Every access goes
// through these atomic builtins so that the handler's store and the loops'
// loads are single lock-free byte accesses the compiler cannot cache or tear.
inline bool stopped(const bool& flag) {
    return __atomic_load_n(&flag, __ATOMIC_RELAXED);
}
inline void setstop(bool& flag) {
    __atomic_store_n(&flag, true, __ATOMIC_RELAXED);
}

// Interval in nanoseconds (1e9 / rate, truncated) and print cadence (rate / 24,
// at least 1). The back-off is half the interval. Kept inline, like the other
// pure pacing rules here, so the unit tests use them without the tool's binary.
inline void compute_pacing(int rate, int64_t& interval, int& cadence) {
    UTIL_CHECK(rate >= 1);
    interval = static_cast<int64_t>(1000000000 / rate);
    cadence = print_cadence(rate);
}

// Both loops pace their steps by a schedule of slots on a monotonic clock:
// each slot is the previous one plus one interval, so the time a step takes
// does not slow the rate down. Lost time is not caught up in a burst: when a
// pass ends later than its next slot by more than max(interval, 100 us), the
// schedule restarts from the current time.
//
// The clock is an interface so that the schedule can be tested without real
// time; the tool uses MonotonicClock (pacing.cpp).
struct PaceClock {
    virtual ~PaceClock() = default;
    virtual int64_t now() = 0; // nanoseconds
    // Sleeps until the deadline; may return early when a signal arrives.
    virtual void sleepuntil(int64_t deadline) = 0;
};

struct Pacer {
    int64_t interval = 0;
    int64_t next = 0;    // the next slot on the clock
    int64_t latency = 0; // how late a sleep typically wakes; that stretch is polled
};

constexpr int64_t kPaceCatchUp = 100000; // ns of lost time that may be made up

// First slot one interval from now.
inline void pacer_start(Pacer& pacer, int64_t interval, int64_t latency, int64_t now) {
    pacer.interval = interval;
    pacer.latency = latency;
    pacer.next = now + interval;
}

// The slot for the coming step; the schedule moves on by one interval.
inline int64_t pacer_slot(Pacer& pacer, int64_t now) {
    int64_t limit = pacer.interval > kPaceCatchUp ? pacer.interval : kPaceCatchUp;
    if (now - pacer.next > limit) pacer.next = now; // a stall: start afresh
    int64_t slot = pacer.next;
    pacer.next = slot + pacer.interval;
    return slot;
}

// Waits for the next slot: sleeps until the wake-up latency before it, so the
// wake-up lands near the slot, and polls the clock for the rest. A sleep that
// wakes late costs that slot's precision only; the slot after it is still one
// interval on. Returns false as soon as the stop flag is seen.
inline bool pacer_wait(Pacer& pacer, PaceClock& clock, const bool& stop) {
    const int64_t slot = pacer_slot(pacer, clock.now());
    for (;;) {
        if (stopped(stop)) return false;
        int64_t now = clock.now();
        if (now >= slot) return true;
        if (slot - now > pacer.latency) clock.sleepuntil(slot - pacer.latency);
    }
}

// How late a short sleep on this clock typically wakes: the median of a few
// samples, kept within 5 us..200 us so that a preempted sample cannot turn
// every wait into polling.
inline int64_t measure_latency(PaceClock& clock) {
    constexpr int kSamples = 20;
    int64_t late[kSamples];
    for (int i = 0; i < kSamples; ++i) {
        int64_t deadline = clock.now() + 50000;
        clock.sleepuntil(deadline);
        late[i] = clock.now() - deadline;
    }
    // Insertion sort: twenty values.
    for (int i = 1; i < kSamples; ++i)
        for (int j = i; j > 0 && late[j - 1] > late[j]; --j) {
            int64_t t = late[j];
            late[j] = late[j - 1];
            late[j - 1] = t;
        }
    int64_t latency = late[kSamples / 2];
    if (latency < 5000) latency = 5000;
    if (latency > 200000) latency = 200000;
    return latency;
}

// The monotonic clock with absolute-deadline sleeps. Making one lowers the
// process's timer slack to 1 ns; `latency` is measured then.
struct MonotonicClock : PaceClock {
    MonotonicClock();
    int64_t now() override;
    void sleepuntil(int64_t deadline) override;
    int64_t latency = 0;
};

// Both loops return 0 after a stop (also one that cut short the client's
// connect) and -1 after a failure; they only return
// once `stop` is set or something failed. padlen is 0..4000. The server drops
// a client that sends nothing for `idle` seconds; 0 keeps it for ever.
int pacelag_client(const addrinfo* entry, const char* host, int port, int buflen, int padlen,
                   int rate, bool& stop);
int pacelag_server(int port, int buflen, int padlen, int rate, bool& stop, int idle = 0);

// printf followed by a flush: every line and mark must be visible when it
// happens, also when standard output is a pipe or a file.
void say(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Reports a failed set-up step as "<what>: <error text>\n" followed by `after`
// (each side's own closing text), releases fd (when >= 0) and returns -1. The
// error text is taken before anything is printed, which may change errno.
int setupfailed(int fd, const char* after, const char* what, ...)
    __attribute__((format(printf, 3, 4)));
