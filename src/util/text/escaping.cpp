// SPDX-License-Identifier: MIT
// Quoting and escaping: removal of surrounding quotes, doubling of single
// quotes, the quote-parity test, backslash and entity escaping in place, and
// the NUL-free byte encoding.
#include "pacelag/util.h"

#include "alloc.h"
#include "check.h"

#include <climits>
#include <cstdint>
#include <cstring>

namespace {

bool isquotespace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Opens a gap of `extra` bytes at text[at] by moving the tail (NUL included).
void opengap(char* text, int len, int at, int extra) {
    std::memmove(text + at + extra, text + at, static_cast<size_t>(len - at + 1));
}

} // namespace

char* stripquote(char* text, char quote) {
    UTIL_CHECK(text != nullptr);
    UTIL_CHECK(quote != '\0');
    char* p = text;
    while (isquotespace(*p)) ++p;
    if (*p == '\0') return p;
    if (*p != quote) return text;
    char* start = p + 1;
    char* end = start + std::strlen(start);
    while (end > start && isquotespace(end[-1])) --end;
    if (end == start) return start;
    if (end[-1] != quote) return text;
    end[-1] = '\0';
    return start;
}

int quotedupn(const char* src, int count, char* dst, int size) {
    UTIL_CHECK(src != nullptr);
    UTIL_CHECK(dst != nullptr);
    if (size < 1) return 0;
    int out = 0;
    for (int i = 0; i < count && src[i]; ++i) {
        int need = src[i] == '\'' ? 2 : 1;
        if (out + need >= size) break;
        dst[out++] = src[i];
        if (need == 2) dst[out++] = '\'';
    }
    dst[out] = '\0';
    return out;
}

int quotedup(const char* src, char* dst, int size) {
    return quotedupn(src, INT_MAX, dst, size);
}

char* quotedupin(char* text, int size) {
    UTIL_CHECK(text != nullptr);
    if (size < 1) return text;
    int len = static_cast<int>(std::strlen(text));
    for (int i = 0; i < len; ++i) {
        if (text[i] != '\'') continue;
        if (len + 1 > size - 1) {
            text[i] = ' ';
            continue;
        }
        opengap(text, len, i, 1);
        ++len;
        ++i; // skip the inserted quote
    }
    return text;
}

char* escapeinplace(char* text, int size) {
    UTIL_CHECK(text != nullptr);
    if (size < 1) return text;
    int len = static_cast<int>(std::strlen(text));
    for (int i = 0; i < len; ++i) {
        char c = text[i];
        if (c == '\'' || c == '\\') {
            if (len + 1 > size - 1) {
                text[i] = ' ';
                continue;
            }
            opengap(text, len, i, 1);
            len += 1;
            text[i++] = '\\';
        } else if (c == '<' || c == '>') {
            if (len + 3 > size - 1) {
                text[i] = ' ';
                continue;
            }
            opengap(text, len, i, 3);
            len += 3;
            std::memcpy(text + i, c == '<' ? "&lt;" : "&gt;", 4);
            i += 3;
        }
    }
    return text;
}

int quotedupnew(const char* text, char*& out) {
    UTIL_CHECK(text != nullptr);
    out = nullptr;
    size_t len = 0, quotes = 0;
    for (; text[len]; ++len) quotes += text[len] == '\'';
    // Sized once from the count of quotes instead of growing step by step.
    if (len + quotes > static_cast<size_t>(INT_MAX)) return -1;
    char* w = static_cast<char*>(util_malloc(len + quotes + 1));
    if (w == nullptr) return -1;
    out = w;
    for (size_t i = 0; i < len; ++i) {
        *w++ = text[i];
        if (text[i] == '\'') *w++ = '\'';
    }
    *w = '\0';
    return static_cast<int>(len + quotes);
}

bool outsidequotes(const char* start, const char* pos) {
    if (start == nullptr || pos == nullptr) return false;
    // Compare as integers: pos may point anywhere, even before start.
    if (reinterpret_cast<uintptr_t>(pos) < reinterpret_cast<uintptr_t>(start)) return false;
    int quotes = 0;
    for (const char* p = start;; p++) {
        if (*p == '\0') return false;
        if (*p == '"') quotes++;
        if (p == pos) return quotes % 2 == 0;
    }
}

int nulescape(const void* data, int datalen, char* out, int outsize) {
    if (outsize < 1) return 0;
    UTIL_CHECK(out != nullptr);
    UTIL_CHECK(datalen <= 0 || data != nullptr);
    const uint8_t* in = static_cast<const uint8_t*>(data);
    int pos = 0;
    for (int i = 0; i < datalen && pos + 3 <= outsize; ++i) {
        uint8_t b = in[i];
        if (b >= 0xFE) {
            out[pos++] = 0x01;
            out[pos++] = char(b - 0xFD);
        } else {
            out[pos++] = char(b + 2);
        }
    }
    out[pos] = '\0';
    return pos;
}

int nulunescape(const char* src, void* out, int maxlen) {
    UTIL_CHECK(src != nullptr);
    if (maxlen <= 0) return 0;
    UTIL_CHECK(out != nullptr);
    const uint8_t* s = reinterpret_cast<const uint8_t*>(src);
    uint8_t* o = static_cast<uint8_t*>(out);
    int n = 0, i = 0;
    while (i < maxlen && s[i] != 0) {
        if (s[i] == 0x01) {
            // An escape pair must lie wholly within the limit.
            if (i + 1 >= maxlen) break;
            uint8_t next = s[i + 1];
            if (next == 0x01 || next == 0x02) {
                o[n++] = uint8_t(0xFD + next);
                i += 2;
            } else {
                ++i; // stray escape byte: drop it, decode what follows
            }
            continue;
        }
        o[n++] = uint8_t(s[i] - 2);
        ++i;
    }
    return n;
}
