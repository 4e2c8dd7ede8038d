// SPDX-License-Identifier: MIT
// Local time zones for the time tests: a scoped TZ setting and small helpers
// that build and read local times with the C library alone.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

// A zone without daylight saving, one with a half-hour offset, one west of
// UTC, one with a half-hour daylight-saving shift, two that flag summer time
// as standard and winter time as daylight saving, and one that skipped a day.
static const char* const kZones[] = {
    "UTC",           "Europe/Berlin",     "America/New_York", "Asia/Kolkata", "Australia/Lord_Howe",
    "Europe/Dublin", "Africa/Casablanca", "Pacific/Apia"};

// Sets TZ for the scope and restores the previous value afterwards.
class Zone {
  public:
    explicit Zone(const char* zone) : had_(getenv("TZ") != nullptr) {
        if (had_) old_ = getenv("TZ");
        setenv("TZ", zone, 1);
        tzset();
    }
    ~Zone() {
        had_ ? setenv("TZ", old_.c_str(), 1) : unsetenv("TZ");
        tzset();
    }

  private:
    bool had_;
    std::string old_;
};

inline struct tm breakdown(int64_t t) {
    time_t v = t;
    struct tm tm = {};
    localtime_r(&v, &tm);
    return tm;
}

// Whether t is the first instant of its local day.
inline bool daybegins(int64_t t) {
    return breakdown(t).tm_mday != breakdown(t - 1).tm_mday;
}

// An ordinary (neither missing nor repeated) local time, with date and time
// written as the numbers 20240131 and 103000.
inline int64_t at(int ymd, int hms = 0) {
    struct tm tm = {};
    tm.tm_year = ymd / 10000 - 1900;
    tm.tm_mon = ymd / 100 % 100 - 1;
    tm.tm_mday = ymd % 100;
    tm.tm_hour = hms / 10000;
    tm.tm_min = hms / 100 % 100;
    tm.tm_sec = hms % 100;
    tm.tm_isdst = -1;
    return mktime(&tm);
}

// "YYYY-MM-DD hh:mm:ss" of a local time or of fields, for readable failures.
inline std::string wall(int64_t t) {
    struct tm tm = breakdown(t);
    char text[64];
    strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
    return text;
}

inline std::string wall(int ymd, int hms) {
    char text[64];
    snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", ymd / 10000, ymd / 100 % 100,
             ymd % 100, hms / 10000, hms / 100 % 100, hms % 100);
    return text;
}
