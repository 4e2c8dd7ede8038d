// URLs: composing with a replacement extension, splitting into host, port and
// path (the caller's text untouched, nothing leaked), and percent-decoding.
#include "pacelag/util.h"

#include "alloc.h"

#include <cstdlib>
#include <cstring>
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
        {"http://h", "/x", nullptr, 100, 0, "http://h/x"},
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
        int rc = urlpathname(buf, c.dstlen, c.url, c.path, c.ext);
        EXPECT_EQ(rc, c.rc) << c.url << " " << c.dstlen;
        if (c.result != nullptr) {
            EXPECT_STREQ(buf, c.result) << c.url << " " << c.dstlen;
        } else {
            EXPECT_EQ(buf[0], '#');
        }
    }
}

TEST(UrlPathname, NullBufferOrBaseStops) {
    char buf[8];
    EXPECT_DEATH(urlpathname(nullptr, 8, "a", nullptr, nullptr), "dsturl != __null");
    EXPECT_DEATH(urlpathname(buf, 8, nullptr, nullptr, nullptr), "url != __null");
}

TEST(UrlSplit, Parts) {
    struct {
        const char* url;
        int rc;
        const char* host;
        int port;
        const char* path;
    } cases[] = {
        {"http://h/a/b?c", 0, "h", 80, "/a/b?c"},
        {"HTTPS://h:8443", 0, "h", 8443, "/"},
        {"https://h", 0, "h", 443, "/"},
        {"http://[::1]:8080/x", 0, "::1", 8080, "/x"},
        {"http://[::1]/x", 0, "::1", 80, "/x"},
        {"http://h:/x", 0, "h", 80, "/x"},
        {"http://h?q=1", 0, "h?q=1", 80, "/"},
        {"http:///x", 0, "", 80, "/x"},
        {"http://h:99999/", 0, "h", 99999, "/"},
        {"http://h:-5/", 0, "h", -5, "/"},
        {"http://h:12ab/", 0, "h", 12, "/"},
        {"http://h:99999999999999999999/", 0, "h", 2147483647, "/"},
        {"http://h:8/9", 0, "h", 8, "/9"}, // the port stops at the path
        {"ftp://h/", -1, nullptr, -7, nullptr},
        {"http:/h/", -1, nullptr, -7, nullptr},
        {"http://[::1/x", -1, nullptr, 80, nullptr},
        {"http://a]b/", -1, nullptr, 80, nullptr},
        {"http://h:0/", -1, nullptr, 80, nullptr},
        {"http://h:abc/", -1, nullptr, 80, nullptr},
        {"http://h: /", -1, nullptr, 80, nullptr},
    };
    for (const auto& c : cases) {
        char url[64];
        std::strcpy(url, c.url);
        int port = -7;
        char* host = reinterpret_cast<char*>(1);
        char* path = reinterpret_cast<char*>(1);
        int rc = urlsplit(url, &port, &host, &path);
        EXPECT_EQ(rc, c.rc) << c.url;
        EXPECT_STREQ(url, c.url);
        if (c.rc == 0) {
            EXPECT_STREQ(host, c.host) << c.url;
            EXPECT_STREQ(path, c.path) << c.url;
            EXPECT_EQ(port, c.port) << c.url;
        } else {
            EXPECT_EQ(host, nullptr) << c.url;
            EXPECT_EQ(path, nullptr) << c.url;
            EXPECT_EQ(port, c.port) << c.url;
        }
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

TEST(UrlDecode, Escapes) {
    struct {
        const char* in;
        const char* out;
        unsigned length;
    } cases[] = {
        {"a%20b+c", "a b c", 5}, {"%41%4a", "AJ", 2}, {"%zz", " ", 1},   {"%4z", " ", 1},
        {"100%", "100%", 4},     {"%4", "%4", 2},     {"%", "%", 1},     {"", "", 0},
        {"%%41", " 1", 2},       {"++", "  ", 2},     {"%7e~", "~~", 2},
    };
    for (const auto& c : cases) {
        char buf[32];
        std::strcpy(buf, c.in);
        EXPECT_EQ(urldecode(buf), c.length) << c.in;
        EXPECT_STREQ(buf, c.out) << c.in;
    }
    char nul[] = "a%00b";
    EXPECT_EQ(urldecode(nul), 3u);
    EXPECT_EQ(std::memcmp(nul, "a\0b", 4), 0);
}

TEST(UrlDecode, HexPair) {
    struct {
        char hi, lo, out;
    } cases[] = {{'4', '1', 'A'}, {'f', 'F', '\xff'}, {'0', '0', '\0'},
                 {'g', '0', ' '}, {'0', ' ', ' '},    {'\xb5', '1', ' '}};
    for (const auto& c : cases) EXPECT_EQ(hexpair(c.hi, c.lo), c.out) << c.hi << c.lo;
}

// Random texts (meant for the sanitizer build): no read or write out of
// bounds, no leak, urlsplit leaves its text unchanged, urlpathname never
// writes past dstlen.
TEST(UrlSafety, GeneratedTexts) {
    std::mt19937 rng(99);
    const char alphabet[] = "hHtTpPsS:/[]?.%+ 0123456789xa";
    auto randomtext = [&](int maxlen) {
        std::string s = (rng() % 2) ? (rng() % 2 ? "http://" : "https://") : "";
        for (int n = static_cast<int>(rng() % maxlen); n > 0; --n) {
            s += alphabet[rng() % (sizeof alphabet - 1)];
        }
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
