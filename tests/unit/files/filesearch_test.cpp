// SPDX-License-Identifier: MIT
// File search in real directories.
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
using Found = std::map<std::string, std::string>;

// Runs a search and returns what it found, path to name.
Found search(const std::string& pattern) {
    aaContext* table = filesearch(pattern.c_str());
    EXPECT_NE(table, nullptr) << pattern;
    Found out;
    if (table == nullptr) return out;
    aarewind(table);
    const char* key = nullptr;
    while (void* value = aanext(table, key)) out[key] = static_cast<const char*>(value);
    aafree(table);
    return out;
}

// The entries a search of dir should give for these names.
Found in(const std::string& dir, std::initializer_list<const char*> names) {
    Found out;
    for (const char* name : names) out[dir + "/" + name] = name;
    return out;
}

} // namespace

TEST(FileSearch, PatternsDirectoriesAndLinks) {
    TempDir dir;
    const std::string& d = dir.path();
    for (const char* name : {"a.txt", "B.TXT", "c.log", ".hidden"})
        ASSERT_EQ(writefilestr((dir / name).c_str(), "x"), 0);
    ASSERT_EQ(mkdir((dir / "d.txt").c_str(), 0700), 0);
    ASSERT_EQ(symlink((dir / "a.txt").c_str(), (dir / "link.txt").c_str()), 0);
    ASSERT_EQ(symlink((dir / "gone").c_str(), (dir / "dangling.txt").c_str()), 0);

    EXPECT_EQ(search(d + "/*.txt"), in(d, {"a.txt", "B.TXT", "link.txt"}));
    EXPECT_EQ(search(d), in(d, {"a.txt", "B.TXT", "c.log", ".hidden", "link.txt"}));
    EXPECT_EQ(search(d + "/A.*"), in(d, {"a.txt"}));
    EXPECT_TRUE(search(d + "/missing/*.txt").empty());
    EXPECT_TRUE(search(d + "/a.txt/*").empty()); // not a directory

    // A bare pattern searches the current directory.
    char previous[PATH_MAX];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(chdir(d.c_str()), 0);
    Found bare = search("*.LOG");
    ASSERT_EQ(chdir(previous), 0);
    EXPECT_EQ(bare, in(".", {"c.log"}));
}

TEST(FileSearch, OutOfMemoryGivesNullAndLeaksNothing) {
    TempDir dir;
    for (const char* name : {"1", "2", "3", "4"})
        ASSERT_EQ(writefilestr((dir / name).c_str(), ""), 0);
    // Fail each allocation in turn; every run either succeeds or returns null.
    bool sawnull = false, sawtable = false;
    for (int after = 0; after < 64 && !sawtable; ++after) {
        util_failalloc(after);
        aaContext* table = filesearch(dir.path().c_str());
        util_failalloc(-1);
        EXPECT_TRUE(!table || aacount(table) == 4) << "a partial result after " << after;
        sawnull = sawnull || !table;
        sawtable = table != nullptr;
        aafree(table);
    }
    EXPECT_TRUE(sawnull);
    EXPECT_TRUE(sawtable);
}
