// SPDX-License-Identifier: MIT
// Tests for the date texts: fixed examples, agreement with strftime for many
// times in several local zones, buffer limits and the compact local reader.
#include "pacelag/util.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "localzone.h"

namespace {

typedef int (*Writer)(int64_t, char*, int);

struct Form {
    Writer write;
    int (*now)(char*, int);
    int smallest;
    bool utc;
    const char* pattern; // the same text by strftime
} const kForms[] = {
    {gmtdate, gmtdatenow, 32, true, "%a, %d %b %Y %H:%M:%S GMT"},
    {asctimetext, asctimetextnow, 27, false, "%a %b %d %H:%M:%S %Y"},
    {shorttimetext, shorttimetextnow, 23, false, "%b %d %H:%M:%S %Y"},
    {maildate, maildatenow, 34, false, "%a, %d %b %Y %H:%M:%S %z"},
};

std::string reference(const Form& f, int64_t t) {
    time_t v = t;
    struct tm tm;
    if (f.utc)
        gmtime_r(&v, &tm);
    else
        localtime_r(&v, &tm);
    char text[64];
    strftime(text, sizeof text, f.pattern, &tm);
    return text;
}

} // namespace

TEST(DateText, SizesAndFailures) {
    Zone z("<+01>-1");           // one hour east, no daylight saving
    const int64_t t = 784111777; // 1994-11-06 08:49:37 UTC
    const char* expected[] = {"Sun, 06 Nov 1994 08:49:37 GMT", "Sun Nov 06 09:49:37 1994",
                              "Nov 06 09:49:37 1994", "Sun, 06 Nov 1994 09:49:37 +0100"};
    for (int i = 0; i < 4; ++i) {
        const Form& f = kForms[i];
        char buf[64];
        memset(buf, 'x', sizeof buf);
        EXPECT_EQ(f.write(t, buf, f.smallest), 0) << i;
        EXPECT_STREQ(buf, expected[i]);
        // One byte less is refused with the empty text.
        memset(buf, 'x', sizeof buf);
        EXPECT_EQ(f.write(t, buf, f.smallest - 1), -1) << i;
        EXPECT_EQ(buf[0] == '\0' && buf[1] == 'x', true) << i;
        // No bytes at all: nothing is written.
        memset(buf, 'x', sizeof buf);
        EXPECT_EQ(f.write(t, buf, 0), -1);
        EXPECT_EQ(buf[0], 'x');
        // A time that cannot be broken down.
        EXPECT_EQ(f.write(INT64_MAX, buf, sizeof buf), -1) << i;
        EXPECT_STREQ(buf, "");
        // The current time.
        int64_t before = time(nullptr);
        ASSERT_EQ(f.now(buf, sizeof buf), 0);
        EXPECT_TRUE(buf == reference(f, before) || buf == reference(f, time(nullptr))) << buf;
    }
}

// Random times from 1970 to 2100 and every half hour of the months with
// daylight-saving changes, against strftime in each zone.
TEST(DateText, AgreesWithStrftime) {
    std::mt19937_64 rng(20240131);
    std::uniform_int_distribution<int64_t> any(0, 4102444800LL - 1);
    int64_t samples[3000];
    for (int64_t& s : samples) s = any(rng);
    for (const char* zone : kZones) {
        Zone z(zone);
        auto check = [&](int64_t t) {
            for (const Form& f : kForms) {
                char buf[40];
                ASSERT_EQ(f.write(t, buf, sizeof buf), 0) << f.pattern << " " << t;
                ASSERT_EQ(buf, reference(f, t)) << zone << " " << t;
            }
        };
        for (int64_t t : samples) check(t);
        for (int month : {20240301, 20240401, 20241001, 20241101})
            for (int64_t t = at(month) - 1, end = t + 31 * 86400; t < end; t += 1800) check(t);
    }
}

