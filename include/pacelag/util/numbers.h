// SPDX-License-Identifier: MIT
// Part of pacelag/util.h: numbers: parsing them from text, digit texts in
// several alphabets, sizes, rates and durations for people, decimal rounding,
// and comparisons, counters and bits.
#pragma once

#include <cstdint>

// Declarations here are exported from the shared library; the rest of it is hidden.
#pragma GCC visibility push(default)

// ---- Number, range and truth-word parsing ----

// Decimal text to integer; 0 unless alldigits(text). Out-of-range values
// saturate at the platform's long range, then keep their low bits.
int32_t str2int(const char* text);
uint32_t str2uint(const char* text);
int64_t str2long(const char* text);
// "first-last" or a single positive number, spaces and tabs ignored, ends
// swapped into order. 0, or -1 with both ends 0.
int str2range(const char* text, int64_t* low, int64_t* high);
// "1" (by strtol), "true", "yes" or "on" in any case; false for null.
bool istrueword(const char* text);
// "0", "no", "off", "false" in any case.
bool isfalseword(const char* text);
// Only '0'..'9', ' ', '-', '.', '_' (the empty text included).
bool alldigits(const char* text);
// Decimal text with optional sign, fraction and surrounding white space; no
// exponent. A '.' after the number ends the parse ("1.5.7" is 1.5). Returns 0
// with the value in out, or -1 with out = 0.0 (a null text fails too).
int str2double(const char* text, double& out);
// str2double's stored value: 0.0 when the text does not parse.
double str2doubleval(const char* text);
// Digits, space, tab, '.' and '-', every '-' followed later by a digit and
// never directly by another '-'. The empty text is numeric.
bool isnumeric(const char* text);
// Only '0'..'9'; the empty text is true.
bool onlydigits(const char* text);

// ---- Digit texts ----

// Decimal texts; buffers must hold 12, 11, 21 and 21 bytes respectively.
// Each returns the number of characters written.
int int2str(char* buf, int32_t value);
int uint2str(char* buf, uint32_t value);
int long2str(char* buf, int64_t value);
int ulong2str(char* buf, uint64_t value);
// 0..15 for a hexadecimal digit, 0 for any other byte.
int hexval(char ch);
// Even-length hex text to strlen(src)/2 raw bytes in dst (no NUL written); a
// non-hex character counts as 0. -1 (nothing written) for an odd length.
int hex2str(const char* src, void* dst);
// Decodes hex text in place. Digits may be separated by space, tab, CR, LF,
// ':' or '-' and may start with "0x". The first len bytes are validated first;
// invalid text gives -1 and outlen 0, or in lenient mode 0 with the text left
// as it is and outlen = len. On success the bytes start at text, a NUL follows
// them and outlen is their count.
int hex2bin(char* text, int len, bool lenient, int& outlen);
int hex2binstr(char* text, bool lenient, int& outlen);
// Upper-case hex without leading zeros. Needs 9 bytes. Returns the digit count.
int uint2hex(char* buf, uint32_t value);
// Signed values in the 64-symbol alphabet "0-9aAbB..zZ-_", most significant
// first, '-' for negatives. Need 8 and 13 bytes. Return the length.
int int2b64(char* buf, int32_t value);
int long2b64(char* buf, int64_t value);
// Signed value in the 128-symbol alphabet; the output is raw bytes (it holds
// tab and bytes above 0x7F), zero is "!". Needs 7 bytes. Returns the length.
int int2b128(char* buf, int32_t value);

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

// ---- Comparisons, counters and bits ----

// Tolerance comparisons; strict (|a - b| < tolerance), false for NaN operands.
bool dblnear(double a, double b, double tolerance);
bool longnear(int64_t a, int64_t b, int64_t tolerance);

// Elapsed count between readings of a wrapping 32-bit counter. A wrap counts
// now + (0xFFFFFFFF - then). elapsed32tol treats a backward step of at most
// tolerance as no time passed (0) rather than as a wrap.
uint32_t elapsed32(uint32_t now, uint32_t then);
uint32_t elapsed32tol(uint32_t now, uint32_t then, uint32_t tolerance);

// value within [min, max]; a bound of 0 or below leaves that side open.
bool longinrange(int64_t min, int64_t max, int64_t value);
bool intinrange(int32_t min, int32_t max, int32_t value);

bool ispow2(uint32_t value);
// Bits up to and including the most significant set bit (0 for 0).
int bitlen32(uint32_t value);
int bitlen64(uint64_t value);
// Equal leading bits of the first count bytes of a and b, most significant first.
int commonbits(const uint8_t* a, const uint8_t* b, int count);

// Bit arrays: bit n is bit n % 8 (LSB first) of byte n / 8. Negative indexes
// are ignored (bittest gives 0).
void bitset(uint8_t* bits, int n);
void bitclear(uint8_t* bits, int n);
// Nonzero exactly when bit n is set: the bit's value within its byte.
int bittest(const uint8_t* bits, int n);
// Smallest set bit in from..to, or -1.
int bitfind(const uint8_t* bits, int from, int to);

#pragma GCC visibility pop
