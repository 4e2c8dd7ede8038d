// Part of pacelag/util.h: number and digit texts, character classes, filters,
// quoting and escaping, and data masking.
#pragma once

#include <cstdint>

// ---- Number and digit text ----

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

// ---- Character classes ----
// The whole-text tests pass the empty text (except hasletter) and fail null.

// Token character: letters, digits and ! " # $ % & ' * + - . ^ _ ` { | } ~
bool istokenchar(char ch);
// Relative name without '*', ':', '?', '\', leading or trailing '.' or "..".
bool issafepath(const char* text);
// Every byte in 0x20..0x7E.
bool isprintable(const char* text);
// Only letters, digits and + - . @ / \ _
bool ispathtext(const char* text);
// Letters, digits, '-' and '.'; no leading '-' or '.', no "-.", no trailing '-'.
bool ishostname(const char* text);
// At least one ASCII letter.
bool hasletter(const char* text);
// Only ASCII letters and digits.
bool isalnumstr(const char* text);

// ---- In-place filters (each returns the new length) ----

// Drops the UTF-8 forms of U+202A..U+202E and U+2066..U+2069.
int stripbidi(char* text);
// Keeps letters, digits, space and + , - . / @ _
int stripunsafe(char* text);
// Keeps letters, digits and '_', turns space - . / into '_', drops the rest.
int makeident(char* text);

// ---- Quoting and escaping ----

// Removes one pair of surrounding quotes (leading/trailing white space is
// ignored): cuts the closing quote and returns the position after the opening
// one. Returns text itself when the text is not quoted that way.
char* stripquote(char* text, char quote);
// Copies src doubling every single quote; never splits a pair, stops before
// the output would reach size. Returns the output length.
int quotedup(const char* src, char* dst, int size);
// As quotedup, reading at most count source characters.
int quotedupn(const char* src, int count, char* dst, int size);
// Doubles single quotes in place within a buffer of size bytes; a quote that
// cannot be doubled for lack of room becomes a space. Returns text.
char* quotedupin(char* text, int size);
// In place: ' and \ get a backslash, < and > become &lt; and &gt;. A character
// whose escape does not fit in size bytes becomes a space. Returns text.
char* escapeinplace(char* text, int size);
// New text in URL form encoding (space as '+', %XX for other bytes than
// letters, digits and - . _ ~). Null and outlen 0 when memory runs out.
char* urlencode(const char* text, int& outlen);
char* urlencodestr(const char* text);

// ---- Data masking ----

// Writes the masked form of src into dst (size bytes): type 1 "########",
// type 2 all but the last four as '#', type 3 all but the first six and the
// last four as '#' (short values as type 2 or the fixed mask), type 4
// "********", other types the trimmed value. A null src gives "".
void datamask_mask(const char* src, int type, char* dst, int size);
// Whether data is already in the masked form of type. Trims data in place.
bool datamask_check(char* data, int type);
