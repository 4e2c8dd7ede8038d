// SPDX-License-Identifier: MIT
// Tests for local time and calendar steps, each table run under several local
// zones set inside the process, including daylight-saving gaps and overlaps.
#include "pacelag/util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <vector>

#include "localzone.h"

namespace {

// One change of offset: the first second under the new offset.
struct Change {
    int64_t at;
    long before, after;
};

// The offset changes of a zone in a year: half-hour steps, then bisection.
std::vector<Change> changes(int year) {
    std::vector<Change> out;
    int64_t t = at(year * 10000 + 101), stop = at(year * 10000 + 10101);
    long off = breakdown(t).tm_gmtoff;
    for (; t < stop; t += 1800) {
        long next = breakdown(t + 1800).tm_gmtoff;
        if (next == off) continue;
        int64_t lo = t, hi = t + 1800;
        while (hi - lo > 1) {
            int64_t mid = lo + (hi - lo) / 2;
            (breakdown(mid).tm_gmtoff == off ? lo : hi) = mid;
        }
        out.push_back({hi, off, next});
        off = next;
    }
    return out;
}

} // namespace

// Month and field steps keep the wall clock, also across daylight-saving
// changes: each zone tested has one in March/April and one in October/November.
TEST(LocalTime, AddMonthsAndTimeAdd) {
    const unsigned kAddMonths = 100;
    struct Case {
        unsigned unit;
        int amount, from, fromtime, to, totime;
    } cases[] = {
        {kAddMonths, 1, 20240131, 102030, 20240229, 102030},
        {kAddMonths, 12, 20240229, 102030, 20250228, 102030},
        {kAddMonths, 1, 20250228, 102030, 20250331, 102030},
        {kAddMonths, -1, 20250331, 102030, 20250228, 102030},
        {kAddMonths, 1, 20240130, 102030, 20240301, 102030},
        {kAddMonths, -15, 20240315, 102030, 20221215, 102030},
        {kAddMonths, -4, 20240630, 102030, 20240229, 102030},
        {kAddMonths, 2, 20240220, 102030, 20240420, 102030},
        {kAddMonths, 2, 20240920, 102030, 20241120, 102030},
        {TIME_MONTH, 1, 20240131, 100000, 20240302, 100000},
        {TIME_MONTH, -13, 20240115, 100000, 20221215, 100000},
        {TIME_MINUTE, 45, 20240131, 233000, 20240201, 1500},
        {TIME_SECOND, -1, 20240101, 0, 20231231, 235959},
        {TIME_YEAR, 1, 20240229, 100000, 20250301, 100000},
        {TIME_DAY, 366, 20240101, 100000, 20250101, 100000},
        {TIME_DAY, 30, 20240309, 100000, 20240408, 100000},
        {TIME_DAY, 30, 20241005, 100000, 20241104, 100000},
        {TIME_HOUR, 24, 20241102, 100000, 20241103, 100000},
        {TIME_HOUR, 48, 20240330, 100000, 20240401, 100000},
        // Codes outside 1..6 add nothing.
        {0, 5, 20240601, 100000, 20240601, 100000},
        {TIME_WEEKDAY, 5, 20240601, 100000, 20240601, 100000},
        {0xFFFFFFFFu, 5, 20240601, 100000, 20240601, 100000},
    };
    for (const char* zone : kZones) {
        Zone z(zone);
        for (const Case& c : cases) {
            int64_t t = at(c.from, c.fromtime);
            int64_t r =
                c.unit == kAddMonths ? addmonths(t, c.amount) : timeadd(c.unit, t, c.amount);
            EXPECT_EQ(wall(r), wall(c.to, c.totime))
                << zone << " " << wall(t) << " unit " << c.unit << " + " << c.amount;
        }
    }
}

