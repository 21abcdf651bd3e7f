// SPDX-License-Identifier: GPL-3.0-or-later
// The date menu's numbering and texts, the status text and the window title.
#include <gtest/gtest.h>

#include "restore/archive_dates.h"
#include "restore/archive_set.h"
#include "tests/restore/set_builder.h"
#include "tests/support/temp_folder.h"

namespace halvex {
namespace {

using test::Day;

class ArchiveDatesTest : public ::testing::Test {
protected:
    test::TempFolder temp;
    test::SetBuilder builder{temp.path(), "Job"};
    ArchiveSet set;
};

TEST_F(ArchiveDatesTest, TwelveDatesOfTwelveArchivesAreNumberedElevenDownToZero) {
    builder.AddTarget("Data", "/data");
    for (int run = 0; run < 12; ++run) builder.Run(Day(31 * run), {{"Data", "", run == 0 ? "(a@1:1)" : ""}});
    ASSERT_TRUE(set.OpenSet(builder.ArchivePath(12)));
    set.SelectDate(11);

    const std::vector<DateMenuItem> menu = BuildDateMenu(set);
    ASSERT_EQ(menu.size(), 12u);
    EXPECT_EQ(menu.front().commandId, 2011);
    EXPECT_EQ(menu.front().text, "11: December 08, 2023");
    EXPECT_EQ(menu.back().commandId, 2000);
    EXPECT_EQ(menu.back().text, "0: January 01, 2023");
    // The item labelled 10 shows its date without the number in the status bar.
    EXPECT_EQ(menu[1].label, 10);
    EXPECT_EQ(ArchiveDateStatusText(menu[1].dateText), "Archive Date: November 07, 2023");

    // The checked date does nothing; other date items select their date; other ids go their way.
    EXPECT_EQ(DateToSelect(set, 2011), std::nullopt);
    EXPECT_EQ(DateToSelect(set, 2010), 10);
    EXPECT_EQ(DateToSelect(set, 2000), 0);
    EXPECT_EQ(DateToSelect(set, 2012), std::nullopt);
    EXPECT_EQ(DateToSelect(set, 32771), std::nullopt);
}

TEST_F(ArchiveDatesTest, SetWithFewerDatesThanArchivesNumbersFromTheArchives) {
    // The target of the first run was renamed: the new name starts in archive 2.
    builder.AddTarget("Old", "/data");
    builder.AddTarget("New", "/data");
    builder.Run(Day(1), {{"Old", "", "(a@1:1)"}});
    builder.Run(Day(2), {{"New", "", "(a@1:1)"}});
    builder.Run(Day(3), {{"New", "", ""}});
    ASSERT_TRUE(set.OpenSet(builder.ArchivePath(3)));
    ASSERT_EQ(set.DateCount(), 2);
    set.SelectDate(0);
    EXPECT_EQ(set.CurrentArchiveIndex(), 1);
    const std::vector<DateMenuItem> menu = BuildDateMenu(set);
    ASSERT_EQ(menu.size(), 2u);
    EXPECT_EQ(menu[0].text, "2: January 04, 2023");
    EXPECT_EQ(menu[1].text, "1: January 03, 2023");
    EXPECT_EQ(DateIndexFromLabel(3, 2, 0), std::nullopt);
    EXPECT_EQ(DateIndexFromLabel(3, 2, 1), 0);
    EXPECT_EQ(DateIndexFromLabel(3, 2, 2), 1);
    EXPECT_EQ(DateIndexFromLabel(3, 2, 3), std::nullopt);
}

TEST(RestoreWindowTitleTest, NamesTheLastArchive) {
    EXPECT_EQ(RestoreWindowTitle("Job12.TQBak"), "TQ's Restore Utility - Job12.TQBak");
}

}  // namespace
}  // namespace halvex
