// SPDX-License-Identifier: MIT
// Tests for calendar differences and monthly periods, each table run under
// several local zones set inside the process, and for month lengths and day
// numbers against the C library.
#include "pacelag/util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "localzone.h"

namespace {

// Day count of t's local date, independently: the date read back as UTC.
int64_t civilday(int64_t t) {
    struct tm tm = breakdown(t);
    tm.tm_hour = tm.tm_min = tm.tm_sec = 0;
    tm.tm_isdst = 0;
    return static_cast<int64_t>(timegm(&tm)) / 86400;
}

// The length of the month of a local date, independently.
int length(const struct tm& tm) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    int y = tm.tm_year + 1900;
    bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    return tm.tm_mon == 1 && leap ? 29 : days[tm.tm_mon];
}

// Return codes and results of monthsbetween and daysbetween, both failing
// together here.
typedef std::vector<int> Vec;
Vec between(int64_t a, int64_t b) {
    int months = 99, days = 99, calendardays = 99;
    int rc = monthsbetween(a, b, months, days);
    EXPECT_EQ(daysbetween(a, b, calendardays), rc);
    return {rc, months, days, calendardays};
}

// 1 when t is the first instant after a skipped day (the cycle day that was
// skipped begins there), else 0.
int skipped(int64_t t) {
    return civilday(t) - civilday(t - 1) == 2 ? 1 : 0;
}

std::mt19937_64 rng(7);
std::uniform_int_distribution<int64_t> modern(0, 4102444800LL - 1); // 1970 to 2100

} // namespace

TEST(Calendar, MonthsAndDaysBetween) {
    struct Case {
        int a, atime, b, btime;
        int months, days, calendardays;
    } cases[] = {
        {20240115, 100000, 20240320, 90000, 2, 5, 65},
        {20240120, 100000, 20240315, 100000, 1, 24, 55},
        {20250120, 100000, 20250315, 100000, 1, 23, 54},
        {20240116, 100000, 20240315, 100000, 2, 0, 59}, // A's day is B's day + 1
        {20240115, 100000, 20240315, 90000, 2, 0, 60},
        {20240101, 100000, 20240131, 100000, 1, 0, 30}, // first day to last day
        {20240131, 100000, 20240229, 100000, 1, 0, 29}, // last day to last day
        {20240601, 100000, 20240601, 100000, 0, 0, 0},
        {20231220, 100000, 20240110, 100000, 0, 21, 21},
        {20240315, 100000, 20240420, 90000, 1, 5, 36},   // across spring changes
        {20241010, 100000, 20241105, 100000, 0, 26, 26}, // across autumn changes
        {20200229, 120000, 20240228, 120000, 48, 0, 1460},
        {20240130, 100000, 20240301, 100000, 1, 1, 31},
        {20240228, 230000, 20240301, 10000, 0, 2, 2},
        // The day count follows the time of day when A's day is past the
        // end of B's month and B is on its last day.
        {20250130, 80000, 20250228, 90000, 1, 28, 29},
        {20250130, 100000, 20250228, 90000, 1, 0, 29},
    };
    for (const char* zone : kZones) {
        Zone z(zone);
        for (const Case& c : cases) {
            int64_t a = at(c.a, c.atime), b = at(c.b, c.btime);
            EXPECT_EQ(between(a, b), Vec({0, c.months, c.days, c.calendardays})) << zone << c.a;
            EXPECT_EQ(between(b, a), Vec({0, -c.months, -c.days, -c.calendardays})) << zone << c.a;
        }
        EXPECT_EQ(between(0, INT64_MAX), Vec({-1, 0, 0, 0})) << zone;
        EXPECT_EQ(between(INT64_MAX, 0), Vec({-1, 0, 0, 0})) << zone;
    }
}

// Random pairs: daysbetween matches an independent day count; swapping the
// arguments of monthsbetween negates both results; its day count stays
// below a month and within one month equals the plain date difference.
TEST(Calendar, RandomPairs) {
    for (const char* zone : kZones) {
        Zone z(zone);
        for (int i = 0; i < 1500; ++i) {
            int64_t a = modern(rng), b = modern(rng);
            if (i % 3 == 0) b = a + (b % (120 * 86400)); // close pairs too
            Vec ab = between(a, b), ba = between(b, a), fwd = a <= b ? ab : ba;
            std::string shown = std::string(zone) + " " + wall(a) + " " + wall(b);
            ASSERT_EQ(ab, Vec({0, ab[1], ab[2], int(civilday(b) - civilday(a))})) << shown;
            ASSERT_EQ(ba, Vec({0, -ab[1], -ab[2], -ab[3]})) << shown;
            ASSERT_TRUE(fwd[1] >= 0 && fwd[2] >= 0 && fwd[2] <= 30 &&
                        (fwd[1] > 0 || fwd[2] == fwd[3]))
                << shown;
        }
    }
    // Far from today, negative years included.
    Zone z("UTC");
    std::uniform_int_distribution<int64_t> far(-(1LL << 40), 1LL << 40);
    for (int i = 0; i < 2000; ++i) {
        int64_t a = far(rng), b = i % 2 ? far(rng) : a + far(rng) / 1000;
        int days = 99;
        ASSERT_EQ(daysbetween(a, b, days), 0);
        ASSERT_EQ(days, civilday(b) - civilday(a)) << wall(a) << " " << wall(b);
    }
}

