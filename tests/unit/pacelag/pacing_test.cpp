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

// Lost time is made up only up to max(interval, 100 us): a longer stall
// restarts the schedule, and the passes after it are one interval apart.
TEST(PacingSchedule, AStallRestartsTheScheduleInsteadOfBursting) {
    struct Case {
        int64_t interval;
        int64_t stall;
        bool restarts;
    };
    const Case cases[] = {
        // Each pass works a fifth of an interval, so it ends stall - 4/5
        // interval after its next slot.
        {1000000, 10 * 1000000, true}, // ten intervals: a fresh start
        {1000000, 2000000, true},      // 1.2 intervals late
        {1000000, 1700000, false},     // 0.9 intervals late: made up
        {10000, 80000, false},         // high rate: 72 us late, within 100 us, made up
        {10000, 150000, true},         // 142 us late: a fresh start
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("interval " + std::to_string(c.interval) + " stall " +
                     std::to_string(c.stall));
        FakeClock clock;
        clock.overshoot = 3000;
        // A pass starts when the wait wakes: a sleep's overshoot and a few
        // clock readings after it is due.
        const int64_t slack = clock.overshoot + 1000;
        const int stallat = 4;
        Pacer pacer;
        pacer_start(pacer, c.interval, 5000, clock.now());
        int64_t origin = pacer.next - c.interval; // slot i is origin + (i + 1) * interval
        int64_t ready = 0;                        // when the previous pass ended
        for (int i = 0; i < 30; ++i) {
            ASSERT_TRUE(pacer_wait(pacer, clock, clock.stop));
            // After a restart the grid starts afresh where the stall ended.
            if (c.restarts && i == stallat + 1) origin = ready - (i + 1) * c.interval;
            // Due at its slot, or at once while lost time is made up; never
            // earlier, so never two passes in a burst after a restart.
            const int64_t due = std::max(origin + (i + 1) * c.interval, ready);
            EXPECT_GE(clock.t, due) << "pass " << i;
            EXPECT_LT(clock.t, due + slack) << "pass " << i;
            clock.t += c.interval / 5 + (i == stallat ? c.stall : 0); // the work of the pass
            ready = clock.t;
        }
    }
}

// A wait longer than the latency sleeps until the latency before the slot and
// polls the rest; a shorter one only polls. A stop seen while polling ends the
// wait at once, before the slot; a sleep cut short without a stop goes on.
TEST(PacingSchedule, SleepsWhileFarFromTheSlotAndPollsTheRest) {
    struct Case {
        int64_t interval, latency;
        int stopafter;
        bool interrupted;
        int sleeps; // -1: more than one
    };
    const Case cases[] = {
        {1000000, 50000, -1, false, 1},
        {40000, 50000, -1, false, 0},
        {10000, 200000, 40, false, 0},
        {1000000, 20000, -1, true, -1},
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
} // namespace
