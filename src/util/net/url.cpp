// SPDX-License-Identifier: MIT
// URLs: composing a URL from base, path and extension, splitting an http or
// https URL into host, port and path, percent-decoding and form encoding.
#include "pacelag/util.h"

#include "alloc.h"
#include "check.h"

#include <cctype>
#include <climits>
#include <cstring>
#include <strings.h>

namespace {
// strtol base 10 over [s, end) only, saturated to the range of int, so the
// port can be read without cutting the caller's text at the path.
int boundedstrtoint(const char* s, const char* end) {
    while (s < end && std::isspace(static_cast<unsigned char>(*s))) ++s;
    bool negative = false;
    if (s < end && (*s == '+' || *s == '-')) negative = *s++ == '-';
    long long value = 0;
    for (; s < end && *s >= '0' && *s <= '9'; ++s) {
        if (value <= INT_MAX) value = value * 10 + (*s - '0');
    }
    if (negative) value = -value;
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

bool isletter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool isalnumbyte(char c) {
    return isletter(c) || (c >= '0' && c <= '9');
}
} // namespace

int urlpathname(char* dsturl, int dstlen, const char* url, const char* path, const char* ext) {
    // Written against __null so that the report reads "dsturl != __null".
    UTIL_CHECK(dsturl != __null);
    UTIL_CHECK(url != __null);
    if (dstlen < 1) return -1;
    dsturl[0] = '\0';
    size_t urllen = std::strlen(url);
    size_t pathlen = path != nullptr ? std::strlen(path) : 0;
    size_t extlen = ext != nullptr ? std::strlen(ext) : 0;
    size_t sum = urllen + pathlen + extlen;
    if (sum >= static_cast<size_t>(dstlen)) return -1;

    std::memcpy(dsturl, url, urllen + 1);
    int n = stripchar(dsturl, ' ');
    if (path == nullptr) return 0;

    const char* firstpath = path;
    while (*firstpath == ' ') ++firstpath;
    bool slash = !(n > 0 && dsturl[n - 1] == '/') && std::strchr(dsturl, '?') == nullptr &&
                 *firstpath != '/';
    if (slash) {
        if (sum + 1 >= static_cast<size_t>(dstlen)) {
            dsturl[0] = '\0';
            return -1;
        }
        dsturl[n++] = '/';
    }
    std::memcpy(dsturl + n, path, pathlen + 1);
    n += stripchar(dsturl + n, ' ');

    if (n > 6 && ext != nullptr) {
        // An extension counts only when its dot lies in the last 6 characters.
        char* dot = std::strchr(dsturl + n - 6, '.');
        if (dot != nullptr) {
            if (ext[0] == '\0') {
                *dot = '\0';
            } else {
                // Fits: the size check above counted all of ext on top of
                // url and path, and the dot lies inside what is written.
                std::memcpy(ext[0] == '.' ? dot : dot + 1, ext, extlen + 1);
                stripchar(dot, ' ');
            }
        }
    }
    return 0;
}

int urlsplit(char* url, int* port, char** host, char** path) {
    UTIL_CHECK(port != nullptr && host != nullptr && path != nullptr);
    *host = nullptr;
    *path = nullptr;
    if (url == nullptr) return -1;

    const char* rest;
    if (strncasecmp(url, "http://", 7) == 0) {
        *port = 80;
        rest = url + 7;
    } else if (strncasecmp(url, "https://", 8) == 0) {
        *port = 443;
        rest = url + 8;
    } else {
        return -1;
    }

    // Only a '/' ends the authority; query and fragment belong to the path.
    const char* slash = std::strchr(rest, '/');
    const char* authend = slash != nullptr ? slash : rest + std::strlen(rest);
    size_t authlen = static_cast<size_t>(authend - rest);

    const char* hostbegin = rest;
    const char* hostend;
    const char* colon;
    const char* bracket = static_cast<const char*>(std::memchr(rest, ']', authlen));
    if (bracket != nullptr) {
        if (rest[0] != '[') return -1;
        hostbegin = rest + 1;
        hostend = bracket;
        colon = static_cast<const char*>(
            std::memchr(bracket, ':', static_cast<size_t>(authend - bracket)));
    } else {
        if (authlen > 0 && rest[0] == '[') return -1;
        colon = static_cast<const char*>(std::memchr(rest, ':', authlen));
        hostend = colon != nullptr ? colon : authend;
    }

    char* hostcopy = util_strndup(hostbegin, static_cast<size_t>(hostend - hostbegin));
    if (hostcopy == nullptr) return -1;
    if (colon != nullptr && colon + 1 < authend) {
        int value = boundedstrtoint(colon + 1, authend);
        if (value == 0) {
            std::free(hostcopy);
            return -1;
        }
        *port = value;
    }
    char* pathcopy = util_strdup(slash != nullptr ? slash : "/");
    if (pathcopy == nullptr) {
        std::free(hostcopy);
        return -1;
    }
    *host = hostcopy;
    *path = pathcopy;
    return 0;
}

char hexpair(char hi, char lo) {
    if (!std::isxdigit(static_cast<unsigned char>(hi)) ||
        !std::isxdigit(static_cast<unsigned char>(lo))) {
        return ' ';
    }
    return static_cast<char>((hexval(hi) << 4) | hexval(lo));
}

unsigned urldecode(char* text) {
    UTIL_CHECK(text != nullptr);
    char* out = text;
    const char* in = text;
    while (*in != '\0') {
        if (*in == '%' && in[1] != '\0' && in[2] != '\0') {
            *out++ = hexpair(in[1], in[2]);
            in += 3;
        } else if (*in == '+') {
            *out++ = ' ';
            ++in;
        } else {
            *out++ = *in++;
        }
    }
    *out = '\0';
    return static_cast<unsigned>(out - text);
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
