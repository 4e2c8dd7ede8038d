// SPDX-License-Identifier: MIT
// String primitives: blank test, trimming, bounded copy and append, single
// character edits, letter case, search, lists and heap text slots.
#include "pacelag/util.h"

#include "alloc.h"
#include "check.h"

#include <cstring>

namespace {
struct CaseTables {
    char upper[256];
    char lower[256];
    constexpr CaseTables() : upper(), lower() {
        for (int i = 0; i < 256; ++i) {
            upper[i] = static_cast<char>(i >= 'a' && i <= 'z' ? i - 'a' + 'A' : i);
            lower[i] = static_cast<char>(i >= 'A' && i <= 'Z' ? i - 'A' + 'a' : i);
        }
    }
};
constexpr CaseTables casetables;

const char* search(const char* text, const char* needle, bool end) {
    if (text == nullptr) return nullptr;
    if (needle == nullptr || needle[0] == '\0') return text;
    for (const char* start = text; *start != '\0'; start++) {
        int i = 0;
        while (needle[i] != '\0' && charupper(start[i]) == charupper(needle[i])) i++;
        if (needle[i] == '\0') return end ? start + i : start;
        // A mismatch at the text's NUL means no later start can match either.
        if (start[i] == '\0') return nullptr;
    }
    return nullptr;
}

bool trimmable(char c) {
    return c == ' ' || c == '\r' || c == '\n';
}

} // namespace

bool strblank(const char* text) {
    if (text == nullptr) return true;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
        if (*p > 0x20) return false;
    }
    return true;
}

char* strtrim(char* text) {
    UTIL_CHECK(text != nullptr);
    int length = static_cast<int>(std::strlen(text));
    while (length > 0 && trimmable(text[length - 1])) --length;
    text[length] = '\0';
    int lead = 0;
    while (lead < length && trimmable(text[lead])) ++lead;
    if (lead > 0) {
        std::memmove(text, text + lead, static_cast<size_t>(length - lead));
        text[length - lead] = '\0';
    }
    return text;
}

int strcopy(char* dst, const char* src, int size) {
    UTIL_CHECK(dst != nullptr && src != nullptr);
    if (size < 1) return 0;
    size_t n = std::strlen(src);
    if (n >= static_cast<size_t>(size)) n = static_cast<size_t>(size) - 1;
    std::memcpy(dst, src, n);
    dst[n] = '\0';
    return static_cast<int>(n);
}

int strconcat(char* dst, const char* src, int size) {
    UTIL_CHECK(dst != nullptr && src != nullptr);
    if (size < 1) return 0;
    // Never look past the buffer for a terminator that may be missing.
    const void* end = std::memchr(dst, '\0', static_cast<size_t>(size));
    if (end == nullptr) return 0;
    int length = static_cast<int>(static_cast<const char*>(end) - dst);
    return strcopy(dst + length, src, size - length);
}

int strappend(char* buffer, int size, const char* addstr, int addlen, int& pos) {
    UTIL_CHECK(buffer != nullptr && addstr != nullptr);
    if (addlen < 0 || pos < 0 || static_cast<int64_t>(pos) + addlen >= size) return -1;
    std::memcpy(buffer + pos, addstr, static_cast<size_t>(addlen));
    pos += addlen;
    buffer[pos] = '\0';
    return 0;
}

int strappendstr(char* buffer, int size, const char* addstr, int& pos) {
    UTIL_CHECK(buffer != nullptr && addstr != nullptr);
    size_t length = std::strlen(addstr);
    if (length >= static_cast<size_t>(INT32_MAX)) return -1;
    return strappend(buffer, size, addstr, static_cast<int>(length), pos);
}

int stripchar(char* text, char ch) {
    UTIL_CHECK(text != nullptr);
    char* out = text;
    for (const char* in = text; *in; ++in) {
        if (*in != ch) *out++ = *in;
    }
    *out = '\0';
    return static_cast<int>(out - text);
}

void stripcrlf(char* text) {
    UTIL_CHECK(text != nullptr);
    char* out = text;
    for (const char* in = text; *in; ++in) {
        if (*in != '\r' && *in != '\n') *out++ = *in;
    }
    *out = '\0';
}

char* strsub(char* text, char from, char to) {
    UTIL_CHECK(text != nullptr);
    UTIL_CHECK(to != '\0');
    if (from == '\0') return text;
    for (char* p = text; *p; ++p) {
        if (*p == from) *p = to;
    }
    return text;
}

char charupper(char ch) {
    return casetables.upper[static_cast<unsigned char>(ch)];
}

char charlower(char ch) {
    return casetables.lower[static_cast<unsigned char>(ch)];
}

uint32_t strlistcount(const char* const* list) {
    UTIL_CHECK(list != nullptr);
    uint32_t n = 0;
    while (list[n] != nullptr) ++n;
    return n;
}

const char* strafter(const char* text, const char* pattern) {
    UTIL_CHECK(text != nullptr && pattern != nullptr);
    const char* found = std::strstr(text, pattern);
    return found == nullptr ? nullptr : found + std::strlen(pattern);
}

char* strafter(char* text, const char* pattern) {
    return const_cast<char*>(strafter(static_cast<const char*>(text), pattern));
}

int strset(const char* value, char*& slot) {
    if (value == nullptr) {
        std::free(slot);
        slot = nullptr;
        return 0;
    }
    if (slot != nullptr && std::strcmp(slot, value) == 0) return 0;
    char* copy = util_strdup(value);
    if (copy == nullptr) return -1;
    std::free(slot);
    slot = copy;
    return 0;
}

const char* stristr(const char* text, const char* needle) {
    return search(text, needle, false);
}

char* stristr(char* text, const char* needle) {
    return const_cast<char*>(search(text, needle, false));
}

const char* stristrend(const char* text, const char* needle) {
    return search(text, needle, true);
}

char* stristrend(char* text, const char* needle) {
    return const_cast<char*>(search(text, needle, true));
}
