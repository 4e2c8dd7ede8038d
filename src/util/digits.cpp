// Number and digit texts: hexadecimal, the 64- and 128-symbol alphabets,
// decimal parsing to double, numeric and MAC address tests.
#include "pacelag/util.h"

#include "check.h"

#include <cstdint>

namespace {
const char b64symbols[] = "0123456789aAbBcCdDeEfFgGhHiIjJkKlLmMnNoOpPqQrRsStTuUvVwWxXyYzZ-_";

// Writes the magnitude least significant first, the sign, then reverses.
int positional(char* buf, uint64_t magnitude, bool negative, const char* symbols, unsigned base) {
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

// Magnitude as unsigned, exact for the most negative value too.
uint64_t magnitude64(int64_t value) {
    return value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
}
} // namespace

int hexval(char ch) {
    if (ch >= '0' && ch <= '9') return ch - '0';
    if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
    if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
    return 0;
}

int long2b64(char* buf, int64_t value) {
    UTIL_CHECK(buf != nullptr);
    return positional(buf, magnitude64(value), value < 0, b64symbols, 64);
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
