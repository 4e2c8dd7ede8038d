// Masking values and recognising masked values.
#include "pacelag/util.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

TEST(DataMask, MaskedForms) {
    struct Case {
        const char* src;
        int type;
        int size;
        const char* want;
    } cases[] = {{"  4111111111111111 ", 1, 32, "########"},
                 {"abcdefghij", 4, 32, "********"},
                 {"ab", 4, 32, "********"},
                 {"4111111111111111", 2, 32, "############1111"},
                 {"1234", 2, 32, "########"},
                 {"12345", 2, 32, "#2345"},
                 {"4111111111111111", 3, 32, "411111######1111"},
                 {"1234567890", 3, 32, "######7890"},
                 {"12345678901", 3, 32, "123456#8901"},
                 {"123", 3, 32, "########"},
                 {"x", 1, 5, "####"},
                 {"x", 4, 2, "*"},
                 {"\r\n 987654 \n", 2, 32, "##7654"},
                 {"a\tb", 1, 32, "########"},
                 // Truncated by the buffer first, then masked.
                 {"4111111111111111", 2, 9, "####1111"},
                 {" secret ", 0, 32, "secret"},
                 {" secret ", 5, 32, "secret"},
                 {" secret ", -1, 32, "secret"},
                 // Blank values are copied and left alone.
                 {"", 1, 32, ""},
                 {"   ", 2, 32, "   "},
                 {"\t", 4, 32, "\t"}};
    for (const auto& c : cases) {
        char dst[32];
        std::memset(dst, '?', sizeof dst);
        datamask_mask(c.src, c.type, dst, c.size);
        EXPECT_STREQ(dst, c.want) << c.src << " type " << c.type;
        if (c.size < 32) {
            EXPECT_EQ(dst[c.size], '?') << "wrote past the size";
        }

        // Masking in place gives the same result.
        char inplace[32];
        std::strcpy(inplace, c.src);
        datamask_mask(inplace, c.type, inplace, c.size);
        if (std::strlen(c.src) < static_cast<size_t>(c.size)) {
            EXPECT_STREQ(inplace, c.want) << c.src << " type " << c.type;
        }

        // Whatever is masked passes the check of its type.
        if (c.type >= 1 && c.type <= 4 && !strblank(c.want)) {
            std::string copy = dst;
            EXPECT_TRUE(datamask_check(&copy[0], c.type)) << dst << " type " << c.type;
        }
    }
}

TEST(DataMask, NullSourceAndTinyBuffers) {
    char dst[4] = "abc";
    datamask_mask(nullptr, 1, dst, 4);
    EXPECT_STREQ(dst, "");
    std::strcpy(dst, "abc");
    datamask_mask("12345678", 1, dst, 0);
    EXPECT_STREQ(dst, "abc");
    datamask_mask("12345678", 1, dst, -5);
    EXPECT_STREQ(dst, "abc");
    datamask_mask("12345678", 2, dst, 1);
    EXPECT_STREQ(dst, "");
}

TEST(DataMask, RecognisesMaskedForms) {
    struct Case {
        const char* data;
        int type;
        bool masked;
        const char* trimmed;
    } cases[] = {{"########", 1, true, "########"},
                 {"########", 2, true, "########"},
                 {"########", 3, true, "########"},
                 {"********", 4, true, "********"},
                 {"********", 1, false, "********"},
                 {"########", 4, false, "########"},
                 {"############1234", 2, true, "############1234"},
                 {"411111######1111", 3, true, "411111######1111"},
                 {"123456#8901", 3, true, "123456#8901"},
                 {"######7890", 3, true, "######7890"},
                 {"12345", 2, false, "12345"},
                 {"1#345", 2, false, "1#345"},
                 {"##", 2, true, "##"},
                 {"#a", 3, false, "#a"},
                 {"4111111#####1111", 3, false, "4111111#####1111"},
                 {"", 1, false, ""},
                 {"   ", 2, false, "   "},
                 {"########", 5, false, "########"},
                 {"########", 0, false, "########"},
                 {"## ##", 1, true, "## ##"},
                 {"##x#", 1, false, "##x#"},
                 {"* \t*", 4, true, "* \t*"},
                 {"  ##1234 \r\n", 2, true, "##1234"}};
    for (const auto& c : cases) {
        std::string data = c.data;
        EXPECT_EQ(datamask_check(&data[0], c.type), c.masked) << c.data << " type " << c.type;
        EXPECT_STREQ(data.c_str(), c.trimmed);
    }
    EXPECT_FALSE(datamask_check(nullptr, 1));
}

TEST(DataMaskDeathTest, NullDestination) {
    EXPECT_DEATH(datamask_mask("x", 1, nullptr, 8), "datamask_mask");
}
