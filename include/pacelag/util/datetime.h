// SPDX-License-Identifier: MIT
// Part of pacelag/util.h: local time and calendar steps, date texts, calendar
// differences and periods, month lengths and day numbers. Time values are
// seconds since the epoch; everything works in the process's local time zone
// unless UTC is named. -1 is the failure result of every routine here that
// returns a time value.
#pragma once

#include <cstdint>
#include <ctime>

// Declarations here are exported from the shared library; the rest of it is hidden.
#pragma GCC visibility push(default)

// ---- Local time and calendar steps ----

// Unit codes for timeadd and timepart.
enum {
    TIME_MONTH = 1,
    TIME_DAY = 2,
    TIME_YEAR = 3,
    TIME_HOUR = 4,
    TIME_MINUTE = 5,
    TIME_SECOND = 6,
    TIME_WEEKDAY = 7,
};

// Fill out with the UTC / local breakdown of t; null on failure.
struct tm* utctm(struct tm* out, int64_t t);
struct tm* localtm(struct tm* out, int64_t t);
// mktime, except that with flag -1 an out-of-range time of day is first
// carried into the day, a wall-clock time in a gap is read with the offset in
// force before it, and a repeated one gives its earlier instant. Normalises tm
// in place.
int64_t safemktime(struct tm* tm);
// Adds months to an unnormalised breakdown; a month's last day stays the last
// day. Returns tm, not yet normalised: convert it with safemktime.
struct tm* tmaddmonths(struct tm* tm, int months);
int64_t addmonths(int64_t t, int months);
// Adds amount to the calendar field named by unit (1..6); other codes add nothing.
int64_t timeadd(unsigned unit, int64_t t, int amount);
// The local calendar field named by unit (1..7), or -1.
int timepart(int64_t t, unsigned unit);
// Local year (full), month (1..12) and day; -1 with the outs untouched.
int localdate(int64_t t, int& year, int& month, int& day);
// Local midnight of the first of t's month / of t's day.
int64_t monthstart(int64_t t);
int64_t daystart(int64_t t);
// a's wall-clock reading taken under b's daylight-saving state.
int64_t keepdst(int64_t a, int64_t b);

// ---- Date texts ----

// "Jan".."Dec" at 0..11, then "Sun".."Sat" at 12..18.
extern const char* const monthnames[19];

// Each writer returns 0, or -1 with the empty text when size is below its
// smallest buffer (32, 27, 23, 34), the time cannot be broken down, or the text
// does not fit (years longer than 4 characters).
// "Sun, 06 Nov 1994 08:49:37 GMT" (UTC)
int gmtdate(int64_t t, char* buffer, int size);
// "Sun Nov 06 09:49:37 1994" (local)
int asctimetext(int64_t t, char* buffer, int size);
// "Nov 06 09:49:37 1994" (local)
int shorttimetext(int64_t t, char* buffer, int size);
// "Sun, 06 Nov 1994 09:49:37 +0100" (local, numeric zone)
int maildate(int64_t t, char* buffer, int size);
int gmtdatenow(char* buffer, int size);
int asctimetextnow(char* buffer, int size);
int shorttimetextnow(char* buffer, int size);
int maildatenow(char* buffer, int size);
// Reads the compact local form "YYYYMMDD[ ]hh:mm:ss"; missing or unreadable
// fields count as 0 and the values are normalised. -1 only when the conversion fails.
int64_t isotime(const char* text);
inline int64_t timestring(const char* text) {
    return isotime(text);
}

// ---- Calendar differences and periods ----

// Days in the month of date (tm_mon 0..11, tm_year from 1900); -1 for a bad month.
int monthdays(const struct tm* date);
// Rata Die day count of a proleptic Gregorian date (month 1..12); 1 Jan 1 is day 1.
int daynumber(int year, int month, int day);

// Whole local calendar days from a's date to b's date; -1 with days 0.
int daysbetween(int64_t a, int64_t b, int& days);
// Whole months and remaining days from a to b, negative when b is earlier; 0 or -1.
int monthsbetween(int64_t a, int64_t b, int& months, int& days);
// The monthly period from local midnight of cycle day cycleday (1..31, a day
// beyond a month's length falling on its last day) that holds t:
// start <= t < end. -1 with the outs untouched.
int cycleperiod(int64_t t, int cycleday, int64_t& start, int64_t& end);

#pragma GCC visibility pop
