// Splitting and joining paths, and picking the CN out of distinguished names.
#include "pacelag/util.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>

namespace {

TEST(PathParts, SplitPath) {
    struct {
        const char* path;
        int dirsize, filesize, result;
        const char *dir, *file;
    } cases[] = {{"a/b\\c.txt", 64, 64, 0, "a/b", "c.txt"},
                 {"/x", 64, 64, 0, "", "x"},
                 {"name", 64, 64, 0, "", "name"},
                 {"a/b/", 64, 64, 0, "a/b", ""},
                 {"", 64, 64, 0, "", ""},
                 {"a/b/hello", 64, 5, -1, "", ""}, // file first: nothing else done
                 {"a/b/hello", 64, 6, 0, "a/b", "hello"},
                 {"abc/hello", 3, 64, -1, "", "hello"}, // file filled, directory too long
                 {"abc/hello", 4, 64, 0, "abc", "hello"},
                 {"hello", 1, 5, -1, "", ""},
                 {"/x", 1, 2, 0, "", "x"}};
    for (auto& c : cases) {
        char dir[64], file[64];
        std::memset(dir, '#', sizeof dir);
        std::memset(file, '#', sizeof file);
        EXPECT_EQ(splitpath(c.path, dir, c.dirsize, file, c.filesize), c.result) << c.path;
        EXPECT_STREQ(dir, c.dir) << c.path;
        EXPECT_STREQ(file, c.file) << c.path;
    }
    char file[8];
    EXPECT_EQ(splitpath("very/long/directory/f", nullptr, 0, file, sizeof file), 0);
    EXPECT_STREQ(file, "f");
    char dir[8];
    EXPECT_EQ(splitpath("d\\a-long-file-name", dir, sizeof dir, nullptr, 0), 0);
    EXPECT_STREQ(dir, "d");
    EXPECT_EQ(splitpath("anything", nullptr, 0, nullptr, 0), 0);
}

TEST(PathParts, PathJoin) {
    struct {
        const char *dir, *name;
        int dstsize, result;
        const char* out;
    } cases[] = {{"C:\\dir", "\\sub\\f.txt", 64, 0, "C:/dir/sub/f.txt"},
                 {"/tmp/", "x", 64, 0, "/tmp/x"},
                 {"", "a\\b", 64, 0, "a\\b"},
                 {" ", "x", 64, 0, "x"},
                 {nullptr, "x", 2, 0, "x"},
                 {nullptr, "xy", 2, -1, ""},
                 {"/tmp", "", 64, -1, ""},
                 {"/tmp", " \t", 64, -1, ""},
                 {"/tmp", nullptr, 64, -1, ""},
                 {"ab", "cd", 6, 0, "ab/cd"},
                 {"ab", "cd", 5, -1, ""},
                 {"ab/", "cd", 6, -1, ""},
                 {"ab/", "cd", 7, 0, "ab/cd"},
                 {"ab", "/cd", 6, -1, ""},
                 {"ab", "/cd", 7, 0, "ab/cd"},
                 {"a\\", "//b", 64, 0, "a//b"}, // only one leading separator goes
                 {"ab", "cd", 0, -1, ""},
                 {"ab", "cd", -1, -1, ""}};
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
                 {"O=Org", 64, 0, ""},
                 {"cn=abc", 64, 1, "abc"},
                 {"XCN=abc", 64, 0, ""},
                 {"CN=\"a, b\", O=x", 64, 1, "a, b"},
                 {"CN=*.example", 64, 1, "example"},
                 {"O=\"CN=x, y\", CN=real", 64, 1, "real"}, // quoted separators belong to the value
                 {"CN=\"open quote", 64, 1, "open quote"},
                 {"/O=a,b/cN=z,w", 64, 1, "z,w"},
                 {"CN=", 64, 0, ""},
                 {"CN", 64, 0, ""},
                 {"O=x, CN", 64, 0, ""},
                 {"", 64, 0, ""},
                 {"CN=0123456789", 11, 1, "0123456789"},
                 {"CN=0123456789", 10, 0, ""},
                 {"CN=a", 0, 0, ""}};
    for (auto& c : cases) {
        char dst[64];
        std::memset(dst, 0, sizeof dst);
        EXPECT_EQ(dn2cn(c.dn, dst, c.dstsize), c.result) << c.dn;
        EXPECT_STREQ(dst, c.out) << c.dn;
    }
    char dst[4] = "old";
    EXPECT_EQ(dn2cn(nullptr, dst, sizeof dst), 0);
    EXPECT_EQ(dn2cn("CN=a", nullptr, 10), 0);
    EXPECT_STREQ(dst, "old");
}

// Random texts over an alphabet rich in the bytes these routines look at.
std::string randomtext(std::mt19937& rng, const char* alphabet, int maxlen) {
    std::string s(rng() % (maxlen + 1), ' ');
    size_t n = std::strlen(alphabet);
    for (auto& ch : s) ch = alphabet[rng() % n];
    return s;
}

// Each output buffer is allocated at exactly its size, so the sanitizer build
// reports any write past it.
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
        // Every buffer that can hold a terminator has one.
        ASSERT_TRUE(filesize == 0 || int(strnlen(file.get(), filesize)) < filesize);
        ASSERT_TRUE(dirsize == 0 || int(strnlen(dir.get(), dirsize)) < dirsize);
        if (filefits) {
            ASSERT_EQ(std::string(file.get()), wantfile);
        }
        if (filefits && dirfits && dirsize > 0) {
            ASSERT_EQ(std::string(dir.get()), wantdir);
        }

        std::string left = randomtext(rng, "ab/\\ ", 8), right = randomtext(rng, "cd/\\ ", 8);
        int dstsize = int(rng() % 20);
        std::unique_ptr<char[]> dst(new char[dstsize]);
        std::memset(dst.get(), '#', dstsize);
        r = pathjoin(left.c_str(), right.c_str(), dst.get(), dstsize);
        if (r == 0) {
            ASSERT_LT(int(std::strlen(dst.get())), dstsize);
            ASSERT_EQ(std::strchr(dst.get(), '\\') == nullptr,
                      !strblank(left.c_str()) || right.find('\\') == std::string::npos);
        } else {
            for (int i = 0; i < dstsize; ++i) ASSERT_EQ(dst[i], '#');
        }

        std::string dn = randomtext(rng, "CNcn=, /\"aO", 30);
        char whole[64];
        int found = dn2cn(dn.c_str(), whole, sizeof whole);
        dstsize = int(rng() % 16);
        dst.reset(new char[dstsize]);
        std::memset(dst.get(), '#', dstsize);
        r = dn2cn(dn.c_str(), dst.get(), dstsize);
        if (found && int(std::strlen(whole)) < dstsize) {
            ASSERT_EQ(r, 1) << dn;
            ASSERT_STREQ(dst.get(), whole);
            ASSERT_NE(dn.find(whole), std::string::npos);
        } else {
            ASSERT_EQ(r, 0) << dn;
            for (int i = 0; i < dstsize; ++i) ASSERT_EQ(dst[i], '#');
        }
    }
}

} // namespace
