// SPDX-License-Identifier: MIT
// Every reader of untrusted text fed a few thousand generated texts (random
// bytes and random mixes of syntax characters), each in a heap block of exactly
// its size so that the sanitizer build catches any read past the NUL. Seeded:
// a failure names the reader, the seed and the text's index, which replays it.
#include "pacelag/util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>

namespace {

const uint32_t seed = 20261207;
const int textcount = 3000;

using Block = std::unique_ptr<char, decltype(&std::free)>;

// The pieces the syntax mixes are made of.
const char* const pieces[] = {
    "<",  ">",   "/",   "\"",   "'",    "=",     "&",  ";",    "[",    "]",    ",",  "\r", "\n",
    " ",  "a",   "k",   "1",    "$",    "(?<",   "\\", "-",    "_",    ".",    "td", "br", "p",
    "eq", "lt;", "amp", "quot", "name", "value", "</", "&eq;", "<td>", "<br>", "[]", "\t", "\xe9",
};

// Texts of up to 80 bytes, half random bytes, half syntax mixes.
Block maketext(std::mt19937& random) {
    std::string text;
    size_t length = random() % 81;
    bool bytes = random() % 2 == 0;
    while (text.size() < length)
        text += bytes ? std::string(1, static_cast<char>(1 + random() % 255))
                      : pieces[random() % (sizeof pieces / sizeof *pieces)];
    text.resize(length);
    Block block(static_cast<char*>(std::malloc(length + 1)), &std::free);
    std::memcpy(block.get(), text.c_str(), length + 1);
    return block;
}

bool allalnum(const char* text) {
    for (; *text != '\0'; text++)
        if (!std::isalnum(static_cast<unsigned char>(*text))) return false;
    return true;
}

// Calls f(key, value) for every entry, then frees the table.
template <class F> void each(aaContext* table, F f) {
    const char* key = nullptr;
    aarewind(table);
    while (void* value = aanext(table, key)) f(key, static_cast<const char*>(value));
    aafree(table);
}

bool trimmed(const char* text) {
    size_t n = std::strlen(text);
    return n == 0 || (std::strchr(" \r\n", text[0]) == nullptr &&
                      std::strchr(" \r\n", text[n - 1]) == nullptr);
}

void checkini(char* text) {
    aaContext* table = aacreate();
    EXPECT_EQ(0, ini2aa(table, text));
    EXPECT_EQ(0, ini2aa(table, text, ';', ':'));
    each(table, [](const char* key, const char* value) {
        EXPECT_EQ(nullptr, std::strpbrk(key, " -_.\r")) << key;
        EXPECT_TRUE(trimmed(value));
    });
}

void checksection(char* text) {
    const char* names[] = {"a", "", nullptr};
    for (const char* name : names) {
        char* got = getsection(static_cast<const char*>(text), name);
        ASSERT_NE(nullptr, got);
        EXPECT_NE(nullptr, std::strstr(text, got)) << got;
        EXPECT_TRUE(got[0] != '\r' && got[0] != '\n');
        std::free(got);
    }
}

void checktagvalue(char* text) {
    const char* keys[] = {"name", "value", "a", ""};
    for (const char* key : keys) {
        char* value = htmltagvalue(text, key, static_cast<int>(std::strlen(key)));
        EXPECT_LE(value != nullptr ? std::strlen(value) : 0, std::strlen(text));
        std::free(value);
    }
}

void checkentities(char* text) {
    const std::string before = text;
    char* escaped = htmlescape(text);
    ASSERT_NE(nullptr, escaped);
    const std::string full = escaped;
    EXPECT_EQ(static_cast<int>(before.size()), htmlunescape(escaped));
    EXPECT_EQ(before, escaped);
    std::free(escaped);

    // A cut escaped text still decodes to a prefix of the input: no entity is cut.
    for (size_t size = 1; size <= full.size() + 1; size += 1 + size / 3) {
        std::string buf(size, 'Z');
        htmlescapebuf(text, &buf[0], size);
        size_t length = std::strlen(buf.c_str());
        EXPECT_LT(length, size);
        EXPECT_EQ(0u, full.compare(0, length, buf.c_str()));
        EXPECT_TRUE(length == full.size() || length + 6 >= size);
        htmlunescape(&buf[0]);
        EXPECT_EQ(0u, before.compare(0, std::strlen(buf.c_str()), buf.c_str()));
    }

    char* decoded = htmlunescapen(text, static_cast<int>(before.size()));
    ASSERT_NE(nullptr, decoded);
    EXPECT_LE(std::strlen(decoded), before.size());
    std::free(decoded);
    int length = htmlunescape(text);
    EXPECT_EQ(static_cast<int>(std::strlen(text)), length);
    EXPECT_LE(static_cast<size_t>(length), before.size());
}

void checkattributes(char* text) {
    char id[] = "id", a[] = "a";
    aaContext* table = aacreate();
    EXPECT_EQ(0, htmlattr2aa(table, text));
    EXPECT_EQ(0, htmlattr2aa(table, text, id, a));
    each(table, [](const char* key, const char*) {
        EXPECT_EQ(nullptr, std::strpbrk(key, "-_. ")) << key;
    });
}

void checkcsv(char* text) {
    const char* separators[] = {",", " ", ";", "\"", ""};
    for (const char* separator : separators) {
        char** list = csvsplit(separator, text);
        int fields = list != nullptr ? static_cast<int>(strlistcount(list)) : -1;
        EXPECT_EQ(fields, csvcount(separator, text));
        EXPECT_EQ(strblank(text), list == nullptr);
        EXPECT_LE(fields, std::count(text, text + std::strlen(text), separator[0]) + 1);
        strlistfree(list);
    }
}

void checkgroups(char* text) {
    char** list = regexgroups(text);
    ASSERT_NE(nullptr, list);
    EXPECT_LE(strlistcount(list), 400u);
    for (char** name = list; *name != nullptr; name++) {
        EXPECT_TRUE(**name != '\0' && allalnum(*name));
        EXPECT_NE(nullptr, std::strstr(text, (std::string("(?<") + *name + ">").c_str()));
    }
    strlistfree(list);
}

void checkkeylist(char* text) {
    aaContext* table = aacreate();
    keylist(text, table);
    each(table, [](const char* key, const char* value) {
        EXPECT_TRUE(allalnum(key)) << key;
        EXPECT_STREQ("", value);
    });
}

void checklist(char* text) {
    aaContext* table = list2aa(",;\n", text);
    ASSERT_NE(nullptr, table);
    each(table, [](const char* key, const char* value) {
        EXPECT_EQ(key, value); // one text serves both
        EXPECT_EQ(nullptr, std::strpbrk(key, ",;\n"));
        EXPECT_TRUE(trimmed(key));
    });
}

TEST(Readers, GeneratedTextsStayInBoundsAndKeepInvariants) {
    // All but the entity decoders and list2aa leave the text as it was.
    struct Reader {
        const char* name;
        void (*check)(char* text);
        bool restores;
    } readers[] = {{"ini2aa", checkini, true},
                   {"getsection", checksection, true},
                   {"htmltagvalue", checktagvalue, true},
                   {"entities", checkentities, false},
                   {"htmlattr2aa", checkattributes, true},
                   {"csvsplit", checkcsv, true},
                   {"regexgroups", checkgroups, true},
                   {"keylist", checkkeylist, true},
                   {"list2aa", checklist, false}};
    for (const Reader& reader : readers) {
        std::mt19937 random(seed);
        for (int i = 0; i < textcount; i++) {
            Block text = maketext(random);
            SCOPED_TRACE(std::string(reader.name) + " seed " + std::to_string(seed) + " text " +
                         std::to_string(i));
            const std::string before = text.get();
            reader.check(text.get());
            EXPECT_TRUE(!reader.restores || before == text.get()) << "changed: " << text.get();
            if (testing::Test::HasFailure()) return;
        }
    }
}

} // namespace
