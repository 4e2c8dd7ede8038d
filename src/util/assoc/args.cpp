// SPDX-License-Identifier: MIT
// args2aa: the options of a command line as a list-mode, case-ignoring table
// of option names and their values.
#include "pacelag/util.h"

#include "check.h"

namespace {
// Stores an option word less its first character; false when memory ran out.
bool store(aaContext* table, const char* option, const char* value) {
    return aaput(table, option + 1, value, AA_COPYKEY | AA_COPYVALUE) != -1;
}
} // namespace

aaContext* args2aa(int argc, const char* const* argv) {
    aaContext* table = aacreate(AA_NOCASE | AA_LIST);
    if (!table) return nullptr;
    if (argc > 1) UTIL_CHECK(argv);

    const char* pending = nullptr;
    bool failed = false;
    for (int i = 1; i < argc; ++i) {
        const char* word = argv[i];
        UTIL_CHECK(word);
        if (word[0] == '-') {
            if (pending && !store(table, pending, "")) failed = true;
            pending = word;
        } else if (pending) {
            if (!store(table, pending, word)) failed = true;
            pending = nullptr;
        }
        // A word that is neither an option nor its value is dropped.
    }
    if (pending && !store(table, pending, "")) failed = true;
    if (failed) {
        aafree(table);
        return nullptr;
    }
    return table;
}
