// Character classes of whole texts, in-place filters, removal of surrounding
// quotes, quote doubling, backslash/entity escaping and URL form encoding.
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

bool isquotespace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Opens a gap of `extra` bytes at text[at] by moving the tail (NUL included).
void opengap(char* text, int len, int at, int extra) {
    std::memmove(text + at + extra, text + at, static_cast<size_t>(len - at + 1));
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

char* urlencode(const char* text, int& outlen) {
    UTIL_CHECK(text != nullptr);
    outlen = 0;
    size_t need = 0;
    for (const char* p = text; *p; ++p) {
        char c = *p;
        need +=
            (isalnumbyte(c) || c == '-' || c == '.' || c == '_' || c == '~' || c == ' ') ? 1 : 3;
    }
    // The length is reported as int; a result that long cannot be described.
    if (need > static_cast<size_t>(INT_MAX)) return nullptr;
    char* out = static_cast<char*>(util_malloc(need + 1));
    if (out == nullptr) return nullptr;
    static const char hexdigits[] = "0123456789ABCDEF";
    char* w = out;
    for (const char* p = text; *p; ++p) {
        char c = *p;
        unsigned char b = static_cast<unsigned char>(c);
        if (isalnumbyte(c) || c == '-' || c == '.' || c == '_' || c == '~') {
            *w++ = c;
        } else if (c == ' ') {
            *w++ = '+';
        } else {
            *w++ = '%';
            *w++ = hexdigits[b >> 4];
            *w++ = hexdigits[b & 0x0F];
        }
    }
    *w = '\0';
    outlen = static_cast<int>(need);
    return out;
}

char* urlencodestr(const char* text) {
    int outlen;
    return urlencode(text, outlen);
}
