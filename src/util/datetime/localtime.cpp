// SPDX-License-Identifier: MIT
// Local time and calendar steps: breakdowns, the conversion back that reads a
// missing wall-clock time with the offset before its gap, month and field
// arithmetic, and the starts of days and months. Everything works in the
// process's local zone.
#include "pacelag/util.h"

#include <climits>

#include "check.h"

namespace {

bool fitsint(int64_t v) {
    return v >= INT_MIN && v <= INT_MAX;
}

// Adds amount to field. When the sum leaves the int range, whole multiples of
// `per` units are carried into `upper`, each worth `carry` of its units, so the
// wall-clock moment stays the same while the fields stay representable (mktime
// normalises the rest). False when even upper cannot take the carry.
bool addfield(int& field, int64_t amount, int& upper, int64_t per, int64_t carry) {
    int64_t sum = static_cast<int64_t>(field) + amount;
    if (fitsint(sum)) {
        field = static_cast<int>(sum);
        return true;
    }
    int64_t k = sum / per;
    int64_t up = static_cast<int64_t>(upper) + k * carry;
    if (!fitsint(up)) return false;
    field = static_cast<int>(sum - k * per);
    upper = static_cast<int>(up);
    return true;
}

bool addmonthfield(struct tm* tm, int64_t months) {
    return addfield(tm->tm_mon, months, tm->tm_year, 12, 1);
}

// The month step shared by tmaddmonths and addmonths; d is the length of tm's month.
bool stepmonths(struct tm* tm, int d, int months) {
    if (d > tm->tm_mday) return addmonthfield(tm, months);
    // The last day of its month: day 0 of the month after the target month is
    // the target month's last day, whatever its length.
    tm->tm_mday = 0;
    return addmonthfield(tm, static_cast<int64_t>(months) + 1);
}

bool samewall(const struct tm& a, const struct tm& b) {
    return a.tm_year == b.tm_year && a.tm_mon == b.tm_mon && a.tm_mday == b.tm_mday &&
           a.tm_hour == b.tm_hour && a.tm_min == b.tm_min && a.tm_sec == b.tm_sec;
}

// A wall-clock time repeated when the clocks go back has two instants, and
// which one mktime picks for flag -1 depends on its earlier calls. Take the
// earlier one, so that a day or a period never starts after a time it holds.
// The earlier instant, if any, lies under the offset in force before the change,
// which a probe one day back finds.
time_t earliest(time_t t, struct tm* tm) {
    struct tm before, other;
    if (t < INT64_MIN + 86400) return t;
    time_t probe = t - 86400;
    if (localtime_r(&probe, &before) == nullptr || before.tm_gmtoff <= tm->tm_gmtoff) return t;
    time_t u = t - (before.tm_gmtoff - tm->tm_gmtoff);
    if (localtime_r(&u, &other) == nullptr || !samewall(other, *tm)) return t;
    *tm = other;
    return u;
}

// The wall clock that fields in any range stand for, as seconds counted like
// UTC time values, so that two readings compare whatever their normalisation.
// Days from the civil date in the proleptic Gregorian calendar; 64-bit
// throughout, so no int field overflows it.
int64_t wallseconds(const struct tm& f) {
    int64_t year = f.tm_year + int64_t{1900}, month = f.tm_mon;
    year += month >= 0 ? month / 12 : -((11 - month) / 12);
    month -= (month >= 0 ? month / 12 : -((11 - month) / 12)) * 12; // 0..11
    // March-based years put the leap day last.
    int64_t y = month < 2 ? year - 1 : year, m = month < 2 ? month + 10 : month - 2;
    int64_t era = (y >= 0 ? y : y - 399) / 400, yoe = y - era * 400;
    int64_t doy = (153 * m + 2) / 5, doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    int64_t days = era * 146097 + doe - 719468 + (f.tm_mday - 1);
    return days * 86400 + f.tm_hour * int64_t{3600} + f.tm_min * int64_t{60} + f.tm_sec;
}

// Local wall clock of instant x as seconds; false when x cannot be broken down.
bool wallat(int64_t x, int64_t& wall, struct tm* out) {
    time_t v = static_cast<time_t>(x);
    if (localtime_r(&v, out) == nullptr) return false;
    wall = x + out->tm_gmtoff;
    return true;
}

// w is a wall clock that no instant shows. Find the last instant whose clock
// reads before w: the clock jumps over w right after it, so it is the instant
// just before the gap, and w read with its offset lies past the gap. Its
// daylight flag plays no part: some zones flag summer time as standard time.
// No zone's offset reaches two days, so the gap lies within two days of w.
time_t readgap(int64_t w, time_t t, struct tm* tm) {
    const int64_t span = 2 * 86400;
    struct tm at;
    int64_t lo = w - span, hi = w + span, wall = 0;
    if (!wallat(lo, wall, &at) || wall >= w || !wallat(hi, wall, &at) || wall < w) return t;
    while (hi - lo > 1) {
        int64_t mid = lo + (hi - lo) / 2;
        if (!wallat(mid, wall, &at)) return t;
        (wall < w ? lo : hi) = mid;
    }
    // A clock that does read w after all (mktime missed it) gives that instant.
    if (!wallat(hi, wall, &at)) return t;
    int64_t u = hi;
    if (wall != w) {
        if (!wallat(lo, wall, &at)) return t;
        u = w - at.tm_gmtoff;
    }
    if (!wallat(u, wall, &at)) return t;
    *tm = at;
    return static_cast<time_t>(u);
}

// The time of day is one the clock shows: hour 0..23, minute and second 0..59.
bool clockinrange(const struct tm& tm) {
    return tm.tm_hour >= 0 && tm.tm_hour <= 23 && tm.tm_min >= 0 && tm.tm_min <= 59 &&
           tm.tm_sec >= 0 && tm.tm_sec <= 59;
}

// Carries seconds into minutes, minutes into hours and hours into the day, so
// that the time of day is in range. False, with tm unchanged, when the day
// would leave the int range.
bool carryclock(struct tm* tm) {
    int64_t secs = tm->tm_hour * int64_t{3600} + tm->tm_min * int64_t{60} + tm->tm_sec;
    int64_t days = secs >= 0 ? secs / 86400 : -((-secs + 86399) / 86400);
    int64_t mday = tm->tm_mday + days;
    if (!fitsint(mday)) return false;
    secs -= days * 86400;
    tm->tm_mday = static_cast<int>(mday);
    tm->tm_hour = static_cast<int>(secs / 3600);
    tm->tm_min = static_cast<int>(secs / 60 % 60);
    tm->tm_sec = static_cast<int>(secs % 60);
    return true;
}

} // namespace

