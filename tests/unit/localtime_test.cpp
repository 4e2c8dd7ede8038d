// Tests for local time and calendar steps, each table run under several local
// zones set inside the process, including daylight-saving gaps and overlaps.
#include "pacelag/util.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <ctime>
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

// Wall clock as "YYYY-MM-DD hh:mm:ss" for readable failures.
std::string wall(int64_t t) {
    struct tm tm = breakdown(t);
    char text[64];
    strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
    return text;
}

std::string wall(int y, int mo, int d, int h, int mi, int s) {
    char text[64];
    snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", y, mo, d, h, mi, s);
    return text;
}

// One change of offset: the first second under the new offset.
struct Change {
    int64_t at;
    long before, after;
};

// The offset changes of a zone in a year, found by bisecting hourly steps.
int changes(int year, Change* out, int max) {
    int n = 0;
    int64_t t = local(year, 1, 1), stop = local(year + 1, 1, 1);
    long off = breakdown(t).tm_gmtoff;
    for (; t < stop && n < max; t += 1800) {
        long next = breakdown(t + 1800).tm_gmtoff;
        if (next == off) continue;
        int64_t lo = t, hi = t + 1800;
        while (hi - lo > 1) {
            int64_t mid = lo + (hi - lo) / 2;
            (breakdown(mid).tm_gmtoff == off ? lo : hi) = mid;
        }
        out[n++] = {hi, off, next};
        off = next;
    }
    return n;
}

} // namespace

TEST(LocalTime, AddMonthsKeepsLastDayAndWallClock) {
    struct Case {
        int y, mo, d, n, ey, emo, ed;
    } cases[] = {
        {2024, 1, 31, 1, 2024, 2, 29},   {2024, 2, 29, 12, 2025, 2, 28},
        {2025, 2, 28, 1, 2025, 3, 31},   {2025, 3, 31, -1, 2025, 2, 28},
        {2024, 1, 30, 1, 2024, 3, 1},    {2025, 1, 30, 1, 2025, 3, 2},
        {2023, 12, 31, 2, 2024, 2, 29},  {2024, 3, 15, -15, 2022, 12, 15},
        {2024, 4, 30, 1, 2024, 5, 31},   {2024, 2, 20, 1, 2024, 3, 20},
        {2024, 3, 20, 1, 2024, 4, 20},   {2024, 9, 20, 1, 2024, 10, 20},
        {2024, 10, 20, 1, 2024, 11, 20}, {2024, 11, 20, -8, 2024, 3, 20},
        {2024, 5, 31, 0, 2024, 5, 31},   {2024, 6, 30, -4, 2024, 2, 29},
    };
    for (const char* zone : kZones) {
        Zone z(zone);
        for (const Case& c : cases) {
            int64_t r = addmonths(local(c.y, c.mo, c.d, 10, 20, 30), c.n);
            EXPECT_EQ(wall(r), wall(c.ey, c.emo, c.ed, 10, 20, 30))
                << zone << " " << wall(c.y, c.mo, c.d, 10, 20, 30) << " + " << c.n;
        }
    }
}

TEST(LocalTime, TmAddMonthsNormalisesOnlyBadInput) {
    struct Case {
        int y, mon, mday, n;
        int emon, emday; // fields as returned, not yet normalised
        int ry, rmo, rd; // date after conversion
    } cases[] = {
        {2024, 0, 15, 14, 14, 15, 2025, 3, 15}, // in range: left unnormalised
        {2024, 2, 0, 1, 3, 0, 2024, 3, 31},     // day 0 = 29 Feb, a last day
        {2024, 12, 15, 1, 1, 15, 2025, 2, 15},  // month 12 = January next year
        {2024, 3, 31, 1, 5, 1, 2024, 6, 1},     // 31 April = 1 May
        {2024, 1, 29, -1, 1, 0, 2024, 1, 31},   // last day backwards
        {2024, 0, -1, 1, 12, 30, 2024, 1, 30},  // day -1 = 30 Dec 2023, not a last day
    };
    for (const char* zone : kZones) {
        Zone z(zone);
        for (const Case& c : cases) {
            struct tm tm = {};
            tm.tm_year = c.y - 1900;
            tm.tm_mon = c.mon;
            tm.tm_mday = c.mday;
            tm.tm_hour = 12;
            tm.tm_isdst = -1;
            EXPECT_EQ(tmaddmonths(&tm, c.n), &tm);
            EXPECT_EQ(tm.tm_mon, c.emon) << zone << " mon " << c.mon << " day " << c.mday;
            EXPECT_EQ(tm.tm_mday, c.emday) << zone << " mon " << c.mon << " day " << c.mday;
            tm.tm_isdst = -1;
            EXPECT_EQ(wall(safemktime(&tm)), wall(c.ry, c.rmo, c.rd, 12, 0, 0)) << zone;
        }
    }
}

