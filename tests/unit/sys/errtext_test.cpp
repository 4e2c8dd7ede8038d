// SPDX-License-Identifier: MIT
// Error texts: the numbers the tool prints, the gaps, and the fallback.
#include "pacelag/util.h"

#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#include <set>
#include <string>

TEST(ErrText, KnownNumbersAndFallback) {
    // Anchors at both ends of the table and on each side of its two gaps.
    struct {
        int number;
        const char* text;
    } cases[] = {
        {1, "Operation not permitted"},
        {11, "Operation would block"},
        {40, "Too many symbolic links encountered"},
        {42, "No message of desired type"},
        {57, "Invalid slot"},
        {59, "Bad font file format"},
        {110, "Connection timed out"},
        {125, "Operation Canceled"},
    };
    for (const auto& c : cases) EXPECT_STREQ(errtext(c.number), c.text) << c.number;
    for (int n : {0, 41, 58, 126, -1, INT32_MIN, INT32_MAX})
        EXPECT_STREQ(errtext(n), "Unknown error") << n;
}

TEST(ErrText, EveryNumberHasItsOwnText) {
    // Distinct texts for 1..125 less the two gaps; none shares the fallback.
    std::set<std::string> texts;
    for (int n = 1; n <= 125; ++n) {
        ASSERT_GT(std::strlen(errtext(n)), 0u) << n;
        if (std::strcmp(errtext(n), "Unknown error") != 0) texts.insert(errtext(n));
    }
    EXPECT_EQ(texts.size(), 123u);
}

TEST(ErrText, LastErrorReadsErrno) {
    errno = 111;
    EXPECT_EQ(lasterror(), 111);
    EXPECT_STREQ(lasterrtext(), "Connection refused");
    errno = 0;
    EXPECT_STREQ(lasterrtext(), "Unknown error");
}
