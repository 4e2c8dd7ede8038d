// SPDX-License-Identifier: MIT
// URLs: composing with a replacement extension, splitting into host, port and
// path (the caller's text untouched, nothing leaked), percent-decoding and
// form encoding.
#include "pacelag/util.h"

#include "alloc.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <gtest/gtest.h>
#include <random>
#include <string>

TEST(UrlPathname, Compose) {
    struct {
        const char* url;
        const char* path;
        const char* ext;
        int dstlen;
        int rc;
        const char* result;
    } cases[] = {
        {"http://h/dir", "page.html", ".htm", 100, 0, "http://h/dir/page.htm"},
        {"http://h/dir", "page.html", "txt", 100, 0, "http://h/dir/page.txt"},
        {"http://h/dir", "page.html", "", 100, 0, "http://h/dir/page"},
        {"http://h/dir", "page.html", nullptr, 100, 0, "http://h/dir/page.html"},
        {"http://h/dir/", "x", nullptr, 100, 0, "http://h/dir/x"},
        {"http://h/q?a=", "b", nullptr, 100, 0, "http://h/q?a=b"},
        {"http://h", " /x", nullptr, 100, 0, "http://h/x"},
        {"http://h/x.y", "c", "txt", 100, 0, "http://h/x.txt"},
        {"http://h/ d", "e f", nullptr, 100, 0, "http://h/d/ef"},
        {"http://h/a", "b.abcdef", "x", 100, 0, "http://h/a/b.abcdef"}, // 6 letters: no extension
        {"http://h/a", "b.abcde", "x y", 100, 0, "http://h/a/b.xy"},
        {"", "p", nullptr, 100, 0, "/p"},
        {"abc", nullptr, "x", 100, 0, "abc"},
        {"abc", nullptr, nullptr, 3, -1, ""},
        {"abc", nullptr, nullptr, 4, 0, "abc"},
        {"ab", "c", nullptr, 4, -1, ""}, // the '/' no longer fits
        {"ab", "c", nullptr, 5, 0, "ab/c"},
        {"ab/", "c", nullptr, 4, -1, ""},
        {"ab/", "c", nullptr, 5, 0, "ab/c"},
        {"http://h/a", "b.html", ".htm", 21, -1, ""}, // all of ext is counted
        {"http://h/a", "b.html", ".htm", 22, 0, "http://h/a/b.htm"},
        {"abc", nullptr, nullptr, 0, -1, nullptr}, // no room even for the empty text
    };
    for (const auto& c : cases) {
        char buf[100];
        std::memset(buf, '#', sizeof buf);
        buf[sizeof buf - 1] = '\0';
        EXPECT_EQ(urlpathname(buf, c.dstlen, c.url, c.path, c.ext), c.rc) << c.url << c.dstlen;
        EXPECT_EQ(buf, c.result ? std::string(c.result) : std::string(99, '#'))
            << c.url << c.dstlen;
    }
}

TEST(UrlPathname, NullBufferOrBaseStops) {
    char buf[8];
    EXPECT_DEATH(urlpathname(nullptr, 8, "a", nullptr, nullptr), "dsturl != __null");
    EXPECT_DEATH(urlpathname(buf, 8, nullptr, nullptr, nullptr), "url != __null");
}

// Each result as "rc host port path", with "-" for a null pointer.
TEST(UrlSplit, Parts) {
    const char* cases[][2] = {
        {"http://h/a/b?c", "0 h 80 /a/b?c"},
        {"HTTPS://h:8443", "0 h 8443 /"},
        {"https://h", "0 h 443 /"},
        {"http://[::1]:8080/x", "0 ::1 8080 /x"},
        {"http://[::1]/x", "0 ::1 80 /x"},
        {"http://h:/x", "0 h 80 /x"},
        {"http://h?q=1", "0 h?q=1 80 /"},
        {"http:///x", "0  80 /x"},
        {"http://h:-5/", "0 h -5 /"},
        {"http://h:12ab/", "0 h 12 /"},
        {"http://h:99999999999999999999/", "0 h 2147483647 /"},
        {"http://h:8/9", "0 h 8 /9"}, // the port stops at the path
        {"ftp://h/", "-1 - -7 -"},
        {"http:/h/", "-1 - -7 -"},
        {"http://[::1/x", "-1 - 80 -"},
        {"http://a]b/", "-1 - 80 -"},
        {"http://h:0/", "-1 - 80 -"},
        {"http://h:abc/", "-1 - 80 -"},
    };
    for (const auto& c : cases) {
        char url[64];
        std::strcpy(url, c[0]);
        int port = -7;
        char* host = reinterpret_cast<char*>(1);
        char* path = reinterpret_cast<char*>(1);
        int rc = urlsplit(url, &port, &host, &path);
        EXPECT_EQ(std::to_string(rc) + " " + (host ? host : "-") + " " + std::to_string(port) +
                      " " + (path ? path : "-"),
                  c[1])
            << c[0];
        EXPECT_STREQ(url, c[0]);
        std::free(host);
        std::free(path);
    }
    int port = 0;
    char *host = nullptr, *path = nullptr;
    EXPECT_EQ(urlsplit(nullptr, &port, &host, &path), -1);
}

