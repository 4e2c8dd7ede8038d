// SPDX-License-Identifier: MIT
// Fuzz target: URL splitting, path names with extension replacement,
// percent-decoding and form encoding. Input: a control byte (buffer size and
// which of path and extension are given), then url, path and extension
// separated by LF.
// Properties: outputs stay within their buffers and say so by their result,
// a large enough buffer always suffices, the url is restored after splitting,
// decoding never grows a text and undoes encoding exactly.
#include "pacelag/util.h"

#include "fuzzing.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <strings.h>

namespace {

std::string nospaces(std::string s) {
    s.erase(std::remove(s.begin(), s.end(), ' '), s.end());
    return s;
}

// The composition rules on the texts without their spaces: a '/' between base
// and path unless the base ends with '/' or holds '?' or the path starts with
// '/'; an extension whose dot lies in the last 6 characters replaced by ext
// ("" drops it, ".x" replaces it with its dot, "x" keeps the dot).
std::string wantpathname(const char* url, const char* path, const char* ext, bool& slash) {
    std::string out = nospaces(url);
    slash = false;
    if (path == nullptr) return out;
    std::string tail = nospaces(path);
    slash = !(!out.empty() && out.back() == '/') && out.find('?') == std::string::npos &&
            !(!tail.empty() && tail[0] == '/');
    out += (slash ? "/" : "") + tail;
    if (out.size() > 6 && ext != nullptr) {
        size_t dot = out.find('.', out.size() - 6);
        if (dot != std::string::npos) {
            std::string e = ext;
            if (e.empty()) {
                out.resize(dot);
            } else if (e[0] == '.') {
                out = out.substr(0, dot) + nospaces(e);
            } else {
                out = out.substr(0, dot + 1) + nospaces(e);
            }
        }
    }
    return out;
}

void checkpathname(const std::string& url, const std::string& path, const std::string& ext,
                   uint8_t control) {
    HeapText u(url), p(path), e(ext);
    const char* pathp = control & 1 ? p.p : nullptr;
    const char* extp = control & 2 ? e.p : nullptr;
    size_t sum = u.len + (pathp ? p.len : 0) + (extp ? e.len : 0);
    bool slash;
    std::string want = wantpathname(u.p, pathp, extp, slash);
    // A size near the sum, where the fit is decided, and one always large enough.
    int sizes[] = {static_cast<int>(sum) + 1 - (control >> 6), static_cast<int>(sum) + 2};
    for (int size : sizes) {
        if (size < 1) continue;
        HeapBuf dst(size);
        int r = urlpathname(dst.p, dst.size, u.p, pathp, extp);
        FUZZ_CHECK(u.same(url) && p.same(path) && e.same(ext));
        FUZZ_CHECK(dst.terminated());
        // The fit is judged on the given lengths, spaces counted, plus the '/'.
        bool fits = sum + (slash ? 1 : 0) < static_cast<size_t>(size);
        if (fits) {
            FUZZ_CHECK(r == 0 && want == dst.p);
        } else {
            FUZZ_CHECK(r == -1 && dst.p[0] == '\0');
        }
    }
}

void checksplit(const std::string& url) {
    HeapText u(url);
    int port = -7;
    char* host = reinterpret_cast<char*>(1);
    char* path = reinterpret_cast<char*>(1);
    int r = urlsplit(u.p, &port, &host, &path);
    FUZZ_CHECK(u.same(url));
    if (r != 0) {
        FUZZ_CHECK(r == -1 && host == nullptr && path == nullptr);
        return;
    }
    FUZZ_CHECK(host != nullptr && path != nullptr);
    bool https = strncasecmp(u.p, "https://", 8) == 0;
    FUZZ_CHECK(https || strncasecmp(u.p, "http://", 7) == 0);
    const char* rest = u.p + (https ? 8 : 7);
    FUZZ_CHECK(port != 0);
    FUZZ_CHECK(path[0] == '/');
    // The path is the url from the first '/' after the scheme, or "/".
    const char* slash = std::strchr(rest, '/');
    FUZZ_CHECK(slash ? std::strcmp(path, slash) == 0 : std::strcmp(path, "/") == 0);
    FUZZ_CHECK(std::strstr(rest, host) != nullptr);
    // Without brackets the host runs to the first ':' of the authority, and
    // digits after that ':' are the port.
    std::string authority(rest, slash ? slash - rest : std::strlen(rest));
    if (authority.find_first_of("[]") == std::string::npos) {
        size_t colon = authority.find(':');
        FUZZ_CHECK(authority.substr(0, colon) == host);
        if (colon != std::string::npos && colon + 1 < authority.size()) {
            long want = std::strtol(authority.c_str() + colon + 1, nullptr, 10);
            if (want >= INT_MIN && want <= INT_MAX) FUZZ_CHECK(port == want);
        } else {
            FUZZ_CHECK(port == (https ? 443 : 80));
        }
    }
    FUZZ_CHECK(std::strchr(host, '/') == nullptr);
    std::free(host);
    std::free(path);
}

std::string decoded(const std::string& text) {
    HeapText t(text);
    unsigned n = urldecode(t.p);
    // "%00" decodes to a NUL inside the text, so the length can pass strlen.
    FUZZ_CHECK(n >= std::strlen(t.p) && n <= t.len && t.p[n] == '\0');
    return t.p;
}

void checkcoding(const std::string& text) {
    HeapText t(text);
    decoded(text);
    int outlen = -1;
    char* enc = urlencode(t.p, outlen);
    FUZZ_CHECK(enc != nullptr && outlen == static_cast<int>(std::strlen(enc)));
    FUZZ_CHECK(t.same(text));
    for (const char* c = enc; *c; ++c)
        FUZZ_CHECK(std::isalnum(static_cast<unsigned char>(*c)) || std::strchr("-._~+%", *c));
    FUZZ_CHECK(decoded(enc) == t.p);
    char* enc2 = urlencodestr(t.p);
    FUZZ_CHECK(enc2 != nullptr && std::strcmp(enc, enc2) == 0);
    std::free(enc);
    std::free(enc2);
}

void checkhexpairs(const std::string& text) {
    for (size_t i = 0; i + 1 < text.size(); i += 2) {
        char hi = text[i], lo = text[i + 1];
        char got = hexpair(hi, lo);
        if (std::isxdigit(static_cast<unsigned char>(hi)) &&
            std::isxdigit(static_cast<unsigned char>(lo))) {
            FUZZ_CHECK(static_cast<unsigned char>(got) ==
                       std::strtoul(std::string{hi, lo}.c_str(), nullptr, 16));
        } else {
            FUZZ_CHECK(got == ' ');
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    uint8_t control = in.byte();
    std::vector<std::string> parts = in.parts('\n', 3);
    parts.resize(3);
    checkpathname(parts[0], parts[1], parts[2], control);
    checksplit(parts[0]);
    checkcoding(in.rest());
    checkhexpairs(in.rest());
    return 0;
}
