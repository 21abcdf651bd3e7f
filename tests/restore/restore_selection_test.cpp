// SPDX-License-Identifier: GPL-3.0-or-later
// Whole targets and selections of one folder, as the pages and the command line restore them;
// the progress arithmetic.
#include <gtest/gtest.h>

#include "common/text_format.h"
#include <cstdlib>

#include "platform/file_attributes.h"
#include "platform/home_folder.h"
#include "restore/archive_set.h"
#include "restore/archive_set_progress.h"
#include "restore/restore_selection.h"
#include "tests/restore/scripted_restore_ui.h"
#include "tests/restore/set_builder.h"
#include "tests/support/temp_folder.h"

namespace halvex {
namespace {

using test::Day;
using test::EntryContent;

class RestoreSelectionTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::MakeFolders(temp / "set");
        const std::string t = std::to_string(Day(1));
        builder.AddTarget("Data", "/data");
        builder.AddTarget("Docs", "/docs");
        builder.AddTarget("More", "/more");
        builder.Run(Day(1), {{"Data", "", "(d@" + t + ":10)[one(a@" + t + ":1) two(b@" + t + ":2)]"},
                             {"Docs", "", "(e@" + t + ":20)"},
                             {"More", "", "(m@" + t + ":30)"}});
        ASSERT_TRUE(set.OpenSet(builder.ArchivePath(1)));
        set.SelectDate(0);
        set.SetUi(&ui);
    }
    void TearDown() override { EXPECT_EQ(ui.progressOpened, ui.progressClosed); }

    CatalogSelection Resolve(const std::vector<std::string>& paths) {
        std::string error;
        auto selection = ResolveSelection(set, paths, error);
        EXPECT_TRUE(selection) << error;
        return selection.value_or(CatalogSelection{});
    }

    test::TempFolder temp;
    test::SetBuilder builder{temp / "set", "Job"};
    test::ScriptedRestoreUi ui;
    ArchiveSet set;
    const std::string out = temp / "out";
};

TEST_F(RestoreSelectionTest, TargetsAreRestoredInRowOrderAgainstTheirTotal) {
    // Files of 13, 20 and 30 bytes: the bar starts each target where the earlier ones ended.
    EXPECT_TRUE(RestoreTargets(set, {0, 1, 2}, out).Completed());
    EXPECT_EQ(ui.barPositions, (std::vector<int>{0, 158, 174, 206, 206, 523, 523, 1000}));
    EXPECT_EQ(test::ReadFile(out + "/Data/one/a"), EntryContent("Data\\one\\a", 1, 1));
    EXPECT_EQ(test::ReadFile(out + "/Docs/e"), EntryContent("Docs\\e", 1, 20));
    EXPECT_EQ(test::ReadFile(out + "/More/m"), EntryContent("More\\m", 1, 30));
    EXPECT_EQ(ui.messages, std::vector<std::string>{"Success: Restoration Complete"});
    EXPECT_EQ(TargetDestination(set, 1, ""), "/docs");
    EXPECT_EQ(TargetDestination(set, 1, "/x/"), "/x/Docs");
}

TEST_F(RestoreSelectionTest, CancellingTheSecondDestinationKeepsTheFirstRestored) {
    test::MakeFolders(out + "/Docs");
    ui.directoryAnswers = {DirectoryAnswer::Cancel};
    EXPECT_EQ(RestoreTargets(set, {0, 1, 2}, out).destination, DestinationResult::Cancelled);
    EXPECT_TRUE(platform::PathExists(out + "/Data/d"));
    EXPECT_FALSE(platform::PathExists(out + "/Docs/e"));
    EXPECT_FALSE(platform::PathExists(out + "/More"));
    EXPECT_EQ(ui.messages, std::vector<std::string>{"Aborted: Restoration Aborted"});
}

TEST_F(RestoreSelectionTest, SubFoldersSideBySideLandDirectlyInTheDestination) {
    const CatalogSelection selection = Resolve({"Data\\one", "Data\\two"});
    EXPECT_EQ(selection.sourcePath, "Data");
    EXPECT_TRUE(RestoreSelection(set, selection, out).Completed());
    EXPECT_EQ(test::ReadFile(out + "/one/a"), EntryContent("Data\\one\\a", 1, 1));
    EXPECT_EQ(test::ReadFile(out + "/two/b"), EntryContent("Data\\two\\b", 1, 2));
    EXPECT_FALSE(platform::PathExists(out + "/d"));
    EXPECT_EQ(ui.messages, std::vector<std::string>{"Success: Restoration Complete"});
}