// Either copy failing: nothing leaks, both outputs null, url unchanged.
TEST(UrlSplit, OutOfMemory) {
    for (int after = 0; after < 2; ++after) {
        char url[] = "http://host:81/p";
        int port = 0;
        char *host = nullptr, *path = nullptr;
        util_failalloc(after);
        int rc = urlsplit(url, &port, &host, &path);
        util_failalloc(-1);
        EXPECT_EQ(rc, -1);
        EXPECT_EQ(host, nullptr);
        EXPECT_EQ(path, nullptr);
        EXPECT_STREQ(url, "http://host:81/p");
    }
}

TEST(UrlDecode, EscapesAndHexPairs) {
    struct {
        const char* in;
        const char* out;
        unsigned length;
    } cases[] = {
        {"a%20b+c", "a b c", 5}, {"%41%4a", "AJ", 2}, {"%zz", " ", 1},   {"%4z", " ", 1},
        {"100%", "100%", 4},     {"%4", "%4", 2},     {"%", "%", 1},     {"", "", 0},
        {"%%41", " 1", 2},       {"++", "  ", 2},     {"%7e~", "~~", 2}, {"a%00b", "a\0b", 3},
    };
    for (const auto& c : cases) {
        char buf[32];
        std::strcpy(buf, c.in);
        EXPECT_EQ(urldecode(buf), c.length) << c.in;
        // The terminator is compared too, and an escaped NUL is kept.
        EXPECT_EQ(std::string(buf, c.length + 1), std::string(c.out, c.length + 1)) << c.in;
    }

    struct {
        char hi, lo, out;
    } pairs[] = {{'4', '1', 'A'}, {'f', 'F', '\xff'}, {'0', '0', '\0'},
                 {'g', '0', ' '}, {'0', ' ', ' '},    {'\xb5', '1', ' '}};
    for (const auto& c : pairs) EXPECT_EQ(hexpair(c.hi, c.lo), c.out) << c.hi << c.lo;
}

// Random texts (meant for the sanitizer build): no read or write out of
// bounds, no leak, urlsplit leaves its text unchanged, urlpathname never
// writes past dstlen.
TEST(UrlSafety, GeneratedTexts) {
    std::mt19937 rng(99);
    const char alphabet[] = "hHtTpPsS:/[]?.%+ 0123456789xa";
    auto randomtext = [&](int maxlen) {
        std::string s = (rng() % 2) ? (rng() % 2 ? "http://" : "https://") : "";
        for (int n = static_cast<int>(rng() % maxlen); n > 0; --n)
            s += alphabet[rng() % (sizeof alphabet - 1)];
        return s;
    };
    for (int i = 0; i < 20000; ++i) {
        std::string u = randomtext(30);
        std::string keep = u;
        int port = 0;
        char *host = nullptr, *path = nullptr;
        if (urlsplit(&u[0], &port, &host, &path) == 0) {
            ASSERT_NE(host, nullptr);
            ASSERT_EQ(path[0], '/');
        } else {
            ASSERT_EQ(host, nullptr);
            ASSERT_EQ(path, nullptr);
        }
        ASSERT_EQ(u, keep);
        std::free(host);
        std::free(path);

        std::string d = randomtext(20);
        unsigned n = urldecode(&d[0]);
        ASSERT_LE(n, d.size());

        std::string base = randomtext(20), p = randomtext(10), e = randomtext(6);
        int dstlen = 1 + static_cast<int>(rng() % 48);
        char* dst = static_cast<char*>(std::malloc(static_cast<size_t>(dstlen)));
        int rc = urlpathname(dst, dstlen, base.c_str(), rng() % 4 ? p.c_str() : nullptr,
                             rng() % 3 ? e.c_str() : nullptr);
        ASSERT_TRUE(rc == 0 || rc == -1);
        ASSERT_LT(std::strlen(dst), static_cast<size_t>(dstlen));
        if (rc == -1) {
            ASSERT_EQ(dst[0], '\0');
        }
        std::free(dst);
    }
}

TEST(CharClass, UrlEncoding) {
    struct Case {
        const char* text;
        const char* want;
    } cases[] = {{"a b&c~", "a+b%26c~"},
                 {"", ""},
                 {"AZaz09-._", "AZaz09-._"},
                 {"/?=%+\n", "%2F%3F%3D%25%2B%0A"},
                 {"\x01\x7F\xE9\xFF", "%01%7F%E9%FF"}};
    for (const auto& c : cases) {
        int len = -1;
        std::unique_ptr<char, void (*)(void*)> r(urlencode(c.text, len), std::free),
            r2(urlencodestr(c.text), std::free);
        EXPECT_STREQ(r.get(), c.want);
        EXPECT_STREQ(r2.get(), c.want);
        EXPECT_EQ(len, static_cast<int>(std::strlen(c.want)));
    }
    util_failalloc(0);
    int len = -1;
    char* r = urlencode("abc", len);
    util_failalloc(-1);
    EXPECT_EQ(r, nullptr);
    EXPECT_EQ(len, 0);
}
