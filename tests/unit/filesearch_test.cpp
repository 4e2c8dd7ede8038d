// File search in real directories and the path-name routines.
#include "pacelag/util.h"

#include "alloc.h"
#include "unit/tempdir.h"

#include <climits>
#include <cstring>
#include <gtest/gtest.h>
#include <map>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {
std::map<std::string, std::string> entries(aaContext* table) {
    std::map<std::string, std::string> out;
    aarewind(table);
    const char* key = nullptr;
    while (void* value = aanext(table, key)) out[key] = static_cast<const char*>(value);
    return out;
}

void touch(const std::string& path) {
    ASSERT_EQ(writefilestr(path.c_str(), "x"), 0);
}

// Runs a search and releases the table.
std::map<std::string, std::string> search(const std::string& pattern) {
    aaContext* table = filesearch(pattern.c_str());
    EXPECT_NE(table, nullptr) << pattern;
    if (table == nullptr) return {};
    auto out = entries(table);
    aafree(table);
    return out;
}

std::string take(char* text) {
    std::string out = text ? text : "<null>";
    std::free(text);
    return out;
}
} // namespace

TEST(FileSearch, PatternsDirectoriesAndLinks) {
    TempDir dir;
    const std::string& d = dir.path();
    touch(dir / "a.txt");
    touch(dir / "B.TXT");
    touch(dir / "c.log");
    touch(dir / ".hidden");
    ASSERT_EQ(mkdir((dir / "d.txt").c_str(), 0700), 0);
    ASSERT_EQ(symlink((dir / "a.txt").c_str(), (dir / "link.txt").c_str()), 0);
    ASSERT_EQ(symlink((dir / "gone").c_str(), (dir / "dangling.txt").c_str()), 0);

    using Found = std::map<std::string, std::string>;
    EXPECT_EQ(
        search(d + "/*.txt"),
        (Found{{d + "/a.txt", "a.txt"}, {d + "/B.TXT", "B.TXT"}, {d + "/link.txt", "link.txt"}}));
    EXPECT_EQ(search(d), (Found{{d + "/a.txt", "a.txt"},
                                {d + "/B.TXT", "B.TXT"},
                                {d + "/c.log", "c.log"},
                                {d + "/.hidden", ".hidden"},
                                {d + "/link.txt", "link.txt"}}));
    EXPECT_EQ(search(d + "/A.*"), (Found{{d + "/a.txt", "a.txt"}}));
    EXPECT_TRUE(search(d + "/missing/*.txt").empty());
    EXPECT_TRUE(search(d + "/a.txt/*").empty()); // not a directory

    // A bare pattern searches the current directory.
    char previous[PATH_MAX];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(chdir(d.c_str()), 0);
    Found bare = search("*.LOG");
    ASSERT_EQ(chdir(previous), 0);
    EXPECT_EQ(bare, (Found{{"./c.log", "c.log"}}));
}

TEST(FileSearch, OutOfMemoryGivesNullAndLeaksNothing) {
    TempDir dir;
    for (const char* name : {"1", "2", "3", "4"}) touch(dir / name);
    // Fail each allocation in turn; every run either succeeds or returns null.
    bool sawnull = false, sawtable = false;
    for (int after = 0; after < 64 && !sawtable; ++after) {
        util_failalloc(after);
        aaContext* table = filesearch(dir.path().c_str());
        util_failalloc(-1);
        if (table == nullptr) {
            sawnull = true;
        } else {
            sawtable = aacount(table) == 4;
            aafree(table);
        }
    }
    EXPECT_TRUE(sawnull);
    EXPECT_TRUE(sawtable);
}

TEST(Paths, Composition) {
    struct {
        const char* dir;
        const char* name;
        const char* out;
    } full[] = {
        {"dir", "f", "dir/f"},      {"dir/", "f", "dir/f"},
        {"dir\\", "f", "dir\\f"},   {"dir", "/abs/f", "/abs/f"},
        {"dir", "\\abs", "\\abs"},  {"dir", "C:x", "C:x"},
        {nullptr, "f", "f"},        {"", "f", "f"},
        {"dir", nullptr, "<null>"}, {"dir", "", "dir/"},
    };
    for (const auto& c : full) EXPECT_EQ(take(fullpath(c.dir, c.name)), c.out);

    struct {
        const char* base;
        const char* file;
        const char* out;
    } rel[] = {
        {"conf/app.ini", "app.log", "conf/app.log"},
        {"a\\b/c.ini", "x", "a\\b/x"},
        {"a/b\\c.ini", "x", "a/b\\x"},
        {"c.ini", "x", "x"},
        {nullptr, "x", "x"},
        {"dir/", "", "dir/"},
    };
    for (const auto& c : rel) EXPECT_EQ(take(relpath(c.base, c.file)), c.out);

    struct {
        const char* path;
        const char* out;
    } names[] = {
        {"/var/log/app.tar.gz", "app"},
        {"C:\\dir\\file.txt", "file"},
        {"a\\b/c.txt", "b/c"},
        {"name", "name"},
        {".profile", ""},
        {"dir/", ""},
    };
    for (const auto& c : names) EXPECT_EQ(take(relname(c.path)), c.out);

    util_failalloc(0);
    EXPECT_EQ(fullpath("a", "b"), nullptr);
    EXPECT_EQ(relpath("a/b", "c"), nullptr);
    EXPECT_EQ(relname("a.b"), nullptr);
    util_failalloc(-1);
}

TEST(Paths, Extensions) {
    struct {
        const char* name;
        const char* ext;
        int result;
        const char* out;
    } cases[] = {
        {"report.html", "htm", 0, "report.htm"}, {"report.htm", ".html", -1, "report.htm"},
        {"a.abcdef", "x", -1, "a.abcdef"},       {"a.jpeg", "j", 0, "a.j"},
        {".profile", "x", -1, ".profile"},       {"a..b", "c", -1, "a..b"},
        {"noext", "txt", -1, "noext"},           {"a.tar.gz", "z", 0, "a.tar.z"},
        {"a.txt", "t.x", -1, "a.txt"},           {"dir.d/file.txt", "csv", 0, "dir.d/file.csv"},
    };
    for (const auto& c : cases) {
        char buf[64];
        std::strcpy(buf, c.name);
        EXPECT_EQ(extreplace(buf, c.ext), c.result) << c.name << ' ' << c.ext;
        EXPECT_STREQ(buf, c.out);
    }

    struct {
        const char* name;
        const char* ext;
        bool match;
    } compares[] = {{"photo.JPG", ".jpg", false},
                    {"photo.jpg", ".jpg", true},
                    {"a", "abc", false},
                    {"x", "", true}};
    for (const auto& c : compares) EXPECT_EQ(extcmp(c.name, c.ext), c.match);
}

TEST(PathsDeathTest, RequiredArguments) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(filesearch(nullptr), "filepattern");
    EXPECT_DEATH(relpath("a", nullptr), "file");
    EXPECT_DEATH(relname(nullptr), "path");
    EXPECT_DEATH(extcmp(nullptr, "x"), "filename");
}