TEST(LocalTime, TimeAddCarriesThroughTheCalendar) {
    struct Case {
        unsigned unit;
        int amount;
        int y, mo, d, h, mi, s;
        int ey, emo, ed, eh, emi, es;
    } cases[] = {
        {TIME_MONTH, 1, 2024, 1, 31, 10, 0, 0, 2024, 3, 2, 10, 0, 0},
        {TIME_MONTH, 1, 2025, 1, 31, 10, 0, 0, 2025, 3, 3, 10, 0, 0},
        {TIME_MONTH, -13, 2024, 1, 15, 10, 0, 0, 2022, 12, 15, 10, 0, 0},
        {TIME_MINUTE, 45, 2024, 1, 31, 23, 30, 0, 2024, 2, 1, 0, 15, 0},
        {TIME_SECOND, -1, 2024, 1, 1, 0, 0, 0, 2023, 12, 31, 23, 59, 59},
        {TIME_YEAR, 1, 2024, 2, 29, 10, 0, 0, 2025, 3, 1, 10, 0, 0},
        {TIME_DAY, 366, 2024, 1, 1, 10, 0, 0, 2025, 1, 1, 10, 0, 0},
        // Field arithmetic keeps the wall clock across daylight-saving changes.
        {TIME_DAY, 1, 2024, 3, 30, 10, 0, 0, 2024, 3, 31, 10, 0, 0},
        {TIME_DAY, 1, 2024, 3, 9, 10, 0, 0, 2024, 3, 10, 10, 0, 0},
        {TIME_DAY, 1, 2024, 10, 5, 10, 0, 0, 2024, 10, 6, 10, 0, 0},
        {TIME_DAY, 1, 2024, 4, 6, 10, 0, 0, 2024, 4, 7, 10, 0, 0},
        {TIME_DAY, 7, 2024, 10, 25, 10, 0, 0, 2024, 11, 1, 10, 0, 0},
        {TIME_HOUR, 24, 2024, 11, 2, 10, 0, 0, 2024, 11, 3, 10, 0, 0},
        {TIME_HOUR, 48, 2024, 3, 30, 10, 0, 0, 2024, 4, 1, 10, 0, 0},
        // Codes outside 1..6 add nothing.
        {0, 5, 2024, 6, 1, 10, 0, 0, 2024, 6, 1, 10, 0, 0},
        {TIME_WEEKDAY, 5, 2024, 6, 1, 10, 0, 0, 2024, 6, 1, 10, 0, 0},
        {8, 5, 2024, 6, 1, 10, 0, 0, 2024, 6, 1, 10, 0, 0},
        {0xFFFFFFFFu, 5, 2024, 6, 1, 10, 0, 0, 2024, 6, 1, 10, 0, 0},
    };
    for (const char* zone : kZones) {
        Zone z(zone);
        for (const Case& c : cases) {
            int64_t r = timeadd(c.unit, local(c.y, c.mo, c.d, c.h, c.mi, c.s), c.amount);
            EXPECT_EQ(wall(r), wall(c.ey, c.emo, c.ed, c.eh, c.emi, c.es))
                << zone << " unit " << c.unit << " amount " << c.amount;
        }
    }
}

