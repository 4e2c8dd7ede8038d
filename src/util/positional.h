// SPDX-License-Identifier: MIT
// Private: writing an integer in a positional alphabet (decimal, hexadecimal,
// the 64- and 128-symbol alphabets), shared by the decimal and digit texts.
#pragma once

#include <cstdint>

inline constexpr char decimaldigits[] = "0123456789";

// Magnitude as unsigned, exact for the most negative value too.
inline uint64_t magnitude64(int64_t value) {
    return value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
}

// Writes the magnitude least significant first, the sign, then reverses, so
// the sign comes first. Writes the NUL; returns the count written before it.
inline int positional(char* buf, uint64_t magnitude, bool negative, const char* symbols,
                      unsigned base) {
    int n = 0;
    do {
        buf[n++] = symbols[magnitude % base];
        magnitude /= base;
    } while (magnitude != 0);
    if (negative) buf[n++] = '-';
    buf[n] = '\0';
    for (int i = 0, j = n - 1; i < j; ++i, --j) {
        char c = buf[i];
        buf[i] = buf[j];
        buf[j] = c;
    }
    return n;
}