// Amounts whose sum leaves the int range carry into larger fields.
TEST(LocalTime, TimeAddWithExtremeAmounts) {
    Zone z("UTC");
    const int64_t t = 1700000000, big = INT_MAX, small = INT_MIN;
    struct Case {
        unsigned unit;
        int amount;
        int64_t expected;
    } cases[] = {
        {TIME_SECOND, INT_MAX, t + big},
        {TIME_MINUTE, INT_MAX, t + big * 60},
        {TIME_HOUR, INT_MIN, t + small * 3600},
        {TIME_DAY, INT_MAX, t + big * 86400},
        {TIME_YEAR, INT_MAX, -1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(timeadd(c.unit, t, c.amount), c.expected) << c.unit << " " << c.amount;
    // 2^31-1 months from November 2023 are 178956970 years and 7 months on.
    struct tm tm;
    ASSERT_NE(utctm(&tm, timeadd(TIME_MONTH, t, INT_MAX)), nullptr);
    EXPECT_EQ(tm.tm_year + 1900LL, 2023LL + 178956970 + 1);
    EXPECT_EQ(tm.tm_mon, 5);
    EXPECT_EQ(addmonths(INT64_MAX, 1), -1);
    tm = {};
    tm.tm_year = INT_MAX - 100;
    tm.tm_mday = 15;
    EXPECT_EQ(safemktime(tmaddmonths(&tm, INT_MAX)), -1);
    EXPECT_EQ(timeadd(TIME_DAY, INT64_MAX, 1), -1);
}

TEST(LocalTime, TmAddMonthsNormalisesOnlyBadInput) {
    struct Case {
        int mon, mday, n;
        int emon, emday; // fields as returned, not yet normalised
        int result;      // the date they convert to
    } cases[] = {
        {0, 15, 14, 14, 15, 20250315}, // in range: left unnormalised
        {2, 0, 1, 3, 0, 20240331},     // day 0 = 29 Feb, a last day
        {12, 15, 1, 1, 15, 20250215},  // month 12 = January next year
        {3, 31, 1, 5, 1, 20240601},    // 31 April = 1 May
        {1, 29, -1, 1, 0, 20240131},   // last day backwards
        {0, -1, 1, 12, 30, 20240130},  // day -1 = 30 Dec 2023, not a last day
    };
    for (const char* zone : kZones) {
        Zone z(zone);
        for (const Case& c : cases) {
            struct tm tm = breakdown(at(20240101, 120000));
            tm.tm_mon = c.mon;
            tm.tm_mday = c.mday;
            tm.tm_isdst = -1;
            EXPECT_EQ(tmaddmonths(&tm, c.n), &tm);
            EXPECT_EQ(tm.tm_mon * 100 + tm.tm_mday, c.emon * 100 + c.emday) << zone << " " << c.mon;
            tm.tm_isdst = -1;
            EXPECT_EQ(wall(safemktime(&tm)), wall(c.result, 120000)) << zone << " " << c.mon;
        }
    }
}

TEST(LocalTime, FieldsStartsAndDstFlag) {
    // Sunday 17 March 2024, 15:04:05 local.
    const unsigned units[] = {TIME_MONTH,  TIME_DAY,     TIME_YEAR, TIME_HOUR, TIME_MINUTE,
                              TIME_SECOND, TIME_WEEKDAY, 0,         8,         0x80000001u};
    const int expected[] = {3, 17, 2024, 15, 4, 5, 0, -1, -1, -1};
    const int keepdstmonths[][2] = {{1, 7}, {7, 1}, {1, 2}}; // of a and b
    for (const char* zone : kZones) {
        Zone z(zone);
        int64_t t = at(20240317, 150405);
        for (int i = 0; i < 10; ++i) EXPECT_EQ(timepart(t, units[i]), expected[i]) << zone << i;
        int y = 0, m = 0, d = 0;
        EXPECT_EQ(localdate(t, y, m, d), 0);
        EXPECT_EQ(y * 10000 + m * 100 + d, 20240317) << zone;
        EXPECT_EQ(monthstart(t), at(20240301)) << zone;
        EXPECT_EQ(daystart(t), at(20240317)) << zone;
        EXPECT_EQ(monthstart(at(20241130, 235959)), at(20241101)) << zone;
        // Same flag: a itself. Otherwise a's wall clock under b's offset.
        for (const auto& p : keepdstmonths) {
            int64_t a = at(20240015 + p[0] * 100, 120000), b = at(20240015 + p[1] * 100, 120000);
            struct tm ta = breakdown(a), tb = breakdown(b);
            EXPECT_EQ(keepdst(a, b),
                      ta.tm_isdst == tb.tm_isdst ? a : a + ta.tm_gmtoff - tb.tm_gmtoff)
                << zone << " " << p[0] << " " << p[1];
        }
        // Times that cannot be broken down.
        y = m = d = 7;
        EXPECT_EQ(localdate(INT64_MAX, y, m, d), -1);
        EXPECT_EQ(y + m + d, 21);
        EXPECT_EQ(timepart(INT64_MAX, TIME_DAY), -1);
        EXPECT_EQ(daystart(INT64_MAX), -1);
        EXPECT_EQ(monthstart(INT64_MAX), -1);
        EXPECT_EQ(keepdst(12345, INT64_MAX), 12345);
    }
}

// Around every offset change of the years scanned: a wall clock in the gap
// (its first, middle and last second) is read with the offset of the instant
// just before the change, also when that instant is flagged as daylight
// saving and the later one as standard time, and when a whole day is skipped;
// one in the overlap is the earlier of its instants; day and month starts on
// the change day are the first instant of that day.
TEST(LocalTime, DaylightSavingChanges) {
    // Havana changes at midnight, so its midnight is missing or repeated; on
    // 1 March 1981 Lord Howe's standard offset itself jumped at midnight.
    // Dublin's winter time has been flagged as daylight saving since 1971,
    // Casablanca's Ramadan time since 2018; Apia skipped 30 December 2011.
    struct {
        const char* zone;
        int from, to;
    } zones[] = {{"Europe/Berlin", 2024, 2024},       {"America/New_York", 2024, 2024},
                 {"Australia/Lord_Howe", 2024, 2024}, {"America/Havana", 2024, 2024},
                 {"Australia/Lord_Howe", 1981, 1981}, {"Europe/Dublin", 1968, 1976},
                 {"Europe/Dublin", 2024, 2024},       {"Africa/Casablanca", 2018, 2030},
                 {"Pacific/Apia", 2009, 2013}};
    for (const auto& zy : zones) {
        const char* zone = zy.zone;
        Zone z(zone);
        std::vector<Change> found;
        for (int year = zy.from; year <= zy.to; ++year) {
            std::vector<Change> more = changes(year);
            found.insert(found.end(), more.begin(), more.end());
        }
        ASSERT_FALSE(found.empty()) << zone;
        for (const Change& c : found) {
            // The missing or repeated wall-clock span, as fields.
            const int64_t first = c.at + std::min(c.before, c.after);
            const int64_t last = c.at + std::max(c.before, c.after) - 1;
            for (int64_t w : {first, first + (last - first) / 2, last}) {
                time_t v = w;
                struct tm fields;
                gmtime_r(&v, &fields);
                fields.tm_isdst = -1;
                char text[32];
                strftime(text, sizeof text, "%Y%m%d %H:%M:%S", &fields);
                int64_t r = safemktime(&fields);
                EXPECT_EQ(r, w - c.before) << zone << " " << text;
                EXPECT_EQ(isotime(text), w - c.before) << zone << " " << text;
                // The fields come back normalised to the instant's own wall clock.
                EXPECT_EQ(timegm(&fields), r + breakdown(r).tm_gmtoff) << zone << " " << text;
                // A step of seconds into a gap counts on from the last instant before it.
                if (c.after > c.before) {
                    int steps = static_cast<int>(w - c.at + 1 - c.before);
                    EXPECT_EQ(timeadd(TIME_SECOND, c.at - 1, steps), w - c.before)
                        << zone << " " << text;
                }
            }

            int64_t later = c.at + 6 * 3600, ds = daystart(later), ms = monthstart(later);
            struct tm day = breakdown(later), dsfields = breakdown(ds), msfields = breakdown(ms);
            EXPECT_TRUE(ds <= later && daybegins(ds) && dsfields.tm_mday == day.tm_mday)
                << zone << " " << wall(ds);
            EXPECT_TRUE(daybegins(ms) && msfields.tm_mday == 1 && msfields.tm_mon == day.tm_mon)
                << zone << " " << wall(ms);
        }
    }
}

// Steps and texts that name a wall clock in a gap, against offsets read from
// the zone database by hand: the date named is never left for an earlier one.
TEST(LocalTime, GapsInZonesWithUnusualRules) {
    struct {
        const char* zone;
        int ymd, hms;
        int64_t expected;
    } cases[] = {
        {"Europe/Dublin", 19720319, 23000, 69820200},       // GMT (flagged daylight) to IST
        {"Africa/Casablanca", 20190609, 23000, 1560047400}, // +00 (flagged daylight) to +01
        {"Pacific/Apia", 20111230, 120000, 1325282400},     // the day that was skipped
        {"Pacific/Apia", 20111230, 0, 1325239200},
        {"Pacific/Apia", 20111230, 235959, 1325325599},
    };
    for (const auto& c : cases) {
        Zone z(c.zone);
        struct tm fields = {};
        fields.tm_year = c.ymd / 10000 - 1900;
        fields.tm_mon = c.ymd / 100 % 100 - 1;
        fields.tm_mday = c.ymd % 100;
        fields.tm_hour = c.hms / 10000;
        fields.tm_min = c.hms / 100 % 100;
        fields.tm_sec = c.hms % 100;
        fields.tm_isdst = -1;
        EXPECT_EQ(safemktime(&fields), c.expected) << c.zone << " " << wall(c.ymd, c.hms);
        // One day on from the same time of the day before.
        EXPECT_EQ(timeadd(TIME_DAY, at(c.ymd - 1, c.hms), 1), c.expected)
            << c.zone << " " << wall(c.ymd, c.hms);
    }
}

// Field steps that carry past the clock's range and land on a repeated wall
// clock give its earlier instant, whatever mktime was asked before; a step
// across the repeated span keeps to the wall clock.
TEST(LocalTime, FieldStepsAroundRepeatedHour) {
    for (const char* zone : kZones) {
        Zone z(zone);
        for (const Change& c : changes(2024)) {
            if (c.after >= c.before) continue;
            const int64_t s = c.before - c.after, p = c.at - s / 2; // first reading
            const int64_t q = p - 3600, r = p + s + 3600;           // an hour either side
            const struct {
                int64_t from;
                unsigned unit;
                int amount;
                int64_t to;
            } cases[] = {
                {q, TIME_SECOND, 3600, p}, {q, TIME_MINUTE, 60, p},   {r, TIME_SECOND, -3600, p},
                {r, TIME_MINUTE, -60, p},  {p, TIME_SECOND, 3600, r}, {p, TIME_MINUTE, 60, r},
            };
            for (const auto& k : cases) {
                for (int primer : {20240115, 20240715}) {
                    at(primer, 120000); // mktime's guess of the offset
                    EXPECT_EQ(timeadd(k.unit, k.from, k.amount), k.to)
                        << zone << " " << wall(k.from) << " unit " << k.unit << " + " << k.amount
                        << " after " << primer;
                }
            }
        }
    }
}

TEST(LocalTimeDeathTest, NullRecords) {
    EXPECT_DEATH(utctm(nullptr, 0), "utctm");
    EXPECT_DEATH(localtm(nullptr, 0), "localtm");
    EXPECT_DEATH(safemktime(nullptr), "safemktime");
    EXPECT_DEATH(tmaddmonths(nullptr, 1), "tmaddmonths");
}
