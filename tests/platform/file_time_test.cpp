// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/file_time.h"
#include "platform/local_time.h"
#include "tests/support/temp_folder.h"

using namespace halvex::platform;

TEST(FileTime, UnixEpochAndSubSecondUnits) {
    EXPECT_EQ(FileTimeFromUnixSeconds(0), 116444736000000000ULL);
    timespec ts{1600000000, 123456789};
    FileTime ft = FileTimeFromTimespec(ts);
    EXPECT_EQ(ft, (1600000000ULL + 11644473600ULL) * 10000000ULL + 1234567ULL);
    timespec back = TimespecFromFileTime(ft);
    EXPECT_EQ(back.tv_sec, 1600000000);
    EXPECT_EQ(back.tv_nsec, 123456700);  // 100-ns resolution
}

TEST(FileTime, SetAndReadBackOnDisk) {
    halvex::test::TempFolder dir;
    std::string f = dir / "a.txt";
    halvex::test::WriteFile(f, "x");
    FileTime want = FileTimeFromUnixSeconds(1234567891) + 5555555;
    ASSERT_TRUE(SetLastWriteTime(f, want));
    FileTime got = 0;
    ASSERT_TRUE(GetLastWriteTime(f, got));
    EXPECT_EQ(got, want);
    EXPECT_FALSE(GetLastWriteTime(dir / "missing", got));
}

TEST(LocalTime, RoundTripsThroughLocalCalendar) {
    setenv("TZ", "Europe/Berlin", 1);
    tzset();
    // 2021-07-01 12:34:56.789 UTC is 14:34:56 in Berlin (summer time).
    FileTime ft = FileTimeFromUnixSeconds(1625142896) + 7890000;
    SystemTime local = FileTimeToLocal(ft);
    EXPECT_EQ(local.year, 2021);
    EXPECT_EQ(local.month, 7);
    EXPECT_EQ(local.day, 1);
    EXPECT_EQ(local.hour, 14);
    EXPECT_EQ(local.minute, 34);
    EXPECT_EQ(local.second, 56);
    EXPECT_EQ(local.milliseconds, 789);
    EXPECT_EQ(local.dayOfWeek, 4);  // Thursday
    EXPECT_EQ(LocalToFileTime(local), ft);
    SystemTime utc = FileTimeToUtc(ft);
    EXPECT_EQ(utc.hour, 12);
    EXPECT_EQ(FormatUtcTime("%Y-%m-%d %H:%M:%S", ft), "2021-07-01 12:34:56");
    EXPECT_EQ(FormatLocalTime("%b-%d, %Y", local), "Jul-01, 2021");
    unsetenv("TZ");
    tzset();
}
