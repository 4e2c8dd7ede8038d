// SPDX-License-Identifier: MIT
// Date texts: fixed English forms of a time value written into a caller's
// buffer (UTC, two local forms, a mail-header date with a numeric zone) and the
// reader of the compact local form "YYYYMMDD hh:mm:ss". Writers never allocate.
#include "pacelag/util.h"

#include <cstdio>
#include <cstdlib>

#include "check.h"

const char* const monthnames[19] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul",
                                    "Aug", "Sep", "Oct", "Nov", "Dec", "Sun", "Mon",
                                    "Tue", "Wed", "Thu", "Fri", "Sat"};

namespace {

const char* monthname(const struct tm& tm) {
    return monthnames[tm.tm_mon];
}
const char* dayname(const struct tm& tm) {
    return monthnames[12 + tm.tm_wday];
}
long long fullyear(const struct tm& tm) {
    return static_cast<long long>(tm.tm_year) + 1900;
}

// Empty text and -1; a buffer of no bytes at all is left alone.
int refuse(char* buffer, int size) {
    if (size > 0) buffer[0] = '\0';
    return -1;
}

// The smallest sizes allow for a 4-character year; a longer year may not fit,
// and then the text is refused whole rather than cut.
int finish(char* buffer, int size, int written) {
    if (written < 0 || written >= size) return refuse(buffer, size);
    return 0;
}

// Seconds east of UTC of the local reading L of the instant whose UTC reading
// is U. The two readings are at most a day apart.
long long zoneoffset(const struct tm& L, const struct tm& U) {
    long long days = 0;
    if (L.tm_year != U.tm_year)
        days = L.tm_year < U.tm_year ? -1 : 1;
    else
        days = L.tm_yday - U.tm_yday;
    long long lsec = L.tm_hour * 3600LL + L.tm_min * 60LL + L.tm_sec;
    long long usec = U.tm_hour * 3600LL + U.tm_min * 60LL + U.tm_sec;
    return days * 86400 + lsec - usec;
}

} // namespace

int gmtdate(int64_t t, char* buffer, int size) {
    UTIL_CHECK(buffer != nullptr);
    struct tm tm;
    if (size < 32 || utctm(&tm, t) == nullptr) return refuse(buffer, size);
    int n = snprintf(buffer, size, "%s, %02d %s %lld %02d:%02d:%02d GMT", dayname(tm), tm.tm_mday,
                     monthname(tm), fullyear(tm), tm.tm_hour, tm.tm_min, tm.tm_sec);
    return finish(buffer, size, n);
}

int asctimetext(int64_t t, char* buffer, int size) {
    UTIL_CHECK(buffer != nullptr);
    struct tm tm;
    if (size < 27 || localtm(&tm, t) == nullptr) return refuse(buffer, size);
    int n = snprintf(buffer, size, "%s %s %02d %02d:%02d:%02d %lld", dayname(tm), monthname(tm),
                     tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, fullyear(tm));
    return finish(buffer, size, n);
}

int shorttimetext(int64_t t, char* buffer, int size) {
    UTIL_CHECK(buffer != nullptr);
    struct tm tm;
    if (size < 23 || localtm(&tm, t) == nullptr) return refuse(buffer, size);
    int n = snprintf(buffer, size, "%s %02d %02d:%02d:%02d %lld", monthname(tm), tm.tm_mday,
                     tm.tm_hour, tm.tm_min, tm.tm_sec, fullyear(tm));
    return finish(buffer, size, n);
}

int maildate(int64_t t, char* buffer, int size) {
    UTIL_CHECK(buffer != nullptr);
    struct tm L, U;
    if (size < 34 || localtm(&L, t) == nullptr || utctm(&U, t) == nullptr)
        return refuse(buffer, size);
    // The offset comes from the two readings of the same instant. Reading the
    // UTC wall clock back as a local time would pick up the offset of a
    // different moment and be an hour off next to a daylight-saving change.
    long long offset = zoneoffset(L, U);
    char sign = offset >= 0 ? '+' : '-';
    long long a = offset >= 0 ? offset : -offset;
    int zone = static_cast<int>((a / 3600) * 100 + (a % 3600) / 60);
    int n = snprintf(buffer, size, "%s, %02d %s %lld %02d:%02d:%02d %c%04d", dayname(L), L.tm_mday,
                     monthname(L), fullyear(L), L.tm_hour, L.tm_min, L.tm_sec, sign, zone);
    return finish(buffer, size, n);
}

int gmtdatenow(char* buffer, int size) {
    return gmtdate(time(nullptr), buffer, size);
}
int asctimetextnow(char* buffer, int size) {
    return asctimetext(time(nullptr), buffer, size);
}
int shorttimetextnow(char* buffer, int size) {
    return shorttimetext(time(nullptr), buffer, size);
}
int maildatenow(char* buffer, int size) {
    return maildate(time(nullptr), buffer, size);
}

int64_t isotime(const char* text) {
    UTIL_CHECK(text != nullptr);
    // Year up to 4 characters, the others up to 2; a field that is not reached
    // stays empty and counts as 0.
    char year[5] = "", month[3] = "", day[3] = "", hour[3] = "", minute[3] = "", second[3] = "";
    (void)sscanf(text, "%4s%2s%2s %2s:%2s:%2s", year, month, day, hour, minute, second);
    struct tm tm = {};
    tm.tm_year = static_cast<int>(strtol(year, nullptr, 10)) - 1900;
    tm.tm_mon = static_cast<int>(strtol(month, nullptr, 10)) - 1;
    tm.tm_mday = static_cast<int>(strtol(day, nullptr, 10));
    tm.tm_hour = static_cast<int>(strtol(hour, nullptr, 10));
    tm.tm_min = static_cast<int>(strtol(minute, nullptr, 10));
    tm.tm_sec = static_cast<int>(strtol(second, nullptr, 10));
    tm.tm_isdst = -1;
    return safemktime(&tm);
}
