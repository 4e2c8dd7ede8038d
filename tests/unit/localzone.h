// Local time zones for the time tests: a scoped TZ setting and small helpers
// that build and read local times with the C library alone.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

// A zone without daylight saving, one with a half-hour offset, one west of
// UTC, and one with a half-hour daylight-saving shift.
static const char* const kZones[] = {"UTC", "Europe/Berlin", "America/New_York", "Asia/Kolkata",
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

// An ordinary (neither missing nor repeated) local wall-clock time.
inline int64_t local(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
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

inline struct tm breakdown(int64_t t) {
    time_t v = t;
    struct tm tm = {};
    localtime_r(&v, &tm);
    return tm;
}

// "YYYY-MM-DD hh:mm:ss" of a local time or of fields, for readable failures.
inline std::string wall(int64_t t) {
    struct tm tm = breakdown(t);
    char text[64];
    strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
    return text;
}

inline std::string wall(int y, int mo, int d, int h, int mi, int s) {
    char text[64];
    snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", y, mo, d, h, mi, s);
    return text;
}

// Dates and times written as the numbers 20240131 and 103000.
inline int64_t at(int ymd, int hms = 0) {
    return local(ymd / 10000, ymd / 100 % 100, ymd % 100, hms / 10000, hms / 100 % 100, hms % 100);
}
inline std::string wall(int ymd, int hms) {
    return wall(ymd / 10000, ymd / 100 % 100, ymd % 100, hms / 10000, hms / 100 % 100, hms % 100);
}
