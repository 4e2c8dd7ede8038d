// SPDX-License-Identifier: MIT
// Character classes of whole texts and in-place filters.
#include "pacelag/util.h"

#include "alloc.h"
#include "check.h"

#include <climits>
#include <cstring>

namespace {
// Token characters: the 256-entry table indexed by the unsigned byte.
struct TokenTable {
    unsigned char value[256] = {};
    TokenTable() {
        for (const char* p = "!\"#$%&'*+-.^_`{|}~"; *p; ++p)
            value[static_cast<unsigned char>(*p)] = 1;
        for (int c = '0'; c <= '9'; ++c) value[c] = 1;
        for (int c = 'A'; c <= 'Z'; ++c) value[c] = 1;
        for (int c = 'a'; c <= 'z'; ++c) value[c] = 1;
    }
};
const TokenTable tokentable;

bool isletter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool isalnumbyte(char c) {
    return isletter(c) || (c >= '0' && c <= '9');
}

} // namespace

bool istokenchar(char ch) {
    return tokentable.value[static_cast<unsigned char>(ch)] != 0;
}

bool issafepath(const char* text) {
    if (text == nullptr) return false;
    if (text[0] == '.') return false;
    for (const char* p = text; *p; ++p) {
        char c = *p;
        if (c == '*' || c == ':' || c == '?' || c == '\\') return false;
        if (c == '.' && (p[1] == '.' || p[1] == '\0')) return false;
    }
    return true;
}

bool isprintable(const char* text) {
    if (text == nullptr) return false;
    for (const char* p = text; *p; ++p)
        if (*p < 0x20 || *p > 0x7E) return false;
    return true;
}

bool ispathtext(const char* text) {
    if (text == nullptr) return false;
    for (const char* p = text; *p; ++p)
        if (!isalnumbyte(*p) && !std::strchr("+-.@/\\_", *p)) return false;
    return true;
}

bool ishostname(const char* text) {
    if (text == nullptr) return false;
    if (text[0] == '-' || text[0] == '.') return false;
    char prev = '\0';
    for (const char* p = text; *p; ++p) {
        char c = *p;
        if (!isalnumbyte(c) && c != '-' && c != '.') return false;
        if (c == '.' && prev == '-') return false;
        prev = c;
    }
    return prev != '-';
}

bool hasletter(const char* text) {
    if (text == nullptr) return false;
    for (const char* p = text; *p; ++p)
        if (isletter(*p)) return true;
    return false;
}

bool isalnumstr(const char* text) {
    if (text == nullptr) return false;
    for (const char* p = text; *p; ++p)
        if (!isalnumbyte(*p)) return false;
    return true;
}

int stripbidi(char* text) {
    UTIL_CHECK(text != nullptr);
    int out = 0;
    for (int i = 0; text[i];) {
        unsigned char b0 = static_cast<unsigned char>(text[i]);
        if (b0 == 0xE2) {
            // Reading text[i + 2] is safe: text[i + 1] is checked non-NUL first.
            unsigned char b1 = static_cast<unsigned char>(text[i + 1]);
            unsigned char b2 = b1 ? static_cast<unsigned char>(text[i + 2]) : 0;
            if ((b1 == 0x80 && b2 >= 0xAA && b2 <= 0xAE) ||
                (b1 == 0x81 && b2 >= 0xA6 && b2 <= 0xA9)) {
                i += 3;
                continue;
            }
        }
        text[out++] = text[i++];
    }
    text[out] = '\0';
    return out;
}

int stripunsafe(char* text) {
    UTIL_CHECK(text != nullptr);
    int out = 0;
    for (const char* p = text; *p; ++p)
        if (isalnumbyte(*p) || std::strchr(" +,-./@_", *p)) text[out++] = *p;
    text[out] = '\0';
    return out;
}

int makeident(char* text) {
    UTIL_CHECK(text != nullptr);
    int out = 0;
    for (const char* p = text; *p; ++p) {
        char c = *p;
        if (isalnumbyte(c) || c == '_')
            text[out++] = c;
        else if (c == ' ' || c == '-' || c == '.' || c == '/')
            text[out++] = '_';
    }
    text[out] = '\0';
    return out;
}
