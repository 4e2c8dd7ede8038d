// SPDX-License-Identifier: MIT
// Reading numbers back from text: checked decimal conversions, decimal
// fractions, count ranges written "first-last", the words that mean "yes" or
// "no", and the tests whether a text is made of digits.
#include "pacelag/util.h"

#include "check.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

namespace {
bool isdigitbyte(char c) {
    return c >= '0' && c <= '9';
}

bool sameword(const char* text, const char* lowerword) {
    for (; *text != '\0' && *lowerword != '\0'; ++text, ++lowerword)
        if (charlower(*text) != *lowerword) return false;
    return *text == '\0' && *lowerword == '\0';
}
} // namespace

// The checked conversions refuse anything alldigits() refuses, so a value read
// from a configuration never picks up the number at the start of a word. What
// is left goes to the C library, whose saturation on overflow is kept; the
// result is then cut to the routine's width.

int32_t str2int(const char* text) {
    UTIL_CHECK(text != nullptr);
    if (!alldigits(text)) return 0;
    return int32_t(uint32_t(std::strtol(text, nullptr, 10)));
}

uint32_t str2uint(const char* text) {
    UTIL_CHECK(text != nullptr);
    if (!alldigits(text)) return 0;
    return uint32_t(std::strtoul(text, nullptr, 10));
}

int64_t str2long(const char* text) {
    UTIL_CHECK(text != nullptr);
    if (!alldigits(text)) return 0;
    return int64_t(std::strtoll(text, nullptr, 10));
}

int str2range(const char* text, int64_t* low, int64_t* high) {
    UTIL_CHECK(low != nullptr && high != nullptr);
    *low = *high = 0;
    if (text == nullptr) return -1;

    // Blanks are dropped while copying, so that padding cannot push digits
    // past the end of the scratch buffer.
    char buf[128];
    int len = 0;
    for (const char* p = text; *p != '\0' && len < int(sizeof buf) - 1; ++p)
        if (*p != ' ' && *p != '\t') buf[len++] = *p;
    buf[len] = '\0';

    int64_t first, second;
    if (char* dash = std::strchr(buf, '-')) {
        *dash = '\0';
        first = str2long(buf);
        second = str2long(dash + 1);
        if (first < 0 || second < 0) return -1;
    } else {
        first = second = str2long(buf);
        if (first == 0) return -1;
    }
    if (second < first) {
        int64_t t = first;
        first = second;
        second = t;
    }
    *low = first;
    *high = second;
    return 0;
}

bool istrueword(const char* text) {
    if (text == nullptr) return false;
    if (uint32_t(std::strtol(text, nullptr, 10)) == 1) return true;
    return sameword(text, "true") || sameword(text, "yes") || sameword(text, "on");
}

bool alldigits(const char* text) {
    UTIL_CHECK(text != nullptr);
    for (const char* p = text; *p; ++p) {
        char c = *p;
        if (!((c >= '0' && c <= '9') || c == ' ' || c == '-' || c == '.' || c == '_')) return false;
    }
    return true;
}

bool isfalseword(const char* text) {
    if (text == nullptr) return false;
    return sameword(text, "0") || sameword(text, "no") || sameword(text, "off") ||
           sameword(text, "false");
}

int str2double(const char* text, double& out) {
    out = 0.0;
    if (text == nullptr) return -1;
    const char* p = text;
    while (std::isspace(static_cast<unsigned char>(*p))) ++p;
    double sign = 1.0;
    if (*p == '-') {
        sign = -1.0;
        ++p;
    } else if (*p == '+') {
        ++p;
    }
    if (*p == '\0') return -1;
    double value = 0.0;
    while (isdigitbyte(*p)) value = value * 10.0 + (*p++ - '0');
    // The divisor is a double: it cannot overflow like an integer and stays
    // exact up to 10^22. Fraction digits are taken while the digit value is
    // still an exact integer (below 2^53); later ones are below the result's
    // precision and are skipped, which also keeps value and divisor finite.
    double divisor = 1.0;
    if (*p == '.') {
        ++p;
        for (; isdigitbyte(*p); ++p) {
            if (value < 9007199254740992.0 && divisor < 1e300) {
                value = value * 10.0 + (*p - '0');
                divisor *= 10.0;
            }
        }
    }
    while (std::isspace(static_cast<unsigned char>(*p))) ++p;
    if (*p != '\0' && *p != '.') return -1;
    out = sign * (value / divisor);
    return 0;
}

double str2doubleval(const char* text) {
    double value;
    str2double(text, value);
    return value;
}

bool isnumeric(const char* text) {
    UTIL_CHECK(text != nullptr);
    bool pendingminus = false;
    for (const char* p = text; *p; ++p) {
        char c = *p;
        if (c == '-') {
            if (p[1] == '-') return false;
            pendingminus = true;
        } else if (c >= '0' && c <= '9') {
            pendingminus = false;
        } else if (c != ' ' && c != '\t' && c != '.') {
            return false;
        }
    }
    return !pendingminus;
}

bool onlydigits(const char* text) {
    UTIL_CHECK(text != nullptr);
    for (const char* p = text; *p; ++p)
        if (!isdigitbyte(*p)) return false;
    return true;
}
