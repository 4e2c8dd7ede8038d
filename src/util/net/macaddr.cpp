// SPDX-License-Identifier: MIT
// MAC address texts: the three written forms and comparison across them.
#include "pacelag/util.h"

#include <cstring>

namespace {

bool ishex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool ismacsep(char c) {
    return c == '-' || c == '.' || c == ':';
}

bool allhex(const char* text, int from, int to) {
    for (int i = from; i < to; ++i)
        if (!ishex(text[i])) return false;
    return true;
}

} // namespace

bool ismacaddr(const char* text) {
    if (text == nullptr) return false;
    // strnlen: a longer text is refused without walking all of it.
    switch (strnlen(text, 18)) {
    case 17:
        for (int i = 0; i < 17; i += 3) {
            if (!allhex(text, i, i + 2)) return false;
            if (i < 15 && text[i + 2] != ':' && text[i + 2] != '-') return false;
        }
        return true;
    case 14:
        return allhex(text, 0, 4) && text[4] == '.' && allhex(text, 5, 9) && text[9] == '.' &&
               allhex(text, 10, 14);
    case 12: return allhex(text, 0, 12);
    default: return false;
    }
}

bool macequal(const char* a, const char* b) {
    if (a == nullptr || b == nullptr || *a == '\0' || *b == '\0') return false;
    for (int i = 0;; ++i) {
        if (ismacsep(*a)) ++a;
        if (ismacsep(*b)) ++b;
        if (!ishex(*a) || charlower(*a) != charlower(*b)) return false;
        ++a;
        ++b;
        if (*a == '\0' || *b == '\0') return i == 11;
    }
}
