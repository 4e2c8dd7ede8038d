// SPDX-License-Identifier: MIT
// Masking of values (card numbers, secrets) for display or storage, and the
// test whether a value is already in masked form.
#include "pacelag/util.h"

#include "check.h"

#include <cctype>
#include <cstring>

namespace {
const char fixedhash[] = "########";
const char fixedstar[] = "********";

// Every byte in [from, to) is ch, or ch or white space when spaceok.
bool allmask(const char* text, int from, int to, char ch, bool spaceok) {
    for (int i = from; i < to; ++i) {
        char c = text[i];
        if (c != ch && !(spaceok && std::isspace(static_cast<unsigned char>(c)))) return false;
    }
    return true;
}

void fill(char* text, int from, int to) {
    for (int i = from; i < to; ++i) text[i] = '#';
}
} // namespace

void datamask_mask(const char* src, int type, char* dst, int size) {
    UTIL_CHECK(dst != nullptr);
    if (size < 1) return;
    if (src == nullptr) {
        dst[0] = '\0';
        return;
    }
    if (src != dst) strcopy(dst, src, size);
    if (strblank(dst)) return;
    strtrim(dst);
    int n = static_cast<int>(std::strlen(dst));
    switch (type) {
    case 1: strcopy(dst, fixedhash, size); break;
    case 4: strcopy(dst, fixedstar, size); break;
    case 2:
    case 3:
        if (n <= 4)
            strcopy(dst, fixedhash, size);
        else if (type == 2 || n <= 10)
            fill(dst, 0, n - 4);
        else
            fill(dst, 6, n - 4);
        break;
    default: break;
    }
}

bool datamask_check(char* data, int type) {
    if (strblank(data)) return false;
    strtrim(data);
    int n = static_cast<int>(std::strlen(data));
    switch (type) {
    case 1: return allmask(data, 0, n, '#', true);
    case 4: return allmask(data, 0, n, '*', true);
    case 2:
    case 3:
        if (n <= 4) return allmask(data, 0, n, '#', true);
        if (type == 2 || n <= 10) return allmask(data, 0, n - 4, '#', false);
        return allmask(data, 6, n - 4, '#', false);
    default: return false;
    }
}