struct tm* utctm(struct tm* out, int64_t t) {
    UTIL_CHECK(out != nullptr);
    time_t value = static_cast<time_t>(t);
    return gmtime_r(&value, out);
}

struct tm* localtm(struct tm* out, int64_t t) {
    UTIL_CHECK(out != nullptr);
    time_t value = static_cast<time_t>(t);
    return localtime_r(&value, out);
}

int64_t safemktime(struct tm* tm) {
    UTIL_CHECK(tm != nullptr);
    // A field step leaves the time of day out of range (minute 90, second
    // 3600). Carry it into the day first, so that the wall-clock time it stands
    // for is read by the rules below: left to mktime, a time in a repeated hour
    // depends on its earlier calls, and seconds are added to an instant there,
    // which could then be taken back to the earlier reading of its wall clock.
    if (tm->tm_isdst == -1 && !clockinrange(*tm)) carryclock(tm);
    const struct tm kept = *tm;
    time_t t = mktime(tm);
    if (t == static_cast<time_t>(-1)) return -1;
    if (kept.tm_isdst != -1 || !clockinrange(kept)) return t;
    // Out-of-range date fields are normalised like the calendar does; any
    // other difference from the wall clock the fields name, date included
    // (a whole day can be skipped), means that no instant shows it.
    const int64_t w = wallseconds(kept);
    if (wallseconds(*tm) == w) return earliest(t, tm);
    // How mktime places a time in a gap varies, and rereading it as standard
    // time picks the later offset where summer time is the standard one.
    return readgap(w, t, tm);
}