TEST(LocalTime, TimeAddWithExtremeAmounts) {
    Zone z("UTC");
    const int64_t t = 1700000000; // 2023-11-14 22:13:20 UTC
    struct Case {
        unsigned unit;
        int amount;
        int64_t expected;
    } cases[] = {
        {TIME_SECOND, INT_MAX, t + INT_MAX},
        {TIME_SECOND, INT_MIN, t + static_cast<int64_t>(INT_MIN)},
        {TIME_MINUTE, INT_MAX, t + static_cast<int64_t>(INT_MAX) * 60},
        {TIME_HOUR, INT_MIN, t + static_cast<int64_t>(INT_MIN) * 3600},
        {TIME_DAY, INT_MAX, t + static_cast<int64_t>(INT_MAX) * 86400},
        {TIME_DAY, INT_MIN, t + static_cast<int64_t>(INT_MIN) * 86400},
        {TIME_YEAR, INT_MAX, -1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(timeadd(c.unit, t, c.amount), c.expected) << c.unit << " " << c.amount;
    // Month overflow carries into the year: 2^31-1 months is 178956970 years 7 months.
    struct tm tm;
    int64_t r = timeadd(TIME_MONTH, t, INT_MAX);
    ASSERT_NE(utctm(&tm, r), nullptr);
    EXPECT_EQ(tm.tm_year + 1900LL, 2023LL + 178956970 + 1);
    EXPECT_EQ(tm.tm_mon, 5);
    EXPECT_EQ(addmonths(t, INT_MIN) < 0, true);
    EXPECT_EQ(addmonths(INT64_MAX, 1), -1);
    EXPECT_EQ(timeadd(TIME_DAY, INT64_MAX, 1), -1);
}

TEST(LocalTime, TimePartAndLocalDate) {
    // Sunday 17 March 2024, 15:04:05 local.
    struct Case {
        unsigned unit;
        int expected;
    } cases[] = {
        {TIME_MONTH, 3},  {TIME_DAY, 17},    {TIME_YEAR, 2024}, {TIME_HOUR, 15},
        {TIME_MINUTE, 4}, {TIME_SECOND, 5},  {TIME_WEEKDAY, 0}, {0, -1},
        {8, -1},          {0xFFFFFFFFu, -1}, {0x80000001u, -1},
    };
    for (const char* zone : kZones) {
        Zone z(zone);
        int64_t t = local(2024, 3, 17, 15, 4, 5);
        for (const Case& c : cases) EXPECT_EQ(timepart(t, c.unit), c.expected) << zone << c.unit;
        int y = 0, m = 0, d = 0;
        EXPECT_EQ(localdate(t, y, m, d), 0);
        EXPECT_EQ(y * 10000 + m * 100 + d, 20240317) << zone;
        y = m = d = 7;
        EXPECT_EQ(localdate(INT64_MAX, y, m, d), -1);
        EXPECT_EQ(y + m + d, 21);
        EXPECT_EQ(timepart(INT64_MAX, TIME_DAY), -1);
    }
}

TEST(LocalTime, DayAndMonthStart) {
    for (const char* zone : kZones) {
        Zone z(zone);
        EXPECT_EQ(monthstart(local(2024, 3, 17, 15)), local(2024, 3, 1)) << zone;
        EXPECT_EQ(monthstart(local(2024, 11, 30, 23, 59, 59)), local(2024, 11, 1)) << zone;
        EXPECT_EQ(daystart(local(2024, 3, 17, 15)), local(2024, 3, 17)) << zone;
        EXPECT_EQ(daystart(local(2024, 2, 29)), local(2024, 2, 29)) << zone;
        EXPECT_EQ(daystart(INT64_MAX), -1);
        EXPECT_EQ(monthstart(INT64_MAX), -1);
    }
}

TEST(LocalTime, KeepDstCarriesTheFlag) {
    struct Case {
        int amo, bmo; // months of a (12:00 on the 15th) and b
    } cases[] = {{1, 7}, {7, 1}, {1, 2}, {7, 8}, {12, 6}};
    for (const char* zone : kZones) {
        Zone z(zone);
        for (const Case& c : cases) {
            int64_t a = local(2024, c.amo, 15, 12), b = local(2024, c.bmo, 15, 12);
            struct tm ta = breakdown(a), tb = breakdown(b);
            // Same flag: a itself. Otherwise a's wall clock under b's offset.
            int64_t expected = ta.tm_isdst == tb.tm_isdst ? a : a + ta.tm_gmtoff - tb.tm_gmtoff;
            EXPECT_EQ(keepdst(a, b), expected) << zone << " " << c.amo << " " << c.bmo;
        }
        EXPECT_EQ(keepdst(12345, INT64_MAX), 12345);
    }
}

// Around every offset change of 2024: a wall clock in the gap is read as the
// offset before the change; one in the overlap is the earlier of its instants;
// day and month starts on the change day are local midnight.
TEST(LocalTime, DaylightSavingChanges) {
    const char* zones[] = {"Europe/Berlin", "America/New_York", "Australia/Lord_Howe",
                           "America/Havana"};
    for (const char* zone : zones) {
        Zone z(zone);
        Change found[8];
        int n = changes(2024, found, 8);
        ASSERT_EQ(n, 2) << zone;
        for (int i = 0; i < n; ++i) {
            const Change& c = found[i];
            long lowoff = c.before < c.after ? c.before : c.after;
            long highoff = c.before < c.after ? c.after : c.before;
            // Middle of the missing or repeated wall-clock span, as fields.
            time_t w = c.at + lowoff + (highoff - lowoff) / 2;
            struct tm fields;
            gmtime_r(&w, &fields);
            fields.tm_isdst = -1;
            int64_t r = safemktime(&fields);
            if (c.after > c.before) {
                EXPECT_EQ(r, w - c.before) << zone << " gap " << wall(c.at);
            } else {
                // The earlier of the two instants, whatever mktime saw before.
                EXPECT_EQ(r, w - c.before) << zone << " overlap " << wall(c.at);
                struct tm again;
                gmtime_r(&w, &again);
                again.tm_isdst = -1;
                local(2024, 7, 1);
                EXPECT_EQ(safemktime(&again), r);
                gmtime_r(&w, &again);
                again.tm_isdst = -1;
                local(2024, 1, 1);
                EXPECT_EQ(safemktime(&again), r);
            }
            // The fields come back normalised to the instant returned.
            struct tm back = breakdown(r);
            EXPECT_EQ(fields.tm_hour, back.tm_hour);
            EXPECT_EQ(fields.tm_min, back.tm_min);

            // Starts on the change day; Havana changes at midnight, where
            // local midnight does not exist in spring.
            int64_t later = c.at + 6 * 3600;
            struct tm day = breakdown(later);
            int64_t ds = daystart(later);
            struct tm dsb = breakdown(ds);
            EXPECT_EQ(dsb.tm_mday, day.tm_mday) << zone;
            EXPECT_LE(ds, later);
            EXPECT_EQ(breakdown(ds - 1).tm_mday == day.tm_mday, false) << zone << wall(ds);
            int64_t ms = monthstart(later);
            EXPECT_EQ(breakdown(ms).tm_mday, 1) << zone;
            EXPECT_EQ(breakdown(ms).tm_mon, day.tm_mon) << zone;
            EXPECT_NE(breakdown(ms - 1).tm_mon, day.tm_mon) << zone;
        }
    }
}

TEST(LocalTime, SafeMkTimeLeavesOtherInputToMkTime) {
    Zone z("Europe/Berlin");
    struct Case {
        int mon, mday, hour, min, sec, isdst;
    } cases[] = {
        {2, 31, 2, 30, 0, 1},   // gap with an explicit flag
        {2, 31, 2, 30, 0, 0},   // gap read as standard time by the flag itself
        {2, 30, 26, 30, 0, -1}, // hour out of range carries into the gap day
        {0, 32, 10, 0, 0, -1},  // day out of range
        {5, 15, 10, 75, 0, -1}, // minute out of range
    };
    for (const Case& c : cases) {
        struct tm a = {}, b;
        a.tm_year = 124;
        a.tm_mon = c.mon;
        a.tm_mday = c.mday;
        a.tm_hour = c.hour;
        a.tm_min = c.min;
        a.tm_sec = c.sec;
        a.tm_isdst = c.isdst;
        b = a;
        EXPECT_EQ(safemktime(&a), static_cast<int64_t>(mktime(&b)))
            << c.mon << " " << c.mday << " " << c.hour;
    }
}

TEST(LocalTimeDeathTest, NullRecords) {
    struct tm tm = {};
    EXPECT_DEATH(utctm(nullptr, 0), "utctm");
    EXPECT_DEATH(localtm(nullptr, 0), "localtm");
    EXPECT_DEATH(safemktime(nullptr), "safemktime");
    EXPECT_DEATH(tmaddmonths(nullptr, 1), "tmaddmonths");
    EXPECT_NE(utctm(&tm, 0), nullptr);
}