// Years past four characters: the text is written whole or not at all.
TEST(DateText, LongYearsNeverOverrunTheBuffer) {
    Zone z("UTC");
    const int64_t y10000 = 253402300800LL, y1e9 = 31556889832780800LL;
    struct Case {
        Writer write;
        int64_t t;
        int size;
        const char* expected; // "" for a refusal
    } cases[] = {
        {gmtdate, y10000, 32, "Sat, 01 Jan 10000 00:00:00 GMT"},
        {gmtdate, y1e9, 36, "Sat, 01 Jan 1000000000 00:00:00 GMT"},
        {gmtdate, -62198755200LL, 32, "Fri, 01 Jan -1 00:00:00 GMT"},
        {gmtdate, -30640853664000LL, 32, ""}, // 32 characters
        {gmtdate, -30640853664000LL, 33, "Wed, 01 Jan -969000 00:00:00 GMT"},
        {asctimetext, y1e9, 30, ""},
        {asctimetext, y1e9, 31, "Sat Jan 01 00:00:00 1000000000"},
        {shorttimetext, y10000, 23, "Jan 01 00:00:00 10000"},
        {shorttimetext, y1e9, 23, ""},
        {maildate, y10000, 34, "Sat, 01 Jan 10000 00:00:00 +0000"},
        {maildate, y1e9, 37, ""},
        {maildate, y1e9, 38, "Sat, 01 Jan 1000000000 00:00:00 +0000"},
    };
    for (const Case& c : cases) {
        char buf[64];
        memset(buf, 'x', sizeof buf);
        EXPECT_EQ(c.write(c.t, buf, c.size), c.expected[0] ? 0 : -1) << c.t << " " << c.size;
        EXPECT_STREQ(buf, c.expected);
        for (int i = c.size; i < static_cast<int>(sizeof buf); ++i)
            ASSERT_EQ(buf[i], 'x') << "written past the size at " << i;
    }
}

// Fields as read, before normalisation, as the numbers 20240131 and 123456.
TEST(DateText, IsoTimeReadsTheCompactLocalForm) {
    struct Case {
        const char* text;
        int ymd, hms;
    } cases[] = {
        {"20240131 12:34:56", 20240131, 123456},
        {"20240131", 20240131, 0},
        {"2024013112:34:56", 20240131, 123456},
        {"  20240131   12:34:56", 20240131, 123456},
        {"20240131 9:05:00", 20240131, 90000}, // "9:" is the hour field
        {"20240131 12:34", 20240131, 123400},
        {"20240131T12:34:56", 20240131, 0}, // "T1" reads as 0, then ':' fails
        {"2024ab31", 20240031, 0},          // month 0: December before
        {"20241301 00:00:60", 20241301, 60},
        {"", 0, 0},
        {"-999", -9990000, 0},
        {"20240615 23:59:59 and more", 20240615, 235959},
    };
    for (const char* zone : kZones) {
        Zone z(zone);
        for (const Case& c : cases) EXPECT_EQ(isotime(c.text), at(c.ymd, c.hms)) << zone << c.text;
    }
    // Wall-clock times that do not exist are read with the offset before the
    // gap, also where summer time is flagged as standard and across a skipped day.
    struct Gap {
        const char* zone;
        const char* text;
        int64_t expected;
    } gaps[] = {
        {"Europe/Berlin", "20240331 02:30:00", 1711848600},
        {"America/New_York", "20240310 02:30:00", 1710055800},
        {"Australia/Lord_Howe", "20241006 02:15:00", 1728143100},
        {"Europe/Dublin", "19720319 02:30:00", 69820200},
        {"Africa/Casablanca", "20190609 02:30:00", 1560047400},
        {"Pacific/Apia", "20111230 12:00:00", 1325282400},
    };
    for (const Gap& g : gaps) {
        Zone z(g.zone);
        EXPECT_EQ(timestring(g.text), g.expected) << g.zone;
    }
}

// West of UTC with minutes; the zones of the strftime sweep cover the rest.
TEST(DateText, ZoneOffset) {
    Zone z("America/St_Johns");
    char buf[34];
    EXPECT_EQ(maildate(1704067200, buf, sizeof buf), 0);
    EXPECT_STREQ(buf, "Sun, 31 Dec 2023 20:30:00 -0330");
}

TEST(DateTextDeathTest, NullArguments) {
    EXPECT_DEATH(gmtdate(0, nullptr, 40), "gmtdate");
    EXPECT_DEATH(maildate(0, nullptr, 40), "maildate");
    EXPECT_DEATH(isotime(nullptr), "isotime");
}
