// Error texts: the numbers the tool prints, the gaps, and the fallback.
#include "pacelag/util.h"

#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#include <set>
#include <string>

TEST(ErrText, KnownNumbersAndFallback) {
    struct {
        int number;
        const char* text;
    } cases[] = {
        {1, "Operation not permitted"},
        {4, "Interrupted system call"},
        {5, "I/O error"},
        {9, "Bad file number"},
        {11, "Operation would block"},
        {32, "Broken pipe"},
        {40, "Too many symbolic links encountered"},
        {42, "No message of desired type"},
        {57, "Invalid slot"},
        {59, "Bad font file format"},
        {98, "Address already in use"},
        {104, "Connection reset by peer"},
        {110, "Connection timed out"},
        {111, "Connection refused"},
        {121, "Remote I/O error"},
        {125, "Operation Canceled"},
        {0, "Unknown error"},
        {41, "Unknown error"},
        {58, "Unknown error"},
        {126, "Unknown error"},
        {-2, "Unknown error"},
        {-1, "Unknown error"},
        {INT32_MIN, "Unknown error"},
        {INT32_MAX, "Unknown error"},
    };
    for (const auto& c : cases) EXPECT_STREQ(errtext(c.number), c.text) << c.number;
}

TEST(ErrText, EveryNumberHasItsOwnText) {
    // 122 distinct texts for 1..125 less the two gaps; none shares the fallback.
    std::set<std::string> texts;
    int known = 0;
    for (int n = 1; n <= 125; ++n) {
        const char* t = errtext(n);
        ASSERT_NE(t, nullptr);
        ASSERT_GT(std::strlen(t), 0u);
        if (std::strcmp(t, "Unknown error") != 0) {
            ++known;
            texts.insert(t);
        }
    }
    EXPECT_EQ(known, 123);
    EXPECT_EQ(texts.size(), 123u);
}

TEST(ErrText, LastErrorReadsErrno) {
    errno = 111;
    EXPECT_EQ(lasterror(), 111);
    EXPECT_STREQ(lasterrtext(), "Connection refused");
    errno = 0;
    EXPECT_STREQ(lasterrtext(), "Unknown error");
}
