// SPDX-License-Identifier: MIT
// Masking values and recognising masked values.
#include "pacelag/util.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

TEST(DataMask, MaskedForms) {
    struct Case {
        const char* src;
        int type;
        int size;
        const char* want;
    } cases[] = {{"  4111111111111111 ", 1, 32, "########"},
                 {"abcdefghij", 4, 32, "********"},
                 {"1234", 2, 32, "########"},
                 {"12345", 2, 32, "#2345"},
                 {"1234567890", 3, 32, "######7890"},
                 {"12345678901", 3, 32, "123456#8901"},
                 {"x", 1, 5, "####"},
                 {"x", 4, 2, "*"},
                 {"\r\n 987654 \n", 2, 32, "##7654"},
                 // Truncated by the buffer first, then masked.
                 {"4111111111111111", 2, 9, "####1111"},
                 {" secret ", 0, 32, "secret"},
                 {" secret ", 5, 32, "secret"},
                 // Blank values are copied and left alone.
                 {"", 1, 32, ""},
                 {"   ", 2, 32, "   "}};
    for (const auto& c : cases) {
        char dst[32];
        std::memset(dst, '?', sizeof dst);
        datamask_mask(c.src, c.type, dst, c.size);
        EXPECT_STREQ(dst, c.want) << c.src << " type " << c.type;
        EXPECT_TRUE(c.size == 32 || dst[c.size] == '?') << "wrote past the size";

        // Masking in place gives the same result.
        char inplace[32];
        std::strcpy(inplace, c.src);
        datamask_mask(inplace, c.type, inplace, c.size);
        EXPECT_TRUE(std::strlen(c.src) >= size_t(c.size) || std::string(inplace) == c.want)
            << c.src;

        // Whatever is masked passes the check of its type; blanks and unknown types never do.
        std::string copy = dst;
        EXPECT_EQ(datamask_check(&copy[0], c.type), c.type >= 1 && c.type <= 4 && !strblank(c.want))
            << dst << " type " << c.type;
    }
    // A missing source empties the buffer; a size below 1 leaves it alone.
    char dst[4] = "abc";
    datamask_mask("12345678", 1, dst, 0);
    EXPECT_STREQ(dst, "abc");
    datamask_mask("12345678", 2, dst, 1);
    EXPECT_STREQ(dst, "");
    std::strcpy(dst, "abc");
    datamask_mask(nullptr, 1, dst, 4);
    EXPECT_STREQ(dst, "");
}

TEST(DataMask, RecognisesMaskedForms) {
    struct Case {
        int type;
        std::vector<const char*> masked, plain;
    } cases[] = {{1, {"########", "## ##"}, {"********", "##x#", ""}},
                 {2, {"########", "############1234", "##"}, {"12345", "1#345", "   "}},
                 {3, {"411111######1111", "123456#8901", "######7890"}, {"#a", "4111111#####1111"}},
                 {4, {"********", "* \t*"}, {"########"}},
                 {0, {}, {"########"}},
                 {5, {}, {"########"}}};
    for (const auto& c : cases)
        for (bool want : {true, false})
            for (const char* text : want ? c.masked : c.plain) {
                std::string data = text;
                EXPECT_EQ(datamask_check(&data[0], c.type), want) << text << " type " << c.type;
            }
    char padded[] = "  ##1234 \r\n";
    EXPECT_TRUE(datamask_check(padded, 2));
    EXPECT_STREQ(padded, "##1234"); // trimmed in place
    EXPECT_FALSE(datamask_check(nullptr, 1));
}

TEST(DataMaskDeathTest, NullDestination) {
    EXPECT_DEATH(datamask_mask("x", 1, nullptr, 8), "datamask_mask");
}
