// SPDX-License-Identifier: MIT
// Pacing rules of the pacelag tool: interval, back-off and print cadence from
// a rate, and the schedule of slots both loops keep.
#include "pacing.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace {
TEST(Pacing, IntervalAndCadenceFromRate) {
    struct Case {
        int rate;
        int64_t interval;
        int cadence;
    };
    const Case cases[] = {
        {1, 1000000000, 1}, {7, 142857142, 1},  {24, 41666666, 1},     {47, 21276595, 1},
        {48, 20833333, 2},  {100, 10000000, 4}, {100000, 10000, 4166},
    };
    for (const Case& c : cases) {
        int64_t interval = -1;
        int cadence = -1;
        compute_pacing(c.rate, interval, cadence);
        EXPECT_EQ(interval, c.interval) << c.rate;
        EXPECT_EQ(cadence, c.cadence) << c.rate;
    }
}

TEST(PacingDeathTest, RateBelowOneIsAProgrammingError) {
    int64_t interval = 0;
    int cadence = 0;
    EXPECT_DEATH(compute_pacing(0, interval, cadence), "rate >= 1");
}

// A clock that only moves when asked: each reading costs `tick`, a sleep wakes
// `overshoot` after its deadline (or, `interrupted`, half way there), and a
// step of the caller moves it by hand. `stopafter` sets the flag on that
// reading, like a signal arriving mid-wait.
struct FakeClock : PaceClock {
    int64_t t = 1000000000;
    int64_t tick = 100;
    int64_t overshoot = 0;
    bool interrupted = false;
    int readings = 0;
    int sleeps = 0;
    int stopafter = -1;
    bool stop = false;
    int64_t now() override {
        if (++readings == stopafter) stop = true;
        return t += tick;
    }
    void sleepuntil(int64_t deadline) override {
        ++sleeps;
        if (interrupted)
            t += (deadline - t) / 2;
        else
            t = std::max(t, deadline) + overshoot;
    }
};

// Lost time within the bound is made up at once, pass after pass, until the
// schedule is met again; a longer stall restarts the schedule, and the passes
// after it are one interval apart.
TEST(PacingSchedule, AStallIsMadeUpWithinTheBoundAndRestartsPastIt) {
    struct Case {
        int64_t interval;
        int64_t stall;
        bool restarts;
    };
    const Case cases[] = {
        // Each pass works a fifth of an interval, so it ends stall - 4/5
        // interval after its next slot.
        {1000000, 10 * 1000000, false}, // ten intervals: made up
        {1000000, 2000000, false},      // 1.2 intervals late: made up
        {1000000, 150000000, true},     // 149 ms late: a fresh start
        {10000, 80000, false},          // high rate, batched: made up
        {10000, 50000000, false},       // 50 ms at 100000/s: 5000 passes made up
        {10000, 150000000, true},       // past 100 ms: a fresh start
        {200000000, 350000000, false},  // a long interval is its own bound
        {200000000, 450000000, true},   // 290 ms late
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("interval " + std::to_string(c.interval) + " stall " +
                     std::to_string(c.stall));
        FakeClock clock;
        clock.overshoot = 3000;
        const int stallat = 4;
        Pacer pacer;
        pacer_start(pacer, c.interval, 5000, clock.now());
        // A pass starts when the wait wakes: a sleep's overshoot and a few
        // clock readings after it is due, or up to a wake period later where
        // the passes are batched.
        const int64_t slack = clock.overshoot + 1000 + (pacer.gap > 0 ? kPaceWakePeriod : 0);
        int64_t origin = pacer.next - c.interval; // slot i is origin + (i + 1) * interval
        int64_t ready = 0;                        // when the previous pass ended
        const int passes = static_cast<int>(c.stall / c.interval) + 30;
        for (int i = 0; i < passes; ++i) {
            ASSERT_TRUE(pacer_wait(pacer, clock, clock.stop));
            // After a restart the grid starts afresh where the stall ended.
            if (c.restarts && i == stallat + 1) origin = ready - (i + 1) * c.interval;
            // Due at its slot, or at once while lost time is made up; never
            // earlier, so never two passes in a burst after a restart.
            const int64_t due = std::max(origin + (i + 1) * c.interval, ready);
            ASSERT_GE(clock.t, due) << "pass " << i;
            ASSERT_LT(clock.t, due + slack) << "pass " << i;
            clock.t += c.interval / 5 + (i == stallat ? c.stall : 0); // the work of the pass
            ready = clock.t;
        }
    }
}

