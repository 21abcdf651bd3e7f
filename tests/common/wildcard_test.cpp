// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <string>

#include "common/wildcard.h"

using halvex::FindNoCase;
using halvex::MatchWildcard;

namespace {

struct Case {
    const char* pattern;
    const char* name;
    bool matches;
};

void ExpectCases(std::initializer_list<Case> cases, bool caseSensitive) {
    for (const Case& c : cases) {
        EXPECT_EQ(MatchWildcard(std::string_view(c.name), std::string_view(c.pattern), caseSensitive), c.matches)
            << "pattern \"" << c.pattern << "\" name \"" << c.name << "\"";
    }
}

}  // namespace

// Filters as the backup program applies them: pattern and path both upper-cased, exact compare.
TEST(MatchWildcard, ConfiguredFilterExamples) {
    ExpectCases({{"*.TMP", "A.TMP", true},
                 {"*.TMP", "X\\Y\\B.TMP", true},
                 {"*.TMP", "A.TMP.BAK", false},
                 {"*THUMBS.DB", "THUMBS.DB", true},
                 {"*THUMBS.DB", "PICS\\THUMBS.DB", true},
                 {"*THUMBS.DB", "MYTHUMBS.DB", true},
                 {"*THUMBS.DB", "THUMBS.DB.OLD", false},
                 {"DIR1", "DIR1", true},
                 {"DIR1", "DIR1\\A.TXT", false},
                 {"DIR1", "X\\DIR1", false},
                 {"DIR2\\*\\DEBUG", "DIR2\\HELLO\\GOOD BYE\\DEBUG", true},
                 {"DIR2\\*\\DEBUG", "DIR2\\A\\DEBUG", true},
                 {"DIR2\\*\\DEBUG", "DIR2\\DEBUG", true},  // the tail overlaps the head
                 {"DIR2\\*\\DEBUG", "DIR2\\A\\DEBUG\\X", false},
                 {"DIR2\\*\\DEBUG", "DIR3\\A\\DEBUG", false}},
                true);
}

TEST(MatchWildcard, AnchoringAndStars) {
    ExpectCases({{"", "", true},
                 {"", "A", false},
                 {"*", "", true},
                 {"*", "ANYTHING\\AT\\ALL", true},
                 {"**", "", true},
                 {"**", "ABC", true},
                 {"A**C", "ABC", true},
                 {"A*", "A", true},
                 {"A*", "ABC", true},
                 {"A*", "BA", false},
                 {"*A", "A", true},
                 {"*A", "BA", true},
                 {"*A", "AB", false},
                 {"AB*AB", "ABAB", true},
                 {"AB*AB", "ABXAB", true},
                 {"AB*AB", "AB", true},
                 {"AB*AB", "ABA", false},
                 {"A*XYZ", "AB", false},
                 {"A*B*C", "ABC", true},
                 {"A*B*C", "AXBYC", true},
                 {"A*B*C", "ACB", false},
                 {"ABC", "AB", false},
                 {"AB", "ABC", false},
                 {"ABCD*", "ABC", false},  // head longer than the name
                 {"*B*", "AC", false},
                 {"*B*", "ABC", true},
                 {"*BC*", "B", false}},  // middle segment longer than what is left
                true);
}

TEST(MatchWildcard, MiddleSegmentsTakeLeftmostOccurrenceWithoutBacktracking) {
    // B is taken at its first place; the tail may still reuse characters at the end.
    ExpectCases({{"*B*BC", "ABBC", true},
                 {"A*B*C*D", "AXBXCXD", true},
                 // The first X is consumed by the first middle segment; the second must
                 // follow it, and does not.
                 {"*X*X*", "AX", false},
                 {"*X*X*", "AXBX", true}},
                true);
}

TEST(MatchWildcard, CaseFlag) {
    EXPECT_TRUE(MatchWildcard(std::string_view("Abc"), "a*C", false));
    EXPECT_FALSE(MatchWildcard(std::string_view("Abc"), "a*C", true));
    EXPECT_TRUE(MatchWildcard(std::string_view("report.DOC"), "*.doc", false));
    EXPECT_FALSE(MatchWildcard(std::string_view("report.DOC"), "*.doc", true));
    EXPECT_TRUE(MatchWildcard(std::string_view("My Pictures\\x"), "*PICT*X", false));
    EXPECT_TRUE(MatchWildcard(std::string_view("readme"), "README", false));
    EXPECT_FALSE(MatchWildcard(std::string_view("readme"), "README", true));
    // Only ASCII letters fold: UTF-8 É and é stay different.
    EXPECT_FALSE(MatchWildcard(std::string_view("caf\xc3\xa9"), "*\xc3\x89", false));
    // '@' (0x40) and '`' (0x60) differ by the case bit but are not letters.
    EXPECT_FALSE(MatchWildcard(std::string_view("a@"), "*`", false));
}

TEST(MatchWildcard, MissingArgumentsNeverMatch) {
    EXPECT_FALSE(MatchWildcard(nullptr, "*", true));
    EXPECT_FALSE(MatchWildcard("A", nullptr, false));
    EXPECT_TRUE(MatchWildcard("A", "*", true));
}

TEST(MatchWildcard, NamesPastTheOldPathLimit) {
    std::string longName(300, 'A');
    longName += "\\DEBUG";
    EXPECT_TRUE(MatchWildcard(longName, "A*\\DEBUG", true));
    EXPECT_FALSE(MatchWildcard(longName, "a*x*", false));
    std::string middle = std::string(5000, 'Q') + "NEEDLE" + std::string(5000, 'Q');
    EXPECT_TRUE(MatchWildcard(middle, "*needle*", false));
    EXPECT_FALSE(MatchWildcard(middle, "*needle*", true));
    // A long pattern whose middle segment lies beyond character 259 of the name.
    std::string pattern = "*" + std::string(400, 'q') + "NEEDLE*";
    EXPECT_TRUE(MatchWildcard(middle, pattern, false));
    std::string tooLong = "*" + std::string(5001, 'Q') + "NEEDLE*";
    EXPECT_FALSE(MatchWildcard(middle, tooLong, true));
}

TEST(FindNoCase, PositionsAndMissingParts) {
    EXPECT_EQ(FindNoCase(std::string_view("Hello World"), "WORLD"), 6u);
    EXPECT_EQ(FindNoCase(std::string_view("abcABC"), "bc"), 1u);
    EXPECT_EQ(FindNoCase(std::string_view("abc"), ""), 0u);
    EXPECT_EQ(FindNoCase(std::string_view(""), ""), 0u);
    EXPECT_EQ(FindNoCase(std::string_view("abc"), "abcd"), std::nullopt);
    EXPECT_EQ(FindNoCase(std::string_view("abc"), "x"), std::nullopt);
    EXPECT_EQ(FindNoCase(std::string_view(""), "a"), std::nullopt);
    // The position found lies beyond 259 characters.
    std::string text = std::string(600, 'x') + "Tail";
    EXPECT_EQ(FindNoCase(text, "TAIL"), 600u);

    const char* text2 = "one Two three";
    EXPECT_EQ(FindNoCase(text2, "two"), text2 + 4);
    EXPECT_EQ(FindNoCase(text2, ""), text2);
    EXPECT_EQ(FindNoCase(text2, "four"), nullptr);
    EXPECT_EQ(FindNoCase(nullptr, "a"), nullptr);
    EXPECT_EQ(FindNoCase(text2, nullptr), nullptr);
}
