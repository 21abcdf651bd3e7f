// SPDX-License-Identifier: GPL-3.0-or-later
// Opening a set: archive count and names, targets, dates, the set's folder.
#include <gtest/gtest.h>

#include "platform/file_time.h"
#include "platform/process.h"
#include "restore/archive_set.h"
#include "tests/common/file_tree_test_util.h"
#include "tests/restore/set_builder.h"
#include "tests/support/temp_folder.h"

namespace halvex {
namespace {

using test::Day;
using test::SetBuilder;

class ArchiveSetTest : public ::testing::Test {
protected:
    test::TempFolder temp;
    ArchiveSet set;
};

TEST_F(ArchiveSetTest, SingleArchiveWithoutNumber) {
    SetBuilder builder(temp.path(), "Home");
    builder.AddTarget("Data", "/home/u/data");
    const std::string path = builder.Run(Day(1), {{"Data", "", "(a.txt@5:3)"}});

    ASSERT_TRUE(set.OpenSet(path));
    EXPECT_EQ(set.ArchiveCount(), 1);
    EXPECT_EQ(set.ArchiveBaseName(), "Home");
    ASSERT_NE(set.GetArchiveName(1), nullptr);
    EXPECT_EQ(*set.GetArchiveName(1), "Home.TQBak");
    EXPECT_EQ(set.GetArchiveName(0), nullptr);
    EXPECT_EQ(set.GetArchiveName(2), nullptr);
    ASSERT_EQ(set.TargetCount(), 1);
    EXPECT_EQ(set.GetTargetName(0), "Data");
    EXPECT_EQ(set.GetSourceFolder(0), "/home/u/data");
    EXPECT_EQ(set.GetBackupDates(), std::vector<std::uint64_t>{Day(1)});
}

TEST_F(ArchiveSetTest, TwelfthArchiveOpenedFromElsewhereNamesTheWholeSet) {
    const std::string folder = temp / "discs";
    test::MakeFolders(folder);
    SetBuilder builder(folder, "Job");
    builder.AddTarget("Data", "/data");
    std::string last;
    for (int run = 1; run <= 12; ++run)
        last = builder.Run(Day(run), {{"Data", "", "(f" + std::to_string(run) + ".txt@7:4)"}});

    ASSERT_TRUE(set.OpenSet(temp / "discs/Job12.TQBak"));
    EXPECT_EQ(set.Folder(), folder);
    EXPECT_EQ(set.ArchiveCount(), 12);
    EXPECT_EQ(set.ArchiveBaseName(), "Job");
    EXPECT_EQ(*set.GetArchiveName(1), "Job.TQBak");
    EXPECT_EQ(*set.GetArchiveName(2), "Job2.TQBak");
    EXPECT_EQ(*set.GetArchiveName(12), "Job12.TQBak");
    EXPECT_EQ(set.DateCount(), 12);

    // Opening an earlier archive takes it as the end of the set.
    ASSERT_TRUE(set.OpenSet(folder + "/Job3.TQBak"));
    EXPECT_EQ(set.ArchiveCount(), 3);
    EXPECT_EQ(*set.GetArchiveName(3), "Job3.TQBak");
    EXPECT_EQ(set.DateCount(), 3);
}

TEST_F(ArchiveSetTest, RenamedLastArchiveKeepsItsOwnName) {
    SetBuilder builder(temp.path(), "Job");
    builder.AddTarget("Data", "/data");
    builder.Run(Day(1), {{"Data", "", "(a@1:1)"}});
    const std::string second = builder.Run(Day(2), {{"Data", "", "(b@1:1)"}});
    ASSERT_EQ(std::rename(second.c_str(), (temp / "copy.TQBak").c_str()), 0);

    ASSERT_TRUE(set.OpenSet(temp / "copy.TQBak"));
    EXPECT_EQ(set.ArchiveCount(), 2);
    EXPECT_EQ(*set.GetArchiveName(2), "copy.TQBak");
}

TEST_F(ArchiveSetTest, TargetWithFewerBackupsLiesInTheNewestArchives) {
    SetBuilder builder(temp.path(), "Job");
    builder.AddTarget("Data", "/data");
    builder.AddTarget("Late", "/late");
    builder.Run(Day(1), {{"Data", "", "(a@1:1)"}});
    builder.Run(Day(2), {{"Data", "", "(b@1:1)"}});
    const std::string path = builder.Run(Day(3), {{"Data", "", ""}, {"Late", "", "(x@1:2)[sub(y@1:3)]"}});

    ASSERT_TRUE(set.OpenSet(path));
    ASSERT_EQ(set.TargetCount(), 2);
    const BackupTarget& late = set.GetTarget(1);
    EXPECT_EQ(late.backupCount, 1);
    EXPECT_EQ(test::Describe(late.addedTrees[0].get()), "#3(x@1:2#3)[sub#3(y@1:3#3)]");
    // Data had three backups: its first tree stays archive 1.
    EXPECT_EQ(set.GetTarget(0).addedTrees[0]->archiveNumber, 1);
    EXPECT_EQ(set.DateCount(), 3);
}

TEST_F(ArchiveSetTest, DatesComeFromTheLastTargetWithTheMostBackups) {
    const std::string path = temp / "Set3.TQBak";
    test::WriteArchive(path, {
        {"A.tq", test::HistoryBytes("/a", std::vector<test::Record>{{Day(1), "", "(x@1:1)"}, {Day(2), "", ""}, {Day(3), "", ""}})},
        {"B.tq", test::HistoryBytes("/b", std::vector<test::Record>{{Day(1, 5), "", "(y@1:1)"}, {Day(2, 5), "", ""}, {Day(3, 5), "", ""}})},
        {"C.tq", test::HistoryBytes("/c", std::vector<test::Record>{{Day(3, 9), "", "(z@1:1)"}})},
        {"ToDirs.tq", test::ToDirsBytes(2, {"A", "B", "C"}), 0},
    });
    ASSERT_TRUE(set.OpenSet(path));
    EXPECT_EQ(set.GetBackupDates(), (std::vector<std::uint64_t>{Day(1, 5), Day(2, 5), Day(3, 5)}));
}

TEST_F(ArchiveSetTest, ToDirsWithoutTargetsOpensAnEmptySet) {
    const std::string path = temp / "Empty.TQBak";
    test::WriteArchive(path, {{"ToDirs.tq", test::ToDirsBytes(0, {}), 0}});
    ASSERT_TRUE(set.OpenSet(path));
    EXPECT_EQ(set.TargetCount(), 0);
    EXPECT_EQ(set.DateCount(), 0);
    set.SelectDate(0);  // no date: nothing happens
    EXPECT_EQ(set.GetTargetTree(0), nullptr);
}

TEST_F(ArchiveSetTest, FailedOpenLeavesNoSetOpenAndNoArchiveOpen) {
    SetBuilder builder(temp.path(), "Job");
    builder.AddTarget("Data", "/data");
    const std::string good = builder.Run(Day(1), {{"Data", "", "(a@1:1)"}});
    ASSERT_TRUE(set.OpenSet(good));
    set.SelectDate(0);
    ASSERT_NE(set.GetTargetTree(0), nullptr);

    const int descriptors = test::OpenDescriptorCount();
    test::WriteFile(temp / "junk.TQBak", "this is not a zip archive");
    EXPECT_FALSE(set.OpenSet(temp / "junk.TQBak"));
    EXPECT_FALSE(set.IsOpen());
    EXPECT_EQ(set.TargetCount(), 0);
    EXPECT_EQ(set.DateCount(), 0);
    EXPECT_EQ(set.ArchiveBaseName(), "");
    EXPECT_EQ(set.GetArchiveName(1), nullptr);
    EXPECT_EQ(set.GetTargetTree(0), nullptr);
    EXPECT_FALSE(set.OpenSet(temp / "missing.TQBak"));
    EXPECT_EQ(test::OpenDescriptorCount(), descriptors);
}

TEST_F(ArchiveSetTest, BookkeepingNamesIgnoreCaseButPreferTheExactOne) {
    const std::string path = temp / "Case.TQBak";
    test::WriteArchive(path, {
        {"data.TQ", test::HistoryBytes("/d", std::vector<test::Record>{{Day(1), "", "(a@1:1)"}})},
        {"todirs.TQ", test::ToDirsBytes(0, {"Data"}), 0},
    });
    ASSERT_TRUE(set.OpenSet(path));
    EXPECT_EQ(set.GetSourceFolder(0), "/d");
}

TEST_F(ArchiveSetTest, NewestArchiveOfTheFolderIsOpened) {
    SetBuilder older(temp.path(), "Old");
    older.AddTarget("Data", "/old");
    const std::string oldPath = older.Run(Day(1), {{"Data", "", "(a@1:1)"}});
    SetBuilder newer(temp.path(), "New");
    newer.AddTarget("Data", "/new");
    const std::string newPath = newer.Run(Day(1), {{"Data", "", "(a@1:1)"}});
    test::WriteFile(temp / "notes.txt", "x");

    test::SetMtime(oldPath, 2000);
    test::SetMtime(newPath, 1000);
    bool opened = false;
    ASSERT_TRUE(set.OpenNewestArchive(temp.path(), &opened));
    EXPECT_TRUE(opened);
    EXPECT_EQ(set.GetSourceFolder(0), "/old");

    // Equal times: the first in name order.
    test::SetMtime(oldPath, 1000);
    ASSERT_TRUE(set.OpenNewestArchive(temp.path(), &opened));
    EXPECT_EQ(set.GetSourceFolder(0), "/new");

    test::TempFolder empty;
    EXPECT_FALSE(set.OpenNewestArchive(empty.path(), &opened));
    EXPECT_FALSE(opened);
}

}  // namespace
}  // namespace halvex
