// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <string>

#include "common/fit_path.h"

using halvex::FitPathToWidth;

namespace {

// One unit per byte, like a fixed-width font over ASCII.
int Bytes(std::string_view text) { return static_cast<int>(text.size()); }

// A proportional font: 'W' is three units, '.' one, everything else two.
int Proportional(std::string_view text) {
    int width = 0;
    for (char c : text) width += c == 'W' ? 3 : c == '.' ? 1 : 2;
    return width;
}

// One unit per UTF-8 character.
int Characters(std::string_view text) {
    int width = 0;
    for (char c : text) width += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return width;
}

}  // namespace

TEST(FitPathToWidth, TextThatFitsIsUnchanged) {
    EXPECT_EQ(FitPathToWidth("/home/user/file.txt", 19, Bytes), "/home/user/file.txt");
    EXPECT_EQ(FitPathToWidth("", 0, Bytes), "");
}

TEST(FitPathToWidth, KeepsTheLastPartAndAsMuchOfTheStartAsFits) {
    EXPECT_EQ(FitPathToWidth("/home/user/documents/report.doc", 20, Bytes), "/home/.../report.doc");
    EXPECT_EQ(FitPathToWidth("Data\\pictures\\2004\\holiday.jpg", 20, Bytes), "Data\\...\\holiday.jpg");
    // Mixed separators: the last one of either kind counts.
    EXPECT_EQ(FitPathToWidth("a/b\\ccccccccc\\d/e.txt", 12, Bytes), "a/b.../e.txt");
    EXPECT_EQ(FitPathToWidth("/abcdef/name", 8, Bytes), ".../name");
}

TEST(FitPathToWidth, LongLastPartKeepsItsEnd) {
    EXPECT_EQ(FitPathToWidth("/x/averyveryverylongfilename.txt", 12, Bytes), "...ename.txt");
    EXPECT_EQ(FitPathToWidth("nofolderbutlong.txt", 10, Bytes), "...ong.txt");
    EXPECT_EQ(FitPathToWidth("/abcdef", 3, Bytes), "...");
    EXPECT_EQ(FitPathToWidth("/abcdef", 2, Bytes), "");
    EXPECT_EQ(FitPathToWidth("/abcdef", -5, Bytes), "");
}

TEST(FitPathToWidth, ResultAlwaysFitsAProportionalFont) {
    const std::string path = "C:\\WWWW\\Windows Work\\WWW.W.W\\WWWWWWWW.doc";
    for (int width = 0; width <= Proportional(path) + 1; ++width) {
        std::string fitted = FitPathToWidth(path, width, Proportional);
        EXPECT_LE(Proportional(fitted), width) << "width " << width << ": " << fitted;
        if (width >= Proportional(path)) {
            EXPECT_EQ(fitted, path);
        } else if (width >= 3) {
            EXPECT_NE(fitted.find("..."), std::string::npos) << fitted;
        }
        // Whenever the whole last part fits behind the ellipsis, it is there.
        if (width >= Proportional("...\\WWWWWWWW.doc")) {
            EXPECT_TRUE(fitted.ends_with("\\WWWWWWWW.doc")) << "width " << width << ": " << fitted;
        }
    }
}

TEST(FitPathToWidth, NeverCutsInsideAUtf8Character) {
    // "é" (C3 A9) and "ü" (C3 BC) are two bytes each and one unit wide.
    const std::string path = "/h\xc3\xa9h\xc3\xa9h\xc3\xa9/f\xc3\xbc\xc3\xbc\xc3\xbc\xc3\xbc.txt";
    for (int width = 0; width < Characters(path); ++width) {
        std::string fitted = FitPathToWidth(path, width, Characters);
        EXPECT_LE(Characters(fitted), width);
        for (std::size_t i = 0; i < fitted.size(); ++i) {
            auto c = static_cast<unsigned char>(fitted[i]);
            if ((c & 0xC0) == 0x80) {
                ASSERT_GT(i, 0u);
                EXPECT_EQ(static_cast<unsigned char>(fitted[i - 1]), 0xC3) << "width " << width;
            }
        }
        if (!fitted.empty()) {
            EXPECT_NE(static_cast<unsigned char>(fitted.back()), 0xC3);
        }
    }
    EXPECT_EQ(FitPathToWidth(path, 16, Characters), "/h\xc3\xa9.../f\xc3\xbc\xc3\xbc\xc3\xbc\xc3\xbc.txt");
    EXPECT_EQ(FitPathToWidth(path, 11, Characters), "...\xc3\xbc\xc3\xbc\xc3\xbc\xc3\xbc.txt");
}