TEST(Calendar, CyclePeriod) {
    struct Case {
        int cycle, t, start, end;
    } cases[] = {
        {15, 20240320, 20240315, 20240415}, {15, 20240310, 20240215, 20240315},
        {15, 20241220, 20241215, 20250115}, {15, 20240315, 20240315, 20240415},
        {1, 20240331, 20240301, 20240401},  {28, 20240229, 20240228, 20240328},
        {31, 20240330, 20240229, 20240331}, {31, 20240331, 20240331, 20240430},
        {31, 20240430, 20240430, 20240531}, {30, 20240131, 20240130, 20240229},
        {30, 20250301, 20250228, 20250330}, {29, 20250228, 20250228, 20250329},
    };
    for (const char* zone : kZones) {
        Zone z(zone);
        for (const Case& c : cases) {
            for (int hms : {0, 100000, 235959}) {
                int64_t start = 0, end = 0;
                EXPECT_EQ(cycleperiod(at(c.t, hms), c.cycle, start, end), 0);
                EXPECT_EQ(wall(start), wall(c.start, 0)) << zone << " " << c.cycle << " " << c.t;
                EXPECT_EQ(wall(end), wall(c.end, 0)) << zone << " " << c.cycle << " " << c.t;
            }
        }
        int64_t start = 7, end = 8;
        EXPECT_EQ(cycleperiod(INT64_MAX, 15, start, end), -1);
        EXPECT_EQ(start * 10 + end, 78);
    }
}

// Apia skipped 30 December 2011: a period that begins or ends on that day does
// so at the first instant after it, never on the 29th.
TEST(Calendar, CyclePeriodAroundASkippedDay) {
    Zone z("Pacific/Apia");
    struct Case {
        int cycle, t, start, end;
    } cases[] = {
        {30, 20111229, 20111130, 20111231},
        {30, 20120101, 20111231, 20120130},
        {31, 20120101, 20111231, 20120131},
        {29, 20111229, 20111229, 20120129},
    };
    for (const Case& c : cases) {
        int64_t start = 0, end = 0;
        EXPECT_EQ(cycleperiod(at(c.t, 120000), c.cycle, start, end), 0);
        EXPECT_EQ(wall(start), wall(c.start, 0)) << c.cycle << " " << c.t;
        EXPECT_EQ(wall(end), wall(c.end, 0)) << c.cycle << " " << c.t;
    }
}

// For random times and every cycle day, the period holds the time and runs
// from local midnight of the cycle day (or the month's last day) to the same
// day of the next month, in every zone and across daylight-saving changes.
TEST(Calendar, CyclePeriodHoldsRandomTimes) {
    // Havana's clocks change at midnight, so some cycle days begin at 01:00.
    std::vector<std::string> zones = {"America/Havana"};
    zones.insert(zones.end(), std::begin(kZones), std::end(kZones));
    for (const std::string& name : zones) {
        const char* zone = name.c_str();
        Zone z(zone);
        for (int i = 0; i < 300; ++i) {
            int64_t t = modern(rng);
            for (int cycle = 1; cycle <= 31; ++cycle) {
                int64_t start, end;
                ASSERT_EQ(cycleperiod(t, cycle, start, end), 0) << zone << " " << cycle << " " << t;
                ASSERT_TRUE(start <= t && t < end) << zone << " " << cycle << " " << wall(t);
                struct tm s = breakdown(start), e = breakdown(end);
                // Local midnight, or the first instant of a day that has none.
                ASSERT_TRUE(daybegins(start) && daybegins(end)) << zone << " " << wall(start);
                ASSERT_EQ(s.tm_mday, std::min(cycle, length(s)) + skipped(start)) << wall(start);
                ASSERT_EQ(e.tm_mday, std::min(cycle, length(e)) + skipped(end)) << wall(end);
                ASSERT_EQ(e.tm_year * 12 + e.tm_mon, s.tm_year * 12 + s.tm_mon + 1) << wall(start);
            }
        }
    }
}

TEST(Bits, Calendar) {
    struct {
        int year, mon, days;
    } months[] = {{0, 1, 28},   {100, 1, 29}, {124, 1, 29},  {123, 1, 28},  {500, 1, 29},
                  {200, 1, 28}, {124, 3, 30}, {124, 11, 31}, {124, 12, -1}, {124, -1, -1}};
    for (auto& c : months) {
        struct tm date = {};
        date.tm_year = c.year;
        date.tm_mon = c.mon;
        EXPECT_EQ(monthdays(&date), c.days) << c.year << " " << c.mon;
    }
    EXPECT_EQ(daynumber(1, 1, 1), 1);
    EXPECT_EQ(daynumber(1970, 1, 1), 719163);
    EXPECT_EQ(daynumber(2000, 3, 1) - daynumber(2000, 2, 28), 2);
    EXPECT_EQ(daynumber(9999, 12, 31), 3652059);
    daynumber(INT32_MAX, 12, 31); // out of range: any value, but defined behaviour
    std::mt19937 rng(1970);
    for (int round = 0; round < 3000; ++round) {
        struct tm date = {};
        date.tm_year = int(rng() % (9999 - 1970 + 1)) + 70;
        date.tm_mon = int(rng() % 12);
        date.tm_mday = int(rng() % monthdays(&date)) + 1;
        int64_t days = int64_t(timegm(&date)) / 86400;
        ASSERT_EQ(daynumber(date.tm_year + 1900, date.tm_mon + 1, date.tm_mday) - 719163, days)
            << date.tm_year + 1900 << "-" << date.tm_mon + 1 << "-" << date.tm_mday;
    }
}