// A wait longer than the latency sleeps until the latency before the slot and
// polls the rest; one that begins closer to the slot only polls. A stop seen
// while polling ends the wait at once, before the slot; a sleep cut short
// without a stop goes on. Polling only happens where the interval is at least
// a wake period and ten latencies long.
TEST(PacingSchedule, SleepsWhileFarFromTheSlotAndPollsTheRest) {
    struct Case {
        int64_t interval, latency;
        int64_t early; // the wait begins this long before the slot; 0: one interval
        int stopafter;
        bool interrupted;
        int sleeps; // -1: more than one
    };
    const Case cases[] = {
        {1000000, 50000, 0, -1, false, 1},
        {1000000, 50000, 40000, -1, false, 0},
        {2000000, 200000, 150000, 40, false, 0},
        {1000000, 20000, 0, -1, true, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.interval);
        FakeClock clock;
        clock.overshoot = 20000; // a sleep to the slot itself would end past it
        clock.stopafter = c.stopafter;
        clock.interrupted = c.interrupted;
        Pacer pacer;
        pacer_start(pacer, c.interval, c.latency, clock.now());
        const int64_t slot = pacer.next;
        if (c.early > 0) clock.t = slot - c.early;
        EXPECT_EQ(pacer_wait(pacer, clock, clock.stop), c.stopafter < 0);
        EXPECT_TRUE(c.sleeps < 0 ? clock.sleeps > 1 : clock.sleeps == c.sleeps) << clock.sleeps;
        if (c.stopafter < 0) {
            EXPECT_GE(clock.t, slot);
            EXPECT_LE(clock.t, slot + 300);
        } else {
            EXPECT_LT(clock.t, slot);
            EXPECT_LE(clock.readings, c.stopafter + 1);
        }
        EXPECT_LE(clock.readings, 3 + clock.sleeps + static_cast<int>(c.latency / clock.tick));
    }
}

// The median wake-up delay, kept within 5 us..200 us.
TEST(PacingSchedule, LatencyIsMeasuredAndBounded) {
    struct Case {
        int64_t overshoot, expected;
    };
    const Case cases[] = {{30000, 30000}, {0, 5000}, {5000000, 200000}};
    for (const Case& c : cases) {
        FakeClock clock;
        clock.tick = 0;
        clock.overshoot = c.overshoot;
        EXPECT_EQ(measure_latency(clock), c.expected) << c.overshoot;
    }
}

