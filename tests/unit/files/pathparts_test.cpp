// SPDX-License-Identifier: MIT
// Path composition, extensions, splitting and joining paths, and picking the
// CN out of distinguished names.
#include "pacelag/util.h"

#include <gtest/gtest.h>

#include "alloc.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>

namespace {
std::string take(char* text) {
    std::string out = text ? text : "<null>";
    std::free(text);
    return out;
}
} // namespace

TEST(PathParts, SplitPath) {
    // The generated test below holds the cases with buffers of every size; these
    // leave one buffer out. What a buffer that is not passed keeps:
    const char* unset = "################";
    struct {
        const char* path;
        int dirsize, filesize; // -1: no buffer at all
        const char *dir, *file;
    } cases[] = {{"a/b\\c.txt", 64, 64, "a/b", "c.txt"},
                 {"very/long/directory/f", -1, 8, unset, "f"},
                 {"d\\a-long-file-name", 8, -1, "d", unset},
                 {"anything", -1, -1, unset, unset}};
    for (auto& c : cases) {
        char dir[64], file[64];
        std::strcpy(dir, unset);
        std::strcpy(file, unset);
        EXPECT_EQ(splitpath(c.path, c.dirsize < 0 ? nullptr : dir, std::max(c.dirsize, 0),
                            c.filesize < 0 ? nullptr : file, std::max(c.filesize, 0)),
                  0)
            << c.path;
        EXPECT_STREQ(dir, c.dir) << c.path;
        EXPECT_STREQ(file, c.file) << c.path;
    }
}

TEST(PathParts, PathJoin) {
    struct {
        const char *dir, *name;
        int dstsize, result;
        const char* out;
    } cases[] = {{"C:\\dir", "\\sub\\f.txt", 64, 0, "C:/dir/sub/f.txt"},
                 {" ", "a\\b", 64, 0, "a\\b"},
                 {nullptr, "x", 2, 0, "x"},
                 {nullptr, "xy", 2, -1, ""},
                 {"/tmp", " \t", 64, -1, ""},
                 {"/tmp", nullptr, 64, -1, ""},
                 {"ab", "cd", 6, 0, "ab/cd"},
                 {"ab", "cd", 5, -1, ""},
                 {"ab/", "cd", 6, -1, ""},
                 {"ab/", "cd", 7, 0, "ab/cd"},
                 {"ab", "/cd", 6, -1, ""},
                 {"ab", "/cd", 7, 0, "ab/cd"},
                 {"a\\", "//b", 64, 0, "a//b"}, // only one leading separator goes
                 {"ab", "cd", 0, -1, ""}};
    for (auto& c : cases) {
        char dst[64];
        std::memset(dst, 0, sizeof dst);
        EXPECT_EQ(pathjoin(c.dir, c.name, dst, c.dstsize), c.result)
            << (c.dir ? c.dir : "(null)") << " + " << (c.name ? c.name : "(null)");
        EXPECT_STREQ(dst, c.out);
    }
}

TEST(PathParts, Dn2Cn) {
    struct {
        const char* dn;
        int dstsize, result;
        const char* out;
    } cases[] = {{"/C=DE/O=Org/CN=host.example/emailAddress=x", 64, 1, "host.example"},
                 {"C=DE, CN = My Host, O=Org", 64, 1, "My Host"},
                 {"cn=abc", 64, 1, "abc"},
                 {"CN=\"a, b\", O=x", 64, 1, "a, b"},
                 {"CN=*.example", 64, 1, "example"},
                 {"O=\"CN=x, y\", CN=real", 64, 1, "real"}, // quoted separators belong to the value
                 {"CN=\"open quote", 64, 1, "open quote"},
                 {"/O=a,b/cN=z,w", 64, 1, "z,w"},
                 {"CN=0123456789", 11, 1, "0123456789"},
                 {"CN=0123456789", 10, 0, ""},
                 {"CN=a", 0, 0, ""}};
    for (auto& c : cases) {
        char dst[64];
        std::memset(dst, 0, sizeof dst);
        EXPECT_EQ(dn2cn(c.dn, dst, c.dstsize), c.result) << c.dn;
        EXPECT_STREQ(dst, c.out) << c.dn;
    }
    // Without a CN, or without a buffer, nothing is written.
    for (const char* dn :
         {"O=Org", "XCN=abc", "CN=", "CN", "O=x, CN", "", static_cast<const char*>(nullptr)}) {
        char dst[8] = "old";
        EXPECT_EQ(dn2cn(dn, dst, sizeof dst), 0) << dn;
        EXPECT_STREQ(dst, "old") << dn;
    }
    EXPECT_EQ(dn2cn("CN=a", nullptr, 10), 0);
}

// Random texts over an alphabet rich in the bytes these routines look at.
std::string randomtext(std::mt19937& rng, const char* alphabet, int maxlen) {
    std::string s(rng() % (maxlen + 1), ' ');
    size_t n = std::strlen(alphabet);
    for (auto& ch : s) ch = alphabet[rng() % n];
    return s;
}

// A heap block of exactly `size` bytes, all '#', so the sanitizer build reports
// any write past it and a check can see what was written.
std::unique_ptr<char[]> filled(int size) {
    std::unique_ptr<char[]> p(new char[size]);
    std::memset(p.get(), '#', size);
    return p;
}

