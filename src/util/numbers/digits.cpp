// SPDX-License-Identifier: MIT
// Digit texts: decimal, hexadecimal and the 64- and 128-symbol alphabets
// written from integers, and hexadecimal text decoded to bytes.
#include "pacelag/util.h"

#include "check.h"
#include "positional.h"

#include <cctype>
#include <cstdint>
#include <cstring>

namespace {
const char hexsymbols[] = "0123456789ABCDEF";
const char b64symbols[] = "0123456789aAbBcCdDeEfFgGhHiIjJkKlLmMnNoOpPqQrRsStTuUvVwWxXyYzZ-_";
// Raw bytes, not ASCII: tab at position 76 and bytes above 0x7F (0xDE absent).
const unsigned char b128symbols[128] = {
    0x21, 0x40, 0x23, 0x24, 0x25, 0x5E, 0x26, 0x2A, 0x28, 0x29, 0x2D, 0x5F, 0x3D, 0x2B, 0x3C, 0x3E,
    0x61, 0x41, 0x62, 0x42, 0x63, 0x43, 0x64, 0x44, 0x65, 0x45, 0x66, 0x46, 0x67, 0x47, 0x68, 0x48,
    0x69, 0x49, 0x6A, 0x4A, 0x6B, 0x4B, 0x6C, 0x4C, 0x6D, 0x4D, 0x6E, 0x4E, 0x6F, 0x4F, 0x70, 0x50,
    0x71, 0x51, 0x72, 0x52, 0x73, 0x53, 0x74, 0x54, 0x75, 0x55, 0x76, 0x56, 0x77, 0x57, 0x78, 0x58,
    0x79, 0x59, 0x7A, 0x5A, 0x5B, 0x7B, 0x5D, 0x7D, 0x3B, 0x27, 0x7C, 0x5C, 0x09, 0xC0, 0xC1, 0xC2,
    0xC3, 0xC4, 0xC5, 0xC6, 0xC7, 0xC8, 0xC9, 0xCA, 0xCB, 0xCC, 0xCD, 0xCE, 0xCF, 0xD0, 0xD1, 0xD2,
    0xD3, 0xD4, 0xD5, 0xD6, 0xD7, 0xD8, 0xD9, 0xDA, 0xDB, 0xDC, 0xDD, 0xDF, 0xE0, 0xE1, 0xE2, 0xE3,
    0x30, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x7E, 0x60, 0x3F, 0xE4, 0xE5, 0xE6};

bool ishex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

} // namespace

int hexval(char ch) {
    if (ch >= '0' && ch <= '9') return ch - '0';
    if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
    if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
    return 0;
}

int hex2str(const char* src, void* dst) {
    UTIL_CHECK(src != nullptr);
    size_t n = std::strlen(src);
    if (n % 2 != 0) return -1;
    if (n == 0) return 0;
    UTIL_CHECK(dst != nullptr);
    unsigned char* out = static_cast<unsigned char*>(dst);
    for (size_t i = 0; i < n; i += 2)
        *out++ = static_cast<unsigned char>(hexval(src[i]) * 16 + hexval(src[i + 1]));
    return 0;
}

int hex2bin(char* text, int len, bool lenient, int& outlen) {
    UTIL_CHECK(text != nullptr);
    // The validation walk never passes the terminator, whatever len says.
    int textlen = static_cast<int>(strnlen(text, len > 0 ? static_cast<size_t>(len) : 0));
    if (len > textlen) len = textlen;
    if (len > 0) {
        bool prefix = false;
        int digits = 0;
        bool valid = true;
        for (int i = 0; i < len && valid; ++i) {
            char c = text[i];
            // "0x" is a prefix only before the first digit, as in decoding below.
            if (!prefix && digits == 0 && c == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
                prefix = true;
                ++i;
            } else if (ishex(c)) {
                ++digits;
            } else if (c != ' ' && c != '\t' && c != '\n' && c != '\r' && c != ':' && c != '-') {
                valid = false;
            }
        }
        if (!valid || digits % 2 != 0) {
            outlen = lenient ? len : 0;
            return lenient ? 0 : -1;
        }
    }
    // Output never overtakes input: two digits are read for every byte written.
    int out = 0;
    bool prefix = false;
    int high = -1;
    for (const char* p = text; *p; ++p) {
        if (out == 0 && high < 0 && !prefix && p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
            prefix = true;
            ++p;
            continue;
        }
        if (!ishex(*p)) continue;
        if (high < 0) {
            high = hexval(*p);
        } else {
            text[out++] = static_cast<char>(high * 16 + hexval(*p));
            high = -1;
        }
    }
    text[out] = '\0';
    outlen = out;
    return 0;
}

int hex2binstr(char* text, bool lenient, int& outlen) {
    UTIL_CHECK(text != nullptr);
    return hex2bin(text, static_cast<int>(std::strlen(text)), lenient, outlen);
}

int uint2hex(char* buf, uint32_t value) {
    UTIL_CHECK(buf != nullptr);
    return positional(buf, value, false, hexsymbols, 16);
}

int int2b64(char* buf, int32_t value) {
    UTIL_CHECK(buf != nullptr);
    return positional(buf, magnitude64(value), value < 0, b64symbols, 64);
}

int long2b64(char* buf, int64_t value) {
    UTIL_CHECK(buf != nullptr);
    return positional(buf, magnitude64(value), value < 0, b64symbols, 64);
}

int int2b128(char* buf, int32_t value) {
    UTIL_CHECK(buf != nullptr);
    return positional(buf, magnitude64(value), value < 0,
                      reinterpret_cast<const char*>(b128symbols), 128);
}

int int2str(char* buf, int32_t value) {
    UTIL_CHECK(buf != nullptr);
    return positional(buf, magnitude64(value), value < 0, decimaldigits, 10);
}

int uint2str(char* buf, uint32_t value) {
    UTIL_CHECK(buf != nullptr);
    return positional(buf, value, false, decimaldigits, 10);
}

int long2str(char* buf, int64_t value) {
    UTIL_CHECK(buf != nullptr);
    return positional(buf, magnitude64(value), value < 0, decimaldigits, 10);
}

int ulong2str(char* buf, uint64_t value) {
    UTIL_CHECK(buf != nullptr);
    return positional(buf, value, false, decimaldigits, 10);
}