// A wait that begins `late` after its slot serves that slot and every later one
// already past without sleeping, each exactly once, and then waits again for
// the first slot still to come. Up to the bound (100 ms, or one interval when
// that is longer) the schedule is kept, exactly at the bound too; one
// nanosecond past it the schedule restarts from now and only that one pass is
// served.
TEST(PacingSchedule, ALateWakeUpServesExactlyTheMissedSlots) {
    struct Case {
        int64_t interval, late;
        int64_t served; // passes without a sleep
    };
    const int64_t bound = kPaceCatchUp;
    const Case cases[] = {
        {1000000, 0, 1},
        {1000000, 5500000, 6},
        {1000000, bound - 1, 100},
        {1000000, bound, 101},
        {1000000, bound + 1, 1},
        {10000, bound, 10001}, // 100000/s: rate / 10 + 1
        {10000, bound + 1, 1},
        {1000000000, 1000000000, 2}, // rate 1: one interval is the bound
        {1000000000, 1000000001, 1},
        {200000000, 200000000, 2},
        {200000000, 200000001, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("interval " + std::to_string(c.interval) + " late " + std::to_string(c.late));
        FakeClock clock;
        clock.tick = 0; // the clock stands still while the burst is served
        // The wait after the burst must end without polling the standing
        // clock: a long latency keeps the short intervals from polling, and
        // the sleeps of the long ones end past the slot.
        clock.overshoot = 300000;
        Pacer pacer;
        pacer_start(pacer, c.interval, 200000, clock.now());
        const int64_t first = pacer.next;
        clock.t = first + c.late;
        const int64_t woken = clock.t;
        int64_t served = 0;
        int64_t slot = 0;
        for (;;) {
            slot = pacer.next;
            ASSERT_TRUE(pacer_wait(pacer, clock, clock.stop));
            if (clock.sleeps > 0) break;
            ++served;
        }
        EXPECT_EQ(served, c.served);
        EXPECT_EQ(clock.readings, served + 3) << "one clock reading per pass served";
        // The wait that slept served the first slot still to come, on the old
        // grid or, after a restart, on one that starts where the stall ended.
        const int64_t origin = c.late > std::max(bound, c.interval) ? woken : first;
        EXPECT_EQ(slot, origin + served * c.interval);
        EXPECT_GT(slot, woken);
        EXPECT_GE(clock.t, slot);
    }
}

// A side that keeps running but gets less processor time than its rate takes
// falls behind step by step, with no stall between its passes: it keeps its
// schedule past the stall bound and makes the lag up once it can, and only
// restarts when the lag passes the drift limit.
TEST(PacingSchedule, FallingBehindWithoutAStallKeepsTheSchedule) {
    struct Case {
        int64_t work; // each of the slow passes, at 1 ms intervals
        int slow;     // how many of them
        int restarts; // of the schedule, over the whole run
    };
    const Case cases[] = {
        {1500000, 400, 0},                  // 200 ms behind in 0.5 ms steps: made up
        {2000000, 900, 0},                  // 900 ms behind
        {2000000, 1200, 1},                 // past a second: a fresh start
        {1000000 + kPaceCatchUp + 1, 1, 1}, // one step that long is a stall
    };
    const int64_t interval = 1000000;
    for (const Case& c : cases) {
        SCOPED_TRACE("work " + std::to_string(c.work) + " for " + std::to_string(c.slow));
        FakeClock clock;
        clock.overshoot = 3000;
        Pacer pacer;
        pacer_start(pacer, interval, 20000, clock.now());
        int restarts = 0;
        const int passes = c.slow + 3000; // enough light passes to make a second up
        for (int i = 0; i < passes; ++i) {
            const int64_t expected = pacer.next;
            ASSERT_TRUE(pacer_wait(pacer, clock, clock.stop));
            if (pacer.next != expected + interval) ++restarts;
            clock.t += i < c.slow ? c.work : interval / 5;
        }
        EXPECT_EQ(restarts, c.restarts);
        EXPECT_LT(clock.t - (pacer.next - interval), interval) << "the lag was made up";
    }
}

// Below the wake period the waits sleep about once per period and serve the
// slots that came due meanwhile in one batch, without polling the clock; no
// pass returns before its slot and none falls more than a period and a
// latency behind it, so the rate holds. From the period up, each pass has its
// own sleep.
TEST(PacingSchedule, ShortIntervalsAreServedInBatchesNeverBeforeTheirSlot) {
    struct Case {
        int64_t interval, latency;
        bool batched;
    };
    const Case cases[] = {
        {10000, 20000, true},   // 100000/s, below the latency
        {10000, 5000, true},    // above the latency, below the period
        {100000, 20000, true},  // 10000/s
        {499999, 200000, true}, // just below the period
        {500000, 20000, false}, // from the period up: one sleep per pass
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("interval " + std::to_string(c.interval));
        FakeClock clock;
        clock.overshoot = c.latency; // every sleep wakes one latency late
        Pacer pacer;
        const int64_t start = clock.now();
        pacer_start(pacer, c.interval, c.latency, start);
        const int passes = static_cast<int>(200000000 / c.interval); // 200 ms of slots
        int64_t worst = 0;
        for (int i = 0; i < passes; ++i) {
            const int64_t slot = pacer.next;
            ASSERT_TRUE(pacer_wait(pacer, clock, clock.stop));
            ASSERT_GE(clock.t, slot) << "pass " << i;
            worst = std::max(worst, clock.t - slot);
            clock.t += 300; // the work of the pass
        }
        const int64_t elapsed = clock.t - start;
        EXPECT_LE(worst, kPaceWakePeriod + c.latency + 1000);
        EXPECT_LE(pacer.next - c.interval, clock.t) << "every slot due was served";
        // No polling: a pass reads the clock once, a sleep once more.
        EXPECT_LE(clock.readings, passes + clock.sleeps + 2);
        if (c.batched) {
            EXPECT_LE(clock.sleeps, elapsed / kPaceWakePeriod + 1);
            EXPECT_GE(clock.sleeps, elapsed / (kPaceWakePeriod + c.latency + c.interval) - 1);
        } else {
            EXPECT_EQ(clock.sleeps, passes);
        }
    }
}

// A stop ends the wait at once, also in the middle of a catch-up burst or a
// batch, without waiting for the slots still owed and without serving any.
TEST(PacingSchedule, AStopEndsACatchUpBurstAtOnce) {
    const int64_t intervals[] = {1000000, 10000};
    for (int64_t interval : intervals) {
        SCOPED_TRACE(interval);
        FakeClock clock;
        clock.tick = 0;
        Pacer pacer;
        pacer_start(pacer, interval, 20000, clock.now());
        clock.t = pacer.next + 50000000; // 50 ms late: a burst is owed
        for (int i = 0; i < 3; ++i) ASSERT_TRUE(pacer_wait(pacer, clock, clock.stop));
        const int64_t owed = pacer.next;
        setstop(clock.stop);
        const int readings = clock.readings;
        EXPECT_FALSE(pacer_wait(pacer, clock, clock.stop));
        EXPECT_FALSE(pacer_wait(pacer, clock, clock.stop));
        EXPECT_EQ(pacer.next, owed) << "no slot served after the stop";
        EXPECT_EQ(clock.readings, readings);
        EXPECT_EQ(clock.sleeps, 0);
    }
    // A stop that arrives during a batch's sleep ends it before the slot.
    FakeClock clock;
    clock.interrupted = true;
    clock.stopafter = 2; // the signal comes as the wait begins
    Pacer pacer;
    pacer_start(pacer, 10000, 20000, clock.now());
    const int64_t slot = pacer.next;
    EXPECT_FALSE(pacer_wait(pacer, clock, clock.stop));
    EXPECT_EQ(clock.sleeps, 1);
    EXPECT_LT(clock.t, slot + kPaceWakePeriod);
}
} // namespace
