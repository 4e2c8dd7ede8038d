// SPDX-License-Identifier: MIT
// Whole files on real files in a fresh temporary directory: round trips,
// empty and binary content, missing paths, directories, FIFOs and links.
#include "pacelag/util.h"

#include "alloc.h"
#include "unit/tempdir.h"

#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

TEST(Files, TextAndBinaryRoundTrips) {
    TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    std::string big(1 << 20, '\0');
    std::mt19937 rng(7);
    for (char& c : big) c = static_cast<char>(rng());
    // The empty write follows a non-empty one: it must empty the file and
    // report success.
    const std::string contents[] = {std::string("a\0b\0\0c", 6), "", "line\r\nline\n", big};
    std::string path = dir / "f";
    for (const std::string& content : contents) {
        ASSERT_EQ(writefile(path.c_str(), content.data(), static_cast<int>(content.size())), 0);
        int len = -7;
        char* got = readfile(path.c_str(), &len);
        ASSERT_NE(got, nullptr);
        ASSERT_EQ(len, static_cast<int>(content.size()));
        EXPECT_EQ(std::memcmp(got, content.data(), content.size()), 0);
        EXPECT_EQ(got[len], '\0');
        std::free(got);
    }
    ASSERT_EQ(writefilestr(path.c_str(), "text"), 0);
    char* text = readfiletext(path.c_str());
    EXPECT_STREQ(text, "text");
    std::free(text);
}

TEST(Files, FailuresLeaveLengthAlone) {
    TempDir dir;
    std::string fifo = dir / "fifo", inmissing = dir / "missing/f", path = dir / "f";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // A writer-capable descriptor keeps opening the FIFO for reading from blocking.
    int keep = open(fifo.c_str(), O_RDWR | O_NONBLOCK);
    ASSERT_GE(keep, 0);
    // A sparse file of 2^31 bytes: one byte too many for a 32-bit length.
    std::string big = dir / "big";
    ASSERT_EQ(writefilestr(big.c_str(), ""), 0);
    ASSERT_EQ(truncate(big.c_str(), off_t(1) << 31), 0);
    for (const std::string& bad : {dir / "absent", inmissing, dir.path(), fifo, big}) {
        int len = 1234;
        EXPECT_EQ(readfile(bad.c_str(), &len), nullptr) << bad;
        EXPECT_EQ(len, 1234) << bad;
    }
    close(keep);
    EXPECT_EQ(writefile(inmissing.c_str(), "x", 1), -1);
    EXPECT_EQ(writefile(dir.path().c_str(), "x", 1), -1);
    EXPECT_EQ(writefile(path.c_str(), "x", -1), -2);

    ASSERT_EQ(writefilestr(path.c_str(), "abc"), 0);
    int len = 99;
    util_failalloc(0);
    EXPECT_EQ(readfile(path.c_str(), &len), nullptr);
    util_failalloc(-1);
    EXPECT_EQ(len, 99);
}

TEST(Files, PathQuestionsFollowLinks) {
    TempDir dir;
    std::string file = dir / "file", sub = dir / "sub";
    ASSERT_EQ(writefilestr(file.c_str(), "x"), 0);
    ASSERT_EQ(mkdir(sub.c_str(), 0700), 0);
    std::string tofile = dir / "tofile", todir = dir / "todir", dangling = dir / "dangling";
    ASSERT_EQ(symlink(file.c_str(), tofile.c_str()), 0);
    ASSERT_EQ(symlink(sub.c_str(), todir.c_str()), 0);
    ASSERT_EQ(symlink((dir / "nowhere").c_str(), dangling.c_str()), 0);
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);

    struct {
        std::string path;
        bool exists, regular, directory;
    } cases[] = {
        {file, true, true, false},          {sub, true, false, true},
        {tofile, true, true, false},        {todir, true, false, true},
        {dangling, false, false, false},    {dir / "absent", false, false, false},
        {dir / "fifo", true, false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(fileexists(c.path.c_str()), c.exists) << c.path;
        EXPECT_EQ(isfile(c.path.c_str()), c.regular) << c.path;
        EXPECT_EQ(isdir(c.path.c_str()), c.directory) << c.path;
    }

    struct stat st;
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(filemtime(file.c_str()), static_cast<int64_t>(st.st_mtime));
    for (const char* none : {"  ", static_cast<const char*>(nullptr), dangling.c_str()})
        EXPECT_EQ(filemtime(none), -1);
}
