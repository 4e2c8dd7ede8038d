// Pacing rules of the pacelag tool: interval, back-off and print cadence from
// a rate.
#include "pacing.h"

#include <gtest/gtest.h>

namespace {
TEST(Pacing, IntervalAndCadenceFromRate) {
    struct Case {
        int rate;
        int64_t interval;
        int cadence;
    };
    const Case cases[] = {
        {1, 1000000000, 1},   {3, 333333333, 1},     {7, 142857142, 1}, {23, 43478260, 1},
        {24, 41666666, 1},    {47, 21276595, 1},     {48, 20833333, 2}, {100, 10000000, 4},
        {99999, 10000, 4166}, {100000, 10000, 4166},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rate);
        int64_t interval = -1;
        int cadence = -1;
        compute_pacing(c.rate, interval, cadence);
        EXPECT_EQ(interval, c.interval);
        EXPECT_EQ(cadence, c.cadence);
    }
}

TEST(PacingDeathTest, RateBelowOneIsAProgrammingError) {
    int64_t interval = 0;
    int cadence = 0;
    EXPECT_DEATH(compute_pacing(0, interval, cadence), "rate >= 1");
}
} // namespace

namespace {
// A clock that only moves when asked: each reading costs `tick`, a sleep wakes
// `overshoot` after its deadline, and a step of the caller moves it by hand.
// `stopafter` sets the flag on that reading, like a signal arriving mid-wait.
struct FakeClock : PaceClock {
    int64_t t = 1000000000;
    int64_t tick = 100;
    int64_t overshoot = 0;
    int readings = 0;
    int sleeps = 0;
    int stopafter = -1;
    bool* flag = nullptr;
    int64_t now() override {
        if (++readings == stopafter && flag) *flag = true;
        t += tick;
        return t;
    }
    void sleepuntil(int64_t deadline) override {
        ++sleeps;
        if (deadline > t) t = deadline;
        t += overshoot;
    }
};

// Runs `steps` passes of a paced loop; pass `stallat` takes `stall` ns longer
// than the others. Returns when each pass started; `first` gets the first slot.
std::vector<int64_t> runpasses(FakeClock& clock, int64_t interval, int64_t latency, int steps,
                               int stallat, int64_t stall, int64_t& first) {
    bool stop = false;
    Pacer pacer;
    pacer_start(pacer, interval, latency, clock.now());
    first = pacer.next;
    std::vector<int64_t> starts;
    for (int i = 0; i < steps; ++i) {
        EXPECT_TRUE(pacer_wait(pacer, clock, stop));
        starts.push_back(clock.t);
        clock.t += interval / 5; // the work of the pass
        if (i == stallat) clock.t += stall;
    }
    return starts;
}

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
        {1000000, 500000, false},
        {10000, 80000, false}, // high rate: 72 us late, within 100 us, made up
        {10000, 150000, true}, // 142 us late: a fresh start
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("interval " + std::to_string(c.interval) + " stall " +
                     std::to_string(c.stall));
        FakeClock clock;
        clock.overshoot = 3000;
        const int stallat = 4;
        // A pass starts when the wait wakes: a sleep's overshoot and a few
        // clock readings after its slot.
        const int64_t slack = clock.overshoot + 1000;
        int64_t first = 0;
        std::vector<int64_t> starts =
            runpasses(clock, c.interval, 5000, 30, stallat, c.stall, first);
        for (int i = 0; i <= stallat; ++i) {
            EXPECT_GE(starts[i] - first, i * c.interval);
            EXPECT_LT(starts[i] - first, i * c.interval + slack);
        }
        const int64_t stallend = starts[stallat] + c.interval / 5 + c.stall;
        int64_t previous = starts[stallat];
        for (size_t i = stallat + 1; i < starts.size(); ++i) {
            if (c.restarts) {
                // On the new grid, one interval apart: never two passes in a row.
                EXPECT_GE(starts[i] - stallend, static_cast<int64_t>(i - stallat - 1) * c.interval);
                EXPECT_LT(starts[i] - stallend,
                          static_cast<int64_t>(i - stallat - 1) * c.interval + slack);
            } else {
                // Back on the old grid once the lost time is made up.
                int64_t grid = first + static_cast<int64_t>(i) * c.interval;
                EXPECT_GE(starts[i], grid);
                // Catching up, passes follow each other at once; each one
                // gains four fifths of an interval, so ten are enough.
                if (i == stallat + 1u) {
                    // At once, or at its slot when the stall left time.
                    EXPECT_LT(starts[i] - (stallend > grid ? stallend : grid), slack);
                } else if (i > stallat + 10u) {
                    EXPECT_LT(starts[i] - grid, slack);
                } else if (starts[i] - grid >= slack) {
                    EXPECT_LT(starts[i] - previous, c.interval / 5 + slack);
                }
            }
            previous = starts[i];
        }
        if (!c.restarts) {
            EXPECT_LT(starts.back() - (first + 29 * c.interval), slack);
        }
    }
}

// A wait longer than the latency sleeps until the latency before the slot and
// polls the rest; a shorter one only polls.
TEST(PacingSchedule, SleepsWhileFarFromTheSlotAndPollsTheRest) {
    struct Case {
        int64_t interval, latency;
        bool sleeps;
    };
    const Case cases[] = {{1000000, 50000, true}, {40000, 50000, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.interval);
        FakeClock clock;
        bool stop = false;
        Pacer pacer;
        pacer_start(pacer, c.interval, c.latency, clock.now());
        ASSERT_TRUE(pacer_wait(pacer, clock, stop));
        EXPECT_EQ(clock.sleeps, c.sleeps ? 1 : 0);
        const int64_t slot = pacer.next - c.interval;
        EXPECT_GE(clock.t, slot);
        EXPECT_LE(clock.t, slot + 300);
        EXPECT_LE(clock.readings, 3 + static_cast<int>(c.latency / clock.tick));
    }
}

// A stop that arrives while the last stretch is polled ends the wait at once,
// before the slot; a sleep that a signal cut short without a stop goes on.
TEST(PacingSchedule, StopIsSeenWhilePolling) {
    FakeClock clock;
    bool stop = false;
    clock.flag = &stop;
    clock.stopafter = 40;
    Pacer pacer;
    pacer_start(pacer, 10000, 200000, clock.now()); // all polling
    EXPECT_FALSE(pacer_wait(pacer, clock, stop));
    EXPECT_LE(clock.readings, 41);
    EXPECT_LT(clock.t, pacer.next - 10000);

    struct EarlyClock : FakeClock {
        void sleepuntil(int64_t deadline) override {
            ++sleeps;
            t += (deadline - t) / 2; // interrupted half way
        }
    } early;
    bool nostop = false;
    pacer_start(pacer, 1000000, 20000, early.now());
    EXPECT_TRUE(pacer_wait(pacer, early, nostop));
    EXPECT_GE(early.t, pacer.next - 1000000);
    EXPECT_GT(early.sleeps, 1);
}

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