struct tm* tmaddmonths(struct tm* tm, int months) {
    UTIL_CHECK(tm != nullptr);
    int d = monthdays(tm);
    if (tm->tm_mon < 0 || tm->tm_mon > 11 || tm->tm_mday <= 0 || d < tm->tm_mday) {
        tm->tm_isdst = -1;
        safemktime(tm);
        d = monthdays(tm);
    }
    // Past the int range of the year the date cannot be held: leave year and
    // month at the end of the range, which no conversion accepts.
    if (!stepmonths(tm, d, months)) {
        tm->tm_year = months < 0 ? INT_MIN : INT_MAX;
        tm->tm_mon = months < 0 ? INT_MIN : INT_MAX;
    }
    return tm;
}

int64_t addmonths(int64_t t, int months) {
    struct tm tm;
    if (localtm(&tm, t) == nullptr) return -1;
    if (!stepmonths(&tm, monthdays(&tm), months)) return -1;
    tm.tm_isdst = -1;
    return safemktime(&tm);
}

int64_t timeadd(unsigned unit, int64_t t, int amount) {
    struct tm tm;
    if (localtm(&tm, t) == nullptr) return -1;
    bool ok = true;
    switch (unit) {
    case TIME_MONTH: ok = addmonthfield(&tm, amount); break;
    // 400 Gregorian years are exactly 146097 days.
    case TIME_DAY: ok = addfield(tm.tm_mday, amount, tm.tm_year, 146097, 400); break;
    case TIME_YEAR: {
        int64_t year = static_cast<int64_t>(tm.tm_year) + amount;
        ok = fitsint(year);
        if (ok) tm.tm_year = static_cast<int>(year);
        break;
    }
    case TIME_HOUR: ok = addfield(tm.tm_hour, amount, tm.tm_mday, 24, 1); break;
    case TIME_MINUTE: ok = addfield(tm.tm_min, amount, tm.tm_hour, 60, 1); break;
    case TIME_SECOND: ok = addfield(tm.tm_sec, amount, tm.tm_min, 60, 1); break;
    default: break;
    }
    if (!ok) return -1;
    tm.tm_isdst = -1;
    return safemktime(&tm);
}

int timepart(int64_t t, unsigned unit) {
    struct tm tm;
    if (localtm(&tm, t) == nullptr) return -1;
    switch (unit) {
    case TIME_MONTH: return tm.tm_mon + 1;
    case TIME_DAY: return tm.tm_mday;
    case TIME_YEAR: {
        int64_t year = static_cast<int64_t>(tm.tm_year) + 1900;
        return fitsint(year) ? static_cast<int>(year) : -1;
    }
    case TIME_HOUR: return tm.tm_hour;
    case TIME_MINUTE: return tm.tm_min;
    case TIME_SECOND: return tm.tm_sec;
    case TIME_WEEKDAY: return tm.tm_wday;
    default: return -1;
    }
}

int localdate(int64_t t, int& year, int& month, int& day) {
    struct tm tm;
    if (localtm(&tm, t) == nullptr) return -1;
    int64_t fullyear = static_cast<int64_t>(tm.tm_year) + 1900;
    if (!fitsint(fullyear)) return -1;
    year = static_cast<int>(fullyear);
    month = tm.tm_mon + 1;
    day = tm.tm_mday;
    return 0;
}

int64_t monthstart(int64_t t) {
    struct tm tm;
    if (localtm(&tm, t) == nullptr) return -1;
    tm.tm_mday = 1;
    tm.tm_hour = tm.tm_min = tm.tm_sec = 0;
    tm.tm_isdst = -1;
    return safemktime(&tm);
}

int64_t daystart(int64_t t) {
    struct tm tm;
    if (localtm(&tm, t) == nullptr) return -1;
    tm.tm_hour = tm.tm_min = tm.tm_sec = 0;
    tm.tm_isdst = -1;
    return safemktime(&tm);
}

int64_t keepdst(int64_t a, int64_t b) {
    struct tm ta, tb;
    if (localtm(&ta, a) == nullptr || localtm(&tb, b) == nullptr) return a;
    if (ta.tm_isdst == tb.tm_isdst) return a;
    ta.tm_isdst = tb.tm_isdst;
    return safemktime(&ta);
}
