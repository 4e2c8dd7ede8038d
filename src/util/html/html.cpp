// SPDX-License-Identifier: MIT
// Attribute values of simple HTML tag text, entity decoding and HTML escaping.
// Every scan stops at the terminating NUL, so any bytes are safe input.
#include "pacelag/util.h"

#include "alloc.h"
#include "check.h"
#include "tagvalue.h"

#include <cstring>

namespace {

struct Entity {
    const char* name; // after the '&', including the ';', lower case
    int length;
    char ch;
};

// The decoders of both routines; htmlunescapen uses only the entries marked.
const Entity entities[] = {
    {"amp;", 4, '&'}, {"apos;", 5, '\''}, {"gt;", 3, '>'},
    {"lt;", 3, '<'},  {"nbsp;", 5, ' '},  {"quot;", 5, '"'},
};

bool htmlspace(char ch) {
    return ch == ' ' || ch == '\t' || ch == '\n' || ch == '\r';
}

// Length of the entity name at text when it matches (ignoring case), else 0.
// Stops at the first mismatch, so it never reads past a NUL.
int matchname(const char* text, const char* name) {
    int i = 0;
    for (; name[i] != '\0'; i++) {
        if (charlower(text[i]) != name[i]) return 0;
    }
    return i;
}

// Decodes one entity at text (just after an '&'); stores its byte and returns
// the bytes consumed after the '&', or 0 when none matches.
int decodeentity(const char* text, bool full, char& out) {
    for (const Entity& e : entities) {
        if (!full && e.ch != '<' && e.ch != '>' && e.ch != '"') continue;
        if (matchname(text, e.name) != 0) {
            out = e.ch;
            return e.length;
        }
    }
    return 0;
}

// Decodes &lt; &gt; &quot; from the run src[0..len) into dst, which holds len
// + 1 bytes. When bounded, an entity must end inside the run.
char* decoderun(const char* src, int len, bool bounded) {
    if (len < 0) len = 0;
    char* dst = static_cast<char*>(util_malloc(static_cast<size_t>(len) + 1));
    if (dst == nullptr) return nullptr;
    int out = 0;
    int i = 0;
    while (i < len && src[i] != '\0') {
        char ch = 0;
        int used = src[i] == '&' ? decodeentity(src + i + 1, false, ch) : 0;
        if (used != 0 && (!bounded || i + 1 + used <= len)) {
            dst[out++] = ch;
            i += 1 + used;
        } else {
            dst[out++] = src[i++];
        }
    }
    dst[out] = '\0';
    return dst;
}

} // namespace

int findtagvalue(const char* html, const char* key, int keylen, char*& value) {
    value = nullptr;
    if (html == nullptr) return 0;
    const char* hit = stristr(html, key);
    while (hit != nullptr && !outsidequotes(html, hit)) {
        // outsidequotes is false at the NUL; an empty key would match there.
        if (*hit == '\0') return 0;
        hit = stristr(hit + 1, key);
    }
    if (hit == nullptr) return 0;

    // keylen comes from the caller: never step past the end of the text.
    const char* p = hit;
    for (int i = 0; i < keylen && *p != '\0'; i++) p++;
    while (htmlspace(*p)) p++;
    if (*p != '=') return 0;
    while (*p == '=') p++;
    while (htmlspace(*p)) p++;

    const char* start = p;
    const char* stop = p;
    if (*p == '"' || *p == '\'') {
        char quote = *p;
        start = p + 1;
        stop = start;
        while (*stop != '\0' && *stop != quote) stop++;
    } else {
        while (*stop != '\0' && !htmlspace(*stop)) stop++;
    }
    // Decoding the counted run with entities bounded by its end gives what a
    // NUL written after the value would give, without writing to the caller's text.
    value = decoderun(start, static_cast<int>(stop - start), true);
    return value != nullptr ? 1 : -1;
}

char* htmltagvalue(const char* html, const char* key, int keylen) {
    UTIL_CHECK(key != NULL);
    char* value = nullptr;
    findtagvalue(html, key, keylen, value);
    return value;
}

char* htmlescape(const char* src) {
    UTIL_CHECK(src != NULL);
    size_t size = 1;
    for (const char* p = src; *p != '\0'; p++) {
        switch (*p) {
        case '"': size += 6; break;
        case '&': size += 5; break;
        case '<':
        case '>': size += 4; break;
        default: size += 1;
        }
    }
    char* out = static_cast<char*>(util_malloc(size));
    if (out == nullptr) return nullptr;
    htmlescapebuf(src, out, size);
    return out;
}

void htmlescapebuf(const char* src, char* buf, size_t size) {
    if (size == 0) return;
    UTIL_CHECK(buf != NULL);
    buf[0] = '\0';
    if (src == nullptr) return;
    size_t out = 0;
    for (const char* p = src; *p != '\0'; p++) {
        const char* piece;
        size_t length;
        switch (*p) {
        case '"': piece = "&quot;", length = 6; break;
        case '&': piece = "&amp;", length = 5; break;
        case '<': piece = "&lt;", length = 4; break;
        case '>': piece = "&gt;", length = 4; break;
        default: piece = p, length = 1;
        }
        if (out + length >= size) return;
        std::memcpy(buf + out, piece, length);
        out += length;
        buf[out] = '\0';
    }
}

int htmlunescape(char* text) {
    if (text == nullptr) return 0;
    int out = 0;
    int i = 0;
    while (text[i] != '\0') {
        char ch = 0;
        int used = text[i] == '&' ? decodeentity(text + i + 1, true, ch) : 0;
        if (used != 0) {
            text[out++] = ch;
            i += 1 + used;
        } else {
            text[out++] = text[i++];
        }
    }
    text[out] = '\0';
    return out;
}

char* htmlunescapen(const char* src, int len) {
    UTIL_CHECK(src != NULL);
    return decoderun(src, len, false);
}
