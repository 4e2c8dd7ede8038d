// SPDX-License-Identifier: MIT
// Character classes and in-place filters.
#include "pacelag/util.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

TEST(CharClass, TokenCharacterTable) {
    const std::string members = "!\"#$%&'*+-.^_`{|}~0123456789"
                                "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    for (int b = 0; b < 256; ++b) {
        char ch = static_cast<char>(b);
        bool member = b != 0 && members.find(ch) != std::string::npos;
        EXPECT_EQ(istokenchar(ch), member) << b;
    }
}

TEST(CharClass, WholeTextTests) {
    // Flags, in order: safe path, printable, path text, host name, has a letter, alphanumeric.
    struct Case {
        const char* flags;
        std::vector<const char*> texts;
    } cases[] = {{"TTTT-T", {"", "123"}},
                 {"------", {nullptr}}, // a missing text is in no class
                 {"TTT-T-", {"a/b.txt", "-a", "a-", "a-.b", "a_b", "user@x+y"}},
                 {"TTTTT-", {"x.y.z", "host-1.example", "a.-b"}},
                 {"-TT-T-", {".a", "../a", "a/../b", "a\\b"}},
                 {"-TTTT-", {"a.", "a..b"}},
                 {"-T--T-", {"c:x", "a*b", "a?b"}},
                 {"TT--T-", {"a b"}},
                 {"TTTTTT", {"Abc123"}},
                 {"T---T-", {"tab\there", "caf\xC3\xA9"}},
                 {"T-----", {"\x7F"}},
                 {"TT----", {"~!"}}};
    for (const auto& c : cases)
        for (const char* t : c.texts) {
            std::string got;
            for (bool b : {issafepath(t), isprintable(t), ispathtext(t), ishostname(t),
                           hasletter(t), isalnumstr(t)})
                got += b ? 'T' : '-';
            EXPECT_EQ(got, c.flags) << t;
        }
}

TEST(CharClass, InPlaceFilters) {
    int (*filters[])(char*) = {stripbidi, stripunsafe, makeident};
    struct Case {
        std::string text, want[3]; // by stripbidi, stripunsafe, makeident
    } cases[] = {
        {"", {"", "", ""}},
        {"a\xE2\x80\xAE"
         "b",
         {"ab", "ab", "ab"}},
        {"\xE2\x80\xAA\xE2\x80\xAB\xE2\x80\xAC\xE2\x80\xAD\xE2\x81\xA6\xE2\x81\xA7\xE2\x81\xA8\xE2"
         "\x81\xA9",
         {"", "", ""}},
        // U+2029, U+20AC, U+2069's neighbours and a cut-off sequence are kept.
        {"x\xE2\x80\xA9\xE2\x82\xAC\xE2\x80\xAF\xE2\x81\xA5\xE2\x81\xAA\xE2\x80",
         {"x\xE2\x80\xA9\xE2\x82\xAC\xE2\x80\xAF\xE2\x81\xA5\xE2\x81\xAA\xE2\x80", "x", "x"}},
        {"my-file.b7/x y!", {"my-file.b7/x y!", "my-file.b7/x y", "my_file_b7_x_y"}},
        {"a+b,c@d_e\t;<>'\"", {"a+b,c@d_e\t;<>'\"", "a+b,c@d_e", "abcd_e"}}};
    for (const auto& c : cases)
        for (int f = 0; f < 3; ++f) {
            std::string t = c.text;
            EXPECT_EQ(filters[f](&t[0]), static_cast<int>(c.want[f].size())) << f;
            EXPECT_EQ(t.c_str(), c.want[f]) << f;
        }
}
