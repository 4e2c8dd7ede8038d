// SPDX-License-Identifier: MIT
// Human-readable quantities: byte counts and bit rates with decimal units,
// durations, hexadecimal dumps, and trimming of decimal number text.
#include "pacelag/util.h"

#include "alloc.h"
#include "check.h"

#include <cstdio>
#include <cstring>

// The unit is chosen from the unrounded value, so 999999.9 bytes stays in KB
// and prints as 1000.000 KB. NaN falls through every comparison to the top unit.
int size2str(char* buf, const char* suffix, double bytes) {
    UTIL_CHECK(buf != nullptr);
    if (suffix == nullptr) suffix = "";
    if (bytes < 1e3) return std::sprintf(buf, "%.0f bytes%s", bytes, suffix);
    if (bytes < 1e6) return std::sprintf(buf, "%0.3f KB%s", bytes / 1e3, suffix);
    if (bytes < 1e9) return std::sprintf(buf, "%0.3f MB%s", bytes / 1e6, suffix);
    if (bytes < 1e12) return std::sprintf(buf, "%0.3f GB%s", bytes / 1e9, suffix);
    if (bytes < 1e15) return std::sprintf(buf, "%0.3f TB%s", bytes / 1e12, suffix);
    return std::sprintf(buf, "%0.3f PB%s", bytes / 1e15, suffix);
}

int bitrate2str(char* buf, const char* suffix, double bits) {
    UTIL_CHECK(buf != nullptr);
    if (suffix == nullptr) suffix = "/s";
    if (bits < 1e3) return std::sprintf(buf, "%.0f bit%s", bits, suffix);
    if (bits < 1e6) return std::sprintf(buf, "%0.3f kbit%s", bits / 1e3, suffix);
    return std::sprintf(buf, "%0.3f Mbit%s", bits / 1e6, suffix);
}

int secs2str(char* buf, int secs) {
    UTIL_CHECK(buf != nullptr);
    if (secs <= 59) return std::sprintf(buf, "%d secs", secs);
    if (secs <= 3599) return std::sprintf(buf, "%d mins, %d secs", secs / 60, secs % 60);
    return std::sprintf(buf, "%d hrs, %d mins, %d secs", secs / 3600, (secs / 60) % 60, secs % 60);
}

char* bin2hex(const unsigned char* data, int count) {
    if (count < 0 || count >= (1 << 30)) return nullptr;
    UTIL_CHECK(count == 0 || data != nullptr);
    char* text = static_cast<char*>(util_malloc(2 * static_cast<size_t>(count) + 1));
    if (text == nullptr) return nullptr;
    static const char hexdigits[] = "0123456789abcdef";
    for (int i = 0; i < count; ++i) {
        text[2 * i] = hexdigits[data[i] >> 4];
        text[2 * i + 1] = hexdigits[data[i] & 15];
    }
    text[2 * count] = '\0';
    return text;
}

void numtrim(char* text) {
    UTIL_CHECK(text != nullptr);
    char* body = text + (text[0] == '+' || text[0] == '-');
    if (*body == '\0') return;
    char* dot = nullptr;
    char* lastsignificant = nullptr; // last digit other than '0' after the '.'
    for (char* p = body; *p; ++p) {
        if (*p == '.') {
            if (dot != nullptr) return;
            dot = p;
        } else if (*p < '0' || *p > '9') {
            return;
        } else if (dot != nullptr && *p != '0') {
            lastsignificant = p;
        }
    }
    if (dot == nullptr) return;
    if (lastsignificant == nullptr)
        *dot = '\0';
    else
        lastsignificant[1] = '\0';
    if (text[0] == '+') std::memmove(text, text + 1, std::strlen(text));
    if (text[0] == '\0' || std::strcmp(text, "-") == 0 || std::strcmp(text, "-0") == 0)
        std::strcpy(text, "0");
}