TEST_F(RestoreSelectionTest, FilesAndWholeTargetsCanBeSelected) {
    EXPECT_TRUE(RestoreSelection(set, Resolve({"data\\ONE\\a"}), out).Completed());  // letter case folded
    EXPECT_EQ(test::ReadFile(out + "/a"), EntryContent("Data\\one\\a", 1, 1));

    const CatalogSelection targets = Resolve({"Docs", "More"});
    EXPECT_EQ(targets.sourcePath, "");
    ui.directoryAnswers = {DirectoryAnswer::ReplaceExisting};
    EXPECT_TRUE(RestoreSelection(set, targets, out).Completed());
    EXPECT_TRUE(platform::PathExists(out + "/Docs/e"));
    EXPECT_TRUE(platform::PathExists(out + "/More/m"));
}

TEST_F(RestoreSelectionTest, SelectionsMustExistAndShareOneFolder) {
    std::string error;
    EXPECT_FALSE(ResolveSelection(set, {"Data\\one\\a", "Data\\two\\b"}, error));
    EXPECT_EQ(error, "the entries to restore must all lie in one folder");
    EXPECT_FALSE(ResolveSelection(set, {"Data\\three"}, error));
    EXPECT_EQ(error, "Data\\three is not in the catalog at that date");
    EXPECT_FALSE(ResolveSelection(set, {"Nope"}, error));
    EXPECT_FALSE(ResolveSelection(set, {"Data", "Data\\d"}, error));
}

TEST_F(RestoreSelectionTest, RefusedDestinationEndsWithoutAnOutcomeMessage) {
    test::WriteFile(temp / "file", "x");
    EXPECT_EQ(RestoreSelection(set, Resolve({"Data\\d"}), temp / "file/sub").destination, DestinationResult::NotCreated);
    // A relative folder would land wherever the program runs.
    EXPECT_EQ(RestoreSelection(set, Resolve({"Data\\d"}), "C:\\data/sub").destination, DestinationResult::NotCreated);
    EXPECT_EQ(ui.messages, (std::vector<std::string>{"Error: Could not create destination directory",
                                                      "Error: 'C:\\data/sub' is not a full path: choose the folder to restore to."}));
    EXPECT_EQ(ui.progressOpened, 0);
}

TEST(AlternateFolderTest, ComesFromHomeAndTheUserDatabaseOnlyWithoutIt) {
    const char* saved = std::getenv("HOME");
    const std::string home = saved != nullptr ? saved : "";
    ::setenv("HOME", "/somewhere/me", 1);
    EXPECT_EQ(DefaultAlternateFolder(), "/somewhere/me/Halvex Restored");
    ::unsetenv("HOME");
    EXPECT_EQ(DefaultAlternateFolder(), platform::DatabaseHomeFolder() + "/Halvex Restored");
    if (saved != nullptr) ::setenv("HOME", home.c_str(), 1);
}

TEST(RestoreProgressTest, BarAndEstimate) {
    // 5 MB of 10 MB done after 10 seconds: half the bar, 10 seconds to go.
    EXPECT_EQ(ProgressBarPosition(ProgressFraction(5000000, 10000000)), 500);
    EXPECT_EQ(FormatDuration(EstimateRemainingSeconds(10000, ProgressFraction(5000000, 10000000))), "10 seconds");
    // Nothing to do is done; more than the total never passes the end of the bar.
    EXPECT_EQ(ProgressBarPosition(ProgressFraction(0, 0)), 1000);
    EXPECT_EQ(ProgressBarPosition(ProgressFraction(12, 10)), 1000);
    EXPECT_EQ(ProgressBarPosition(ProgressFraction(999, 1000)), 999);
    EXPECT_EQ(EstimateRemainingSeconds(10000, 0.0), 0u);
}

}  // namespace
}  // namespace halvex
