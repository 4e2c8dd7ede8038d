// SPDX-License-Identifier: MIT
// MAC address texts: accepted and refused forms, comparison across forms.
#include "pacelag/util.h"

#include <gtest/gtest.h>

namespace {

TEST(Digits, MacAddresses) {
    for (const char* t : {"00:1a:2B-3c:4d:5e", "001a.2b3c.4d5e", "001A2B3C4D5E"})
        EXPECT_TRUE(ismacaddr(t)) << t;
    for (const char* t :
         {"00:1a:2B-3c:4d:5e0", "00:1a:2B-3c:4d:5", "001a.2b3c.4d5e0", "001a.2b3c.4d5",
          "001A2B3C4D5E0", "001A2B3C4D5", "00.1a:2B:3c:4d:5e", "001a:2b3c:4d5e", "001a.2b3c.4g5e",
          "00:1a:2B:3c:4d:5g", "00:1a:2B::c:4d:5e", "", static_cast<const char*>(nullptr)})
        EXPECT_FALSE(ismacaddr(t)) << t;

    struct Pair {
        const char* a;
        const char* b;
        bool equal;
    } pairs[] = {
        {"00:1A:2B:3C:4D:5E", "001a.2b3c.4d5e", true},  {"001a2b3c4d5e", "00-1A-2B-3C-4D-5E", true},
        {"00:1A:2B:3C:4D:5E", "001a.2b3c.4d5f", false}, {"00:1A:2B:3C:4D:5", "001a2b3c4d5e", false},
        {"001a2b3c4d5", "001a2b3c4d5", false},          {"001a2b3c4d5e77", "001a2b3c4d5e77", false},
        {"001a2b3c4d5e", "001a2b3c4d5eXYZ", true},      {"", "", false},
        {"zz1a2b3c4d5e", "zz1a2b3c4d5e", false}};
    for (const auto& p : pairs) EXPECT_EQ(macequal(p.a, p.b), p.equal) << p.a << " " << p.b;
}

} // namespace
