// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "platform/nocase.h"

using namespace halvex::platform;

TEST(NoCase, FoldsAsciiLettersOnly) {
    EXPECT_TRUE(EqualNoCase("ToDirs.tq", "todirs.TQ"));
    EXPECT_FALSE(EqualNoCase("abc", "abd"));
    EXPECT_FALSE(EqualNoCase("abc", "ab"));
    // Bytes above 127 (UTF-8) compare as they are: É and é differ.
    EXPECT_FALSE(EqualNoCase("\xc3\x89", "\xc3\xa9"));
    EXPECT_LT(CompareNoCase("apple", "Banana"), 0);
    EXPECT_GT(CompareNoCase("b", "A"), 0);
    EXPECT_LT(CompareNoCase("ab", "ABC"), 0);
    // '_' (0x5F) sorts after upper-case letters once letters are folded up.
    EXPECT_LT(CompareNoCase("a", "_"), 0);
    EXPECT_EQ(UpperCased("dir2\\*\\debug \xc3\xa9"), "DIR2\\*\\DEBUG \xc3\xa9");
}
