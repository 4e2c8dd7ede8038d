// Part of pacelag/util.h: number and digit texts, character classes, filters,
// quoting and escaping, and data masking.
#pragma once

#include <cstdint>

// ---- Number and digit text ----

// 0..15 for a hexadecimal digit, 0 for any other byte.
int hexval(char ch);
// Signed 64-bit value in the 64-symbol alphabet "0-9aAbB..zZ-_", most
// significant first, '-' for negatives. Needs 13 bytes. Returns the length.
int long2b64(char* buf, int64_t value);
// Digits, space, tab, '.' and '-', every '-' followed later by a digit and
// never directly by another '-'. The empty text is numeric.
bool isnumeric(const char* text);
