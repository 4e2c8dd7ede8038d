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
// does not slow the rate down. A pass that wakes late serves the slots that
// have passed at once, one step per slot, so a preemption costs no messages.
// That catch-up is bounded. A stall, where no pass ran for longer than
// max(interval, kPaceCatchUp) (a stop with SIGSTOP, a suspended machine),
// restarts the schedule from the current time once the slot due is that far
// in the past: the slots of the stall are lost rather than sent in one long
// burst. A side that keeps running but falls behind, because a busy machine
// gives it less processor time than its rate takes for a while, keeps its
// schedule and makes the lag up when it can, up to kPaceDriftLimit of it.
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
    int64_t latency = 0; // how late a sleep typically wakes
    int64_t bound = 0;   // how far the due slot may lie in the past after a stall
    int64_t last = 0;    // when the previous pass asked for its slot
    int64_t lead = 0;    // the stretch before a slot that is polled rather than slept
    int64_t gap = 0;     // least time from one wake-up to the next sleep's deadline
    int64_t woke = 0;    // when the last sleep ended
};

// Lag that a stall may leave and still be made up in a burst: the slots of the
// last 100 ms, so the burst after a stall is at most rate / 10 + 1 messages.
constexpr int64_t kPaceCatchUp = 100000000;
// Lag that passes without a stall may pile up and still be made up. Measured
// on a 2-core machine with other work on it, a side at 100000/s fell more than
// 100 ms behind in steps of under 45 ms between passes; past a second the
// rate is out of reach of the machine and the schedule starts afresh.
constexpr int64_t kPaceDriftLimit = 1000000000;
// A wake-up costs more than a step: about 15-20 us of CPU on a virtual
// machine, against 2-3 us for a send. Below this interval the waits sleep at
// most once per period and serve every slot that has come due in one batch;
// single steps then move by up to the period, far below the whole seconds the
// tool prints and the sampling of pacelag-lab.
constexpr int64_t kPaceWakePeriod = 500000;
// Polling the last stretch before a slot puts each step on its slot to a
// microsecond, which nothing printed can show; it is only worth it while it
// costs at most this share of the interval (1 / kPacePollShare).
constexpr int64_t kPacePollShare = 10;

// First slot one interval from now. Batching, or sleeping right up to the
// slot where polling would cost more than its share, makes the wake-up come
// about one latency after its deadline; the batch's gap allows for that.
inline void pacer_start(Pacer& pacer, int64_t interval, int64_t latency, int64_t now) {
    pacer.interval = interval;
    pacer.latency = latency;
    pacer.next = now + interval;
    pacer.bound = interval > kPaceCatchUp ? interval : kPaceCatchUp;
    pacer.last = now;
    const bool batches = interval < kPaceWakePeriod;
    pacer.lead = !batches && latency * kPacePollShare <= interval ? latency : 0;
    pacer.gap = batches && latency < kPaceWakePeriod ? kPaceWakePeriod - latency : 0;
    pacer.woke = now;
}

// The slot for the coming step; the schedule moves on by one interval.
inline int64_t pacer_slot(Pacer& pacer, int64_t now) {
    const int64_t lag = now - pacer.next, idle = now - pacer.last;
    const int64_t drift = pacer.bound > kPaceDriftLimit ? pacer.bound : kPaceDriftLimit;
    if ((lag > pacer.bound && idle > pacer.bound) || lag > drift) pacer.next = now; // start afresh
    pacer.last = now;
    int64_t slot = pacer.next;
    pacer.next = slot + pacer.interval;
    return slot;
}

// Waits for the next slot and returns true once it has come; a slot already
// past returns at once (catch-up, and the rest of a batch). The wait sleeps
// until `lead` before the slot, or no sooner than `gap` after the last
// wake-up, and polls the clock for the rest. Returns false as soon as the
// stop flag is seen, also in the middle of a catch-up burst or a batch.
inline bool pacer_wait(Pacer& pacer, PaceClock& clock, const bool& stop) {
    if (stopped(stop)) return false;
    int64_t now = clock.now();
    const int64_t slot = pacer_slot(pacer, now);
    while (now < slot) {
        int64_t wake = slot - pacer.lead;
        if (wake < pacer.woke + pacer.gap) wake = pacer.woke + pacer.gap;
        const bool sleeps = wake > now;
        if (sleeps) clock.sleepuntil(wake);
        if (stopped(stop)) return false;
        now = clock.now();
        if (sleeps) pacer.woke = now;
    }
    return true;
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
