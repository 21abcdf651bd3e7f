// SPDX-License-Identifier: GPL-3.0-or-later
// The date menu's numbering and texts, the status text and the window title.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

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

// Dates of one local day are told apart by the time of day, to the second where minutes collide.
TEST_F(ArchiveDatesTest, DatesSharingADayShowTheirTimeOfDay) {
    // Local time is UTC here, so that Day()'s noon reads 12:00.
    const char* savedTz = std::getenv("TZ");
    const std::string saved = savedTz != nullptr ? savedTz : "";
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    const struct Case {
        const char* name;
        std::vector<std::uint64_t> times;
        std::vector<std::string> texts;
    } cases[] = {
        {"different days", {Day(1), Day(2), Day(40)}, {"January 02, 2023", "January 03, 2023", "February 10, 2023"}},
        {"same day",
         {Day(1), Day(1, 3900), Day(2)},
         {"January 02, 2023 12:00", "January 02, 2023 13:05", "January 03, 2023"}},
        {"same minute",
         {Day(1, 5), Day(1, 59), Day(1, 60), Day(3, 11 * 3600 + 59 * 60 + 59)},
         {"January 02, 2023 12:00:05", "January 02, 2023 12:00:59", "January 02, 2023 12:01",
          "January 04, 2023"}},
        {"midnight splits the day", {Day(4, 11 * 3600 + 59 * 60 + 59), Day(4, 12 * 3600)},
         {"January 05, 2023", "January 06, 2023"}},
        {"none", {}, {}},
    };
    for (const Case& c : cases) EXPECT_EQ(ArchiveDateTexts(c.times), c.texts) << c.name;

    // Three backups of one day: the menu, and so the status bar and the listing, tell them apart.
    builder.AddTarget("Data", "/data");
    builder.Run(Day(1), {{"Data", "", "(a@1:1)"}});
    builder.Run(Day(1, 600), {{"Data", "", ""}});
    builder.Run(Day(1, 630), {{"Data", "", ""}});
    ASSERT_TRUE(set.OpenSet(builder.ArchivePath(3)));
    std::vector<std::string> menu;
    for (const DateMenuItem& item : BuildDateMenu(set)) menu.push_back(item.text);
    EXPECT_EQ(menu, (std::vector<std::string>{"2: January 02, 2023 12:10:30", "1: January 02, 2023 12:10:00",
                                              "0: January 02, 2023 12:00"}));

    savedTz != nullptr ? ::setenv("TZ", saved.c_str(), 1) : ::unsetenv("TZ");
    ::tzset();
}

TEST(RestoreWindowTitleTest, NamesTheLastArchiveAndTheDate) {
    EXPECT_EQ(RestoreWindowTitle("Job12.TQBak"), "Halvex Restore - Job12.TQBak");
    EXPECT_EQ(RestoreWindowTitle("Job12.TQBak", "May 01, 2024"), "Halvex Restore - Job12.TQBak (May 01, 2024)");
}

}  // namespace
}  // namespace halvex