TEST(PathParts, GeneratedInputsStayInsideBuffers) {
    std::mt19937 rng(47);
    for (int round = 0; round < 3000; ++round) {
        std::string path = randomtext(rng, "ab/\\. ", 24);
        int dirsize = int(rng() % 28), filesize = int(rng() % 28);
        std::unique_ptr<char[]> dir(new char[dirsize]), file(new char[filesize]);
        int r = splitpath(path.c_str(), dir.get(), dirsize, file.get(), filesize);
        size_t cut = path.find_last_of("/\\");
        std::string wantdir = cut == std::string::npos ? "" : path.substr(0, cut);
        std::string wantfile = cut == std::string::npos ? path : path.substr(cut + 1);
        bool filefits = int(wantfile.size()) < filesize,
             dirfits = cut == std::string::npos || int(wantdir.size()) < dirsize;
        ASSERT_EQ(r, filefits && dirfits ? 0 : -1) << path;
        // Every buffer that can hold a terminator has one. The file name is filled
        // first; when either part does not fit, the directory is left empty.
        ASSERT_TRUE(filesize == 0 || int(strnlen(file.get(), filesize)) < filesize);
        ASSERT_TRUE(dirsize == 0 || int(strnlen(dir.get(), dirsize)) < dirsize);
        ASSERT_TRUE(filesize == 0 || file.get() == (filefits ? wantfile : "")) << path;
        ASSERT_TRUE(dirsize == 0 || dir.get() == (filefits && dirfits ? wantdir : "")) << path;

        std::string left = randomtext(rng, "ab/\\ ", 8), right = randomtext(rng, "cd/\\ ", 8);
        int dstsize = int(rng() % 20);
        auto dst = filled(dstsize);
        r = pathjoin(left.c_str(), right.c_str(), dst.get(), dstsize);
        if (r == 0) {
            ASSERT_LT(int(std::strlen(dst.get())), dstsize);
            ASSERT_EQ(std::strchr(dst.get(), '\\') == nullptr,
                      !strblank(left.c_str()) || right.find('\\') == std::string::npos);
        } else {
            ASSERT_EQ(std::string(dst.get(), dstsize), std::string(dstsize, '#'));
        }

        std::string dn = randomtext(rng, "CNcn=, /\"aO", 30);
        char whole[64];
        int found = dn2cn(dn.c_str(), whole, sizeof whole);
        dstsize = int(rng() % 16);
        dst = filled(dstsize);
        r = dn2cn(dn.c_str(), dst.get(), dstsize);
        if (found && int(std::strlen(whole)) < dstsize) {
            ASSERT_EQ(r, 1) << dn;
            ASSERT_STREQ(dst.get(), whole);
            ASSERT_NE(dn.find(whole), std::string::npos);
        } else {
            ASSERT_EQ(r, 0) << dn;
            ASSERT_EQ(std::string(dst.get(), dstsize), std::string(dstsize, '#'));
        }
    }
}

TEST(Paths, Composition) {
    // {first argument, second argument, result} of fullpath, relpath, relname.
    const char* full[][3] = {{"dir", "f", "dir/f"},      {"dir/", "f", "dir/f"},
                             {"dir\\", "f", "dir\\f"},   {"dir", "/abs/f", "/abs/f"},
                             {"dir", "\\abs", "\\abs"},  {"dir", "C:x", "C:x"},
                             {nullptr, "f", "f"},        {"", "f", "f"},
                             {"dir", nullptr, "<null>"}, {"dir", "", "dir/"}};
    for (auto& c : full) EXPECT_EQ(take(fullpath(c[0], c[1])), c[2]);
    const char* rel[][3] = {{"conf/app.ini", "app.log", "conf/app.log"},
                            {"a\\b/c.ini", "x", "a\\b/x"},
                            {"a/b\\c.ini", "x", "a/b\\x"},
                            {"c.ini", "x", "x"},
                            {nullptr, "x", "x"},
                            {"dir/", "", "dir/"}};
    for (auto& c : rel) EXPECT_EQ(take(relpath(c[0], c[1])), c[2]);
    const char* names[][2] = {{"/var/log/app.tar.gz", "app"},
                              {"C:\\dir\\file.txt", "file"},
                              {"a\\b/c.txt", "b/c"},
                              {"name", "name"},
                              {".profile", ""},
                              {"dir/", ""}};
    for (auto& c : names) EXPECT_EQ(take(relname(c[0])), c[1]);

    util_failalloc(0);
    EXPECT_EQ(fullpath("a", "b"), nullptr);
    EXPECT_EQ(relpath("a/b", "c"), nullptr);
    EXPECT_EQ(relname("a.b"), nullptr);
    util_failalloc(-1);
}

TEST(Paths, Extensions) {
    struct {
        const char *name, *ext;
        int result;
        const char* out;
    } cases[] = {
        {"a.html", ".htm", 0, "a.htm"},    {"report.htm", ".html", -1, "report.htm"},
        {"a.abcdef", "x", -1, "a.abcdef"}, {"a.abcde", "x", 0, "a.x"},
        {".profile", "x", -1, ".profile"}, {"a..b", "c", -1, "a..b"},
        {"noext", "txt", -1, "noext"},     {"a.tar.gz", "z", 0, "a.tar.z"},
        {"a.txt", "t.x", -1, "a.txt"},
    };
    for (const auto& c : cases) {
        char buf[64];
        std::strcpy(buf, c.name);
        EXPECT_EQ(extreplace(buf, c.ext), c.result) << c.name << ' ' << c.ext;
        EXPECT_STREQ(buf, c.out);
    }
    EXPECT_FALSE(extcmp("photo.JPG", ".jpg"));
    EXPECT_TRUE(extcmp("photo.jpg", ".jpg"));
    EXPECT_FALSE(extcmp("a", "abc"));
    EXPECT_TRUE(extcmp("x", ""));
}

TEST(PathsDeathTest, RequiredArguments) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(filesearch(nullptr), "filepattern");
    EXPECT_DEATH(relpath("a", nullptr), "file");
    EXPECT_DEATH(relname(nullptr), "path");
    EXPECT_DEATH(extcmp(nullptr, "x"), "filename");
}
