// SPDX-License-Identifier: MIT
// Calendar differences and periods in local time: whole days between two
// dates, whole months and remaining days between two times, the monthly
// period anchored on a day of the month that holds a time; and the calendar
// arithmetic under them, month lengths and day numbers.
#include "pacelag/util.h"

#include <algorithm>
#include <climits>

#include "check.h"

namespace {

bool lastday(const struct tm& tm) {
    return tm.tm_mday == monthdays(&tm);
}

// floor(a / b) for b > 0.
int64_t floordiv(int64_t a, int64_t b) {
    return a >= 0 ? a / b : -((-a + b - 1) / b);
}

// Local midnight of T's date, T normalised to it. The time of day is set
// afresh for every conversion: a midnight that falls in a gap comes back as
// the first time of that day (01:00, say), which must not carry into the next
// month's conversion.
int64_t midnight(struct tm* T) {
    T->tm_hour = T->tm_min = T->tm_sec = 0;
    T->tm_isdst = -1;
    return safemktime(T);
}

} // namespace

int daysbetween(int64_t a, int64_t b, int& days) {
    days = 0;
    int ya, ma, da, yb, mb, db;
    if (localdate(a, ya, ma, da) != 0 || localdate(b, yb, mb, db) != 0) return -1;
    // daynumber counts in int and is exact only for positive years, so both
    // dates move by the same whole number of 400-year cycles (146097 days each,
    // which leaves the difference unchanged) until the earlier year is 400..799.
    int64_t shift = floordiv(std::min(ya, yb), 400) * 400 - 400;
    int64_t sa = ya - shift, sb = yb - shift;
    // Beyond this the day number leaves int, and so would the difference.
    if (std::max(sa, sb) > 5000000) return -1;
    days = daynumber(static_cast<int>(sb), mb, db) - daynumber(static_cast<int>(sa), ma, da);
    return 0;
}

// The day count depends on the time of day in one case: when A's day lies
// beyond the length of B's month and B is on that month's last day. From
// 30 Jan 2025 08:00 to 28 Feb 2025 09:00 the search stops on 28 Feb 08:00 and
// gives 1 month 28 days; from 30 Jan 10:00 it steps back to 30 Jan and gives
// 1 month 0 days. This is kept as it is, since callers may rely on it.
int monthsbetween(int64_t a, int64_t b, int& months, int& days) {
    months = 0;
    days = 0;
    bool swapped = a > b;
    int64_t lo = swapped ? b : a, hi = swapped ? a : b;
    struct tm A, B;
    if (localtm(&A, lo) == nullptr || localtm(&B, hi) == nullptr) return -1;
    int64_t amonth = static_cast<int64_t>(A.tm_year) * 12 + A.tm_mon;
    int64_t span = static_cast<int64_t>(B.tm_year) * 12 + B.tm_mon - amonth;
    if (span > INT_MAX - 1 || span < INT_MIN + 1) return -1;
    int m = static_cast<int>(span), d = 0, result = 0;
    bool alast = lastday(A), blast = lastday(B);

    if (A.tm_mday == 1 && blast) {
        m += 1;
    } else if (A.tm_mday == B.tm_mday || A.tm_mday == B.tm_mday + 1 || (alast && blast)) {
        // whole months
    } else {
        // The latest month step from A that still lies before hi.
        struct tm M = A;
        int64_t target = amonth + m + 1;
        int64_t year = floordiv(target, 12);
        if (year < INT_MIN || year > INT_MAX) return -1;
        M.tm_year = static_cast<int>(year);
        M.tm_mon = static_cast<int>(target - year * 12);
        int L = 0;
        for (;;) {
            // Day 0 is the last day of the month before: each pass moves one
            // month back. A's time of day is set afresh, as a conversion in a
            // gap moves it.
            M.tm_mday = 0;
            M.tm_hour = A.tm_hour;
            M.tm_min = A.tm_min;
            M.tm_sec = A.tm_sec;
            M.tm_isdst = -1;
            int64_t t = safemktime(&M);
            L = M.tm_mday;
            if (t == -1) result = -1;
            if (!alast && L > A.tm_mday) {
                M.tm_mday = A.tm_mday;
                M.tm_hour = A.tm_hour;
                M.tm_min = A.tm_min;
                M.tm_sec = A.tm_sec;
                M.tm_isdst = -1;
                t = safemktime(&M);
                if (t == -1) {
                    result = -1;
                    break;
                }
            }
            if (t < hi || result == -1) break;
            m -= 1;
        }
        if (M.tm_mday > B.tm_mday && blast)
            m += 1;
        else if (B.tm_mday >= A.tm_mday)
            d = B.tm_mday - A.tm_mday;
        else
            d = B.tm_mday + (L - M.tm_mday);
    }
    if (swapped) {
        m = -m;
        d = -d;
    }
    months = m;
    days = d;
    return result;
}

int cycleperiod(int64_t t, int cycleday, int64_t& start, int64_t& end) {
    struct tm T;
    if (localtm(&T, t) == nullptr) return -1;
    const int d = T.tm_mday, b = cycleday;
    int64_t s, e;
    if (b <= 28) {
        if (d < b) T.tm_mon -= 1;
        T.tm_mday = b;
        s = midnight(&T);
        T.tm_mon += 1;
        e = midnight(&T);
    } else {
        // A cycle day beyond a month's length falls on that month's last day.
        T.tm_mon += 1;
        T.tm_mday = 0;
        if (midnight(&T) == -1) return -1;
        const int last = std::min(b, T.tm_mday);
        if (d >= last) {
            T.tm_mday = last;
            s = midnight(&T);
            T.tm_mon += 2;
            T.tm_mday = 0;
            if (midnight(&T) == -1) return -1;
            T.tm_mday = std::min(b, T.tm_mday);
        } else {
            T.tm_mday = 0;
            if (midnight(&T) == -1) return -1;
            T.tm_mday = std::min(b, T.tm_mday);
            s = midnight(&T);
            T.tm_mon += 1;
            T.tm_mday = last;
        }
        e = midnight(&T);
    }
    if (s == -1 || e == -1) return -1;
    start = s;
    end = e;
    return 0;
}

// ---- calendar arithmetic ----

int monthdays(const struct tm* date) {
    UTIL_CHECK(date != nullptr);
    static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    int month = date->tm_mon;
    if (month < 0 || month > 11) return -1;
    if (month != 1) return days[month];
    long year = static_cast<long>(date->tm_year) + 1900;
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return leap ? 29 : 28;
}

int daynumber(int year, int month, int day) {
    // Computed in 64 bits so that absurd years give a defined (truncated)
    // value instead of signed overflow; for any year whose products fit an
    // int the result is the same.
    int64_t y = year, m = month;
    if (m == 1 || m == 2) {
        y -= 1;
        m += 12;
    }
    int64_t rd = day + (153 * m - 457) / 5 + 365 * y + y / 4 - y / 100 + y / 400 - 306;
    return int(uint32_t(uint64_t(rd)));
}
