// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "common/text_format.h"

using halvex::FormatByteSize;
using halvex::FormatDuration;

TEST(FormatByteSize, SwitchesFormAtEachThreshold) {
    EXPECT_EQ(FormatByteSize(0), "0 bytes");
    EXPECT_EQ(FormatByteSize(1), "1 bytes");
    EXPECT_EQ(FormatByteSize(999), "999 bytes");
    EXPECT_EQ(FormatByteSize(1000), "1.0 KB");
    EXPECT_EQ(FormatByteSize(1536), "1.5 KB");
    EXPECT_EQ(FormatByteSize(102399), "100.0 KB");
    EXPECT_EQ(FormatByteSize(102400), "100 KB");
    EXPECT_EQ(FormatByteSize(999999), "977 KB");
    EXPECT_EQ(FormatByteSize(1000000), "0.95 MB");
    EXPECT_EQ(FormatByteSize(999999999), "953.67 MB");
    EXPECT_EQ(FormatByteSize(1000000000), "0.93 GB");
    EXPECT_EQ(FormatByteSize(5ull << 30), "5.00 GB");
    // Sizes past 4 GiB and up to the largest 64-bit value keep their magnitude.
    EXPECT_EQ(FormatByteSize(1ull << 40), "1024.00 GB");
    EXPECT_EQ(FormatByteSize(UINT64_MAX), "17179869184.00 GB");
}

TEST(FormatDuration, MinutesFromSixtySecondsNoHours) {
    EXPECT_EQ(FormatDuration(0), "0 seconds");
    EXPECT_EQ(FormatDuration(1), "1 seconds");
    EXPECT_EQ(FormatDuration(59), "59 seconds");
    EXPECT_EQ(FormatDuration(60), "1 minutes, 0 seconds");
    EXPECT_EQ(FormatDuration(61), "1 minutes, 1 seconds");
    EXPECT_EQ(FormatDuration(4500), "75 minutes, 0 seconds");
    EXPECT_EQ(FormatDuration(UINT32_MAX), "71582788 minutes, 15 seconds");
}
