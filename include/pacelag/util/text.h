// SPDX-License-Identifier: MIT
// Part of pacelag/util.h: character classes, filters, quoting and escaping,
// and data masking.
#pragma once

#include <cstdint>

// Declarations here are exported from the shared library; the rest of it is hidden.
#pragma GCC visibility push(default)

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

// New text in out with every single quote doubled; its length, or -1 (out null)
// when memory runs out.
int quotedupnew(const char* text, char*& out);
// True when the double quotes from start up to and including *pos are even in
// number; false when pos is before start or at or past the end of the text.
bool outsidequotes(const char* start, const char* pos);

// NUL-free encoding: b becomes b + 2, 0xFE becomes 01 01, 0xFF becomes 01 02.
// The output is NUL-terminated; a buffer too small takes a prefix. Returns the
// output length.
int nulescape(const void* data, int datalen, char* out, int outsize);
// Decodes at most maxlen source bytes (stopping at src's NUL) into out, which
// is not terminated and never receives more than maxlen bytes. Returns the
// number of bytes written.
int nulunescape(const char* src, void* out, int maxlen);

// ---- Data masking ----

// Writes the masked form of src into dst (size bytes): type 1 "########",
// type 2 all but the last four as '#', type 3 all but the first six and the
// last four as '#' (short values as type 2 or the fixed mask), type 4
// "********", other types the trimmed value. A null src gives "".
void datamask_mask(const char* src, int type, char* dst, int size);
// Whether data is already in the masked form of type. Trims data in place.
bool datamask_check(char* data, int type);

#pragma GCC visibility pop
