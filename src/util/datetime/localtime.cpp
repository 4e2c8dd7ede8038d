// Local time and calendar steps: breakdowns, the conversion back that reads a
// daylight-saving gap as standard time, month and field arithmetic, and the
// starts of days and months. Everything works in the process's local zone.
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

// t is a reading of a missing wall-clock time. When t lies before the gap,
// the reading with the earlier offset is t moved on by the size of the jump.
time_t aftergap(time_t t, struct tm* tm) {
    struct tm after;
    if (t > INT64_MAX - 86400) return t;
    time_t probe = t + 86400;
    if (localtime_r(&probe, &after) == nullptr || after.tm_gmtoff <= tm->tm_gmtoff) return t;
    time_t u = t + (after.tm_gmtoff - tm->tm_gmtoff);
    if (localtime_r(&u, &after) == nullptr) return t;
    *tm = after;
    return u;
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
    if (tm->tm_hour == kept.tm_hour && tm->tm_min == kept.tm_min) {
        if (kept.tm_isdst == -1 && clockinrange(kept)) t = earliest(t, tm);
        return t;
    }
    // The wall clock moved although every field was in range: the time lies in
    // a gap. How mktime places such a time varies, so read it as standard time.
    if (kept.tm_isdst == -1 && clockinrange(kept)) {
        const struct tm first = *tm;
        *tm = kept;
        tm->tm_isdst = 0;
        time_t u = mktime(tm);
        if (u != static_cast<time_t>(-1)) return u;
        // mktime refuses the standard-time reading when the gap comes from a
        // change of the standard offset itself. Read the time with the offset
        // in force before the gap instead, as standard time does for a
        // daylight-saving gap, rather than fail on a valid time.
        *tm = first;
        return aftergap(t, tm);
    }
    return t;
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
