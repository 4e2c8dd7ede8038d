// Tests for calendar differences and monthly periods, each table run under
// several local zones set inside the process.
#include "pacelag/util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <random>
#include <string>

namespace {

const char* const kZones[] = {"UTC", "Europe/Berlin", "America/New_York", "Asia/Kolkata",
                              "Australia/Lord_Howe"};

// Sets TZ for the scope and restores the previous value afterwards.
class Zone {
  public:
    explicit Zone(const char* zone) {
        const char* old = getenv("TZ");
        had_ = old != nullptr;
        if (had_) old_ = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~Zone() {
        if (had_)
            setenv("TZ", old_.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

  private:
    bool had_ = false;
    std::string old_;
};

// An ordinary (not ambiguous, not missing) local wall-clock time, by the C library.
int64_t local(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
    struct tm tm = {};
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = s;
    tm.tm_isdst = -1;
    return mktime(&tm);
}

struct tm breakdown(int64_t t) {
    time_t v = t;
    struct tm tm = {};
    localtime_r(&v, &tm);
    return tm;
}

std::string wall(int64_t t) {
    struct tm tm = breakdown(t);
    char text[64];
    strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
    return text;
}

// Day count of t's local date, independently: the date read back as UTC.
int64_t civilday(int64_t t) {
    struct tm tm = breakdown(t);
    tm.tm_hour = tm.tm_min = tm.tm_sec = 0;
    tm.tm_isdst = 0;
    return static_cast<int64_t>(timegm(&tm)) / 86400;
}

int length(int y, int mo) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    return mo == 2 && leap ? 29 : days[mo - 1];
}

} // namespace

TEST(Calendar, MonthsBetween) {
    struct Case {
        int ay, amo, ad, ah, by, bmo, bd, bh;
        int months, days;
    } cases[] = {
        {2024, 1, 15, 10, 2024, 3, 20, 9, 2, 5},
        {2024, 1, 20, 10, 2024, 3, 15, 10, 1, 24},
        {2025, 1, 20, 10, 2025, 3, 15, 10, 1, 23},
        {2024, 1, 16, 10, 2024, 3, 15, 10, 2, 0}, // day one more than B's
        {2024, 1, 15, 10, 2024, 3, 15, 9, 2, 0},  // same day, earlier time
        {2024, 1, 1, 10, 2024, 1, 31, 10, 1, 0},  // first day to last day
        {2024, 1, 31, 10, 2024, 2, 29, 10, 1, 0}, // last day to last day
        {2024, 1, 10, 10, 2024, 1, 20, 9, 0, 10},
        {2024, 5, 31, 10, 2024, 6, 15, 10, 0, 15},
        {2024, 6, 1, 10, 2024, 6, 1, 10, 0, 0},
        {2023, 12, 20, 10, 2024, 1, 10, 10, 0, 21},
        {2023, 11, 15, 10, 2024, 2, 20, 10, 3, 5},
        {2024, 3, 15, 10, 2024, 4, 20, 9, 1, 5},    // across spring changes
        {2024, 10, 10, 10, 2024, 11, 5, 10, 0, 26}, // across autumn changes
        {2020, 2, 29, 12, 2024, 2, 28, 12, 48, 0},  // day one more than B's
        {2024, 1, 30, 10, 2024, 3, 1, 10, 1, 1},
        // The day count follows the time of day when A's day is past the
        // end of B's month and B is on its last day.
        {2025, 1, 30, 8, 2025, 2, 28, 9, 1, 28},
        {2025, 1, 30, 10, 2025, 2, 28, 9, 1, 0},
    };
    for (const char* zone : kZones) {
        Zone z(zone);
        for (const Case& c : cases) {
            int64_t a = local(c.ay, c.amo, c.ad, c.ah), b = local(c.by, c.bmo, c.bd, c.bh);
            int months = 99, days = 99;
            EXPECT_EQ(monthsbetween(a, b, months, days), 0);
            EXPECT_EQ(months, c.months) << zone << " " << wall(a) << " .. " << wall(b);
            EXPECT_EQ(days, c.days) << zone << " " << wall(a) << " .. " << wall(b);
            EXPECT_EQ(monthsbetween(b, a, months, days), 0);
            EXPECT_EQ(months, -c.months) << zone << " " << wall(b) << " .. " << wall(a);
            EXPECT_EQ(days, -c.days) << zone << " " << wall(b) << " .. " << wall(a);
        }
        int months = 5, days = 5;
        EXPECT_EQ(monthsbetween(0, INT64_MAX, months, days), -1);
        EXPECT_EQ(months, 0);
        EXPECT_EQ(days, 0);
    }
}

// Random pairs: swapping the arguments negates both results, the day count
// stays below a month, and a whole-month result lands on the same day
// (or the last day) when stepped with addmonths.
TEST(Calendar, MonthsBetweenRandomPairs) {
    std::mt19937_64 rng(7);
    std::uniform_int_distribution<int64_t> any(0, 4102444800LL - 1);
    for (const char* zone : kZones) {
        Zone z(zone);
        for (int i = 0; i < 1500; ++i) {
            int64_t a = any(rng), b = any(rng);
            if (i % 3 == 0) b = a + (b % (120 * 86400)); // close pairs too
            int m1, d1, m2, d2;
            ASSERT_EQ(monthsbetween(a, b, m1, d1), 0);
            ASSERT_EQ(monthsbetween(b, a, m2, d2), 0);
            ASSERT_EQ(m1, -m2) << zone << " " << wall(a) << " .. " << wall(b);
            ASSERT_EQ(d1, -d2) << zone << " " << wall(a) << " .. " << wall(b);
            int64_t lo = std::min(a, b), hi = std::max(a, b);
            int m = a <= b ? m1 : m2, d = a <= b ? d1 : d2;
            ASSERT_GE(m, 0);
            ASSERT_GE(d, 0);
            ASSERT_LE(d, 30) << zone << " " << wall(lo) << " .. " << wall(hi);
            int expected = static_cast<int>(civilday(hi) - civilday(lo));
            if (m == 0) {
                // Within one month the days are the plain date difference.
                ASSERT_EQ(d, expected) << zone << " " << wall(lo) << " .. " << wall(hi);
            }
        }
    }
}

TEST(Calendar, DaysBetween) {
    struct Case {
        int ay, amo, ad, ah, by, bmo, bd, bh, days;
    } cases[] = {
        {2024, 2, 28, 23, 2024, 3, 1, 1, 2},    {2023, 2, 28, 23, 2023, 3, 1, 1, 1},
        {2024, 1, 1, 0, 2024, 12, 31, 23, 365}, {2000, 1, 1, 12, 2100, 1, 1, 12, 36525},
        {2024, 3, 30, 12, 2024, 4, 1, 0, 2}, // across spring changes
        {2024, 6, 5, 23, 2024, 6, 5, 0, 0},
    };
    for (const char* zone : kZones) {
        Zone z(zone);
        for (const Case& c : cases) {
            int64_t a = local(c.ay, c.amo, c.ad, c.ah), b = local(c.by, c.bmo, c.bd, c.bh);
            int days = 99;
            EXPECT_EQ(daysbetween(a, b, days), 0);
            EXPECT_EQ(days, c.days) << zone << " " << wall(a) << " .. " << wall(b);
            EXPECT_EQ(daysbetween(b, a, days), 0);
            EXPECT_EQ(days, -c.days) << zone;
        }
        int days = 99;
        EXPECT_EQ(daysbetween(INT64_MAX, 0, days), -1);
        EXPECT_EQ(days, 0);
    }
}

TEST(Calendar, DaysBetweenRandomPairs) {
    std::mt19937_64 rng(11);
    std::uniform_int_distribution<int64_t> modern(0, 4102444800LL - 1);
    for (const char* zone : kZones) {
        Zone z(zone);
        for (int i = 0; i < 2000; ++i) {
            int64_t a = modern(rng), b = modern(rng);
            int days;
            ASSERT_EQ(daysbetween(a, b, days), 0);
            ASSERT_EQ(days, civilday(b) - civilday(a)) << zone << " " << wall(a) << " " << wall(b);
        }
    }
    // Far from today, negative years included.
    Zone z("UTC");
    std::uniform_int_distribution<int64_t> far(-(1LL << 40), 1LL << 40);
    for (int i = 0; i < 2000; ++i) {
        int64_t a = far(rng), b = i % 2 ? far(rng) : a + far(rng) / 1000;
        int days;
        ASSERT_EQ(daysbetween(a, b, days), 0);
        ASSERT_EQ(days, civilday(b) - civilday(a)) << wall(a) << " " << wall(b);
    }
}

TEST(Calendar, CyclePeriod) {
    struct Case {
        int cycle, y, mo, d, h;
        int sy, smo, sd, ey, emo, ed;
    } cases[] = {
        {15, 2024, 3, 20, 10, 2024, 3, 15, 2024, 4, 15},
        {15, 2024, 3, 10, 10, 2024, 2, 15, 2024, 3, 15},
        {15, 2024, 12, 20, 10, 2024, 12, 15, 2025, 1, 15},
        {15, 2024, 3, 15, 0, 2024, 3, 15, 2024, 4, 15},
        {15, 2024, 1, 14, 23, 2023, 12, 15, 2024, 1, 15},
        {1, 2024, 3, 31, 23, 2024, 3, 1, 2024, 4, 1},
        {28, 2024, 2, 29, 10, 2024, 2, 28, 2024, 3, 28},
        {31, 2024, 3, 30, 10, 2024, 2, 29, 2024, 3, 31},
        {31, 2024, 3, 31, 10, 2024, 3, 31, 2024, 4, 30},
        {31, 2024, 4, 30, 10, 2024, 4, 30, 2024, 5, 31},
        {30, 2024, 1, 31, 10, 2024, 1, 30, 2024, 2, 29},
        {30, 2025, 3, 1, 10, 2025, 2, 28, 2025, 3, 30},
        {29, 2025, 2, 28, 10, 2025, 2, 28, 2025, 3, 29},
        {29, 2024, 12, 31, 10, 2024, 12, 29, 2025, 1, 29},
        {31, 2024, 12, 31, 10, 2024, 12, 31, 2025, 1, 31},
    };
    for (const char* zone : kZones) {
        Zone z(zone);
        for (const Case& c : cases) {
            int64_t start = 0, end = 0;
            EXPECT_EQ(cycleperiod(local(c.y, c.mo, c.d, c.h), c.cycle, start, end), 0);
            EXPECT_EQ(start, local(c.sy, c.smo, c.sd))
                << zone << " " << c.cycle << " " << wall(start);
            EXPECT_EQ(end, local(c.ey, c.emo, c.ed)) << zone << " " << c.cycle << " " << wall(end);
        }
        int64_t start = 7, end = 8;
        EXPECT_EQ(cycleperiod(INT64_MAX, 15, start, end), -1);
        EXPECT_EQ(start + end, 15);
    }
}

// For random times and every cycle day, the period holds the time and runs
// from local midnight of the cycle day (or the month's last day) to the same
// day of the next month, in every zone and across daylight-saving changes.
TEST(Calendar, CyclePeriodHoldsRandomTimes) {
    std::mt19937_64 rng(3);
    std::uniform_int_distribution<int64_t> any(0, 4102444800LL - 1);
    for (const char* zone : kZones) {
        Zone z(zone);
        for (int i = 0; i < 300; ++i) {
            int64_t t = any(rng);
            for (int cycle = 1; cycle <= 31; ++cycle) {
                int64_t start, end;
                ASSERT_EQ(cycleperiod(t, cycle, start, end), 0);
                ASSERT_LE(start, t) << zone << " " << cycle << " " << wall(t);
                ASSERT_GT(end, t) << zone << " " << cycle << " " << wall(t);
                struct tm s = breakdown(start), e = breakdown(end);
                int sy = s.tm_year + 1900, smo = s.tm_mon + 1;
                int ey = e.tm_year + 1900, emo = e.tm_mon + 1;
                ASSERT_EQ(s.tm_hour + s.tm_min + s.tm_sec, 0) << zone << " " << wall(start);
                ASSERT_EQ(e.tm_hour + e.tm_min + e.tm_sec, 0) << zone << " " << wall(end);
                ASSERT_EQ(s.tm_mday, std::min(cycle, length(sy, smo))) << wall(start);
                ASSERT_EQ(e.tm_mday, std::min(cycle, length(ey, emo))) << wall(end);
                ASSERT_EQ(ey * 12 + emo, sy * 12 + smo + 1) << wall(start) << " " << wall(end);
            }
        }
    }
}
