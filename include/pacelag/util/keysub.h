// Part of pacelag/util.h: template key substitution, number and size
// formatting, and decimal rounding.
#pragma once

#include <cstdint>

struct aaContext;

// ---- Template key substitution ----

// Each returns a new text in which every '$name' of the template is replaced by
// the table's value for name (looked up with the table's own case rule), or
// null when memory runs out. A null table gives a copy of the template. The
// character after a name is copied as it is.
// keysub: names of letters, digits and '_'; an absent name stays as written,
// '$.name' inserts nothing then; after a double quote, '"' and '\' of the
// value become spaces.
char* keysub(char* src, aaContext* table);
// Values with '"', '&', '<' and '>' written as entities; absent names stay.
char* htmlkeysub(char* src, aaContext* table);
// Values escaped for the inside of a JSON string; absent names stay.
char* jsonkeysub(char* src, aaContext* table);
// SQL: '$name' inserts a numeric value, else NULL; '$'name' a quoted literal,
// or NULL when absent; '$-name' is '$name', but an absent name drops the
// whole output line.
char* querykeysub(char* src, aaContext* table);
// New text in out with every single quote doubled; its length, or -1 (out null)
// when memory runs out.
int quotedupnew(const char* text, char*& out);

// ---- Number and size formatting ----

// No buffer size is passed to the three routines below. A buffer of
// NUMTEXT_SIZE bytes holds any secs2str text, and any size2str or bitrate2str
// text of a value in 0..1e18 (or NaN) with the default suffix; with another
// suffix add strlen(suffix). Larger and negative values can give longer texts.
constexpr int NUMTEXT_SIZE = 29;

// Byte count with a decimal unit (bytes, KB .. PB), then suffix (null = "").
// Values 0..1e18 need at most 11 characters ("1000.000 PB") plus the suffix.
// Returns the length written.
int size2str(char* buf, const char* suffix, double bytes);
// Bit rate in bit, kbit or Mbit, then suffix (null = "/s"). Mbit is the top
// unit, so values 0..1e18 need up to 22 characters ("1000000000000.000 Mbit")
// plus the suffix.
int bitrate2str(char* buf, const char* suffix, double bits);
// "S secs", "M mins, S secs" or "H hrs, M mins, S secs"; at most 28 characters
// ("596522 hrs, 59 mins, 59 secs"), so NUMTEXT_SIZE bytes with the NUL.
int secs2str(char* buf, int secs);
// Two lower-case hex digits per byte; null for a count below 0 or from 2^30,
// or when memory runs out.
char* bin2hex(const unsigned char* data, int count);
// Drops trailing fraction zeros (and a bare '.') and a leading '+' of a plain
// decimal number in place; other texts stay as they are.
void numtrim(char* text);

// ---- Decimal rounding and rate split ----

// Half away from zero to `places` decimals (negative: tens, hundreds...); a
// fraction above 0.499999999 counts as a half.
double rounddec(int places, double x);
// Splits an amount that includes rate (0.19 = 19 %) into base and surcharge,
// both to hundredths; a cent lost to rounding goes to the surcharge.
void ratesplit(double* base, double* surcharge, double amount, double rate);
