// Part of pacelag/util.h: numeric, bit and calendar routines, path and name
// parts, and number, range and truth-word parsing.
#pragma once

#include <cstdint>
#include <ctime>

// ---- Numeric, bit and date routines ----

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

// NUL-free encoding: b becomes b + 2, 0xFE becomes 01 01, 0xFF becomes 01 02.
// The output is NUL-terminated; a buffer too small takes a prefix. Returns the
// output length.
int nulescape(const void* data, int datalen, char* out, int outsize);
// Decodes at most maxlen source bytes (stopping at src's NUL) into out, which
// is not terminated and never receives more than maxlen bytes. Returns the
// number of bytes written.
int nulunescape(const char* src, void* out, int maxlen);

// ---- Path and name parts ----

// Splits path at its last '/' or '\' into dir and file (either may be null;
// each given one is emptied first). 0 when every given part fit, else -1; the
// file part is filled first.
int splitpath(const char* path, char* dir, int dirsize, char* file, int filesize);
// dir + '/' + name with '\' turned into '/'; a blank dir copies name as is.
// 0, or -1 with dst untouched (blank name, or too long counting the '/').
int pathjoin(const char* dir, const char* name, char* dst, int dstsize);
// Copies the CN value of a distinguished name ("/C=XX/CN=x" or "CN=x, O=y").
// 1 when found and copied whole, otherwise 0 with dst untouched.
int dn2cn(const char* dn, char* dst, int dstsize);

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
