// Part of pacelag/util.h: numeric, bit and calendar routines, path and name
// parts, and number, range and truth-word parsing.
#pragma once

#include <cstdint>
#include <ctime>

// ---- Numeric, bit and date routines ----

// low <= value <= high for 16-byte network-order values.
bool ip6rangehas(const uint8_t* low, const uint8_t* high, const uint8_t* value);
// Days in the month of date (tm_mon 0..11, tm_year from 1900); -1 for a bad month.
int monthdays(const struct tm* date);
// Rata Die day count of a proleptic Gregorian date (month 1..12); 1 Jan 1 is day 1.
int daynumber(int year, int month, int day);
