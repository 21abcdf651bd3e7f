// SPDX-License-Identifier: GPL-3.0-or-later
// The File Browser's and the File Search page's rules that need no window: which rows a folder
// lists, where a selection goes, the status texts, the log pager and the search's folder paths.
#include <gtest/gtest.h>

#include "restore/archive_set.h"
#include "restore/browser_rows.h"
#include "restore/page_texts.h"
#include "restore/search_results.h"
#include "tests/common/file_tree_test_util.h"
#include "tests/restore/set_builder.h"
#include "tests/support/temp_folder.h"

namespace halvex {
namespace {

using test::Day;

TEST(PageTextsTest, StatusTextsAndPager) {
    struct Count {
        int selected, rows;
        bool up;
        const char* text;
    };
    for (const Count& c : std::initializer_list<Count>{{0, 6, true, "5 object(s)"},  // 3 files, "<..>", 2 folders
                                                        {0, 3, false, "3 object(s)"},  // the targets of the set
                                                        {2, 6, true, "2 object(s) selected"},
                                                        {0, 1, true, "0 object(s)"},  // only "<..>"
                                                        {0, 0, false, ""}})
        EXPECT_EQ(BrowserCountText(c.selected, c.rows, c.up), c.text) << c.selected << " " << c.rows;
    EXPECT_EQ(SearchCountText(0), "");
    EXPECT_EQ(SearchCountText(12), "12 object(s)");
    EXPECT_EQ(SearchingText(499), "Searching");
    EXPECT_EQ(SearchingText(1500), "Searching...");
    EXPECT_EQ(SearchingText(2000), "Searching");
    EXPECT_EQ(FormatListDate(Day(1, 3723)), "Jan-02 2023 13:02:03");

    struct Page {
        int index, count;
        bool back, forward;
        const char* text;
    };
    for (const Page& p : std::initializer_list<Page>{{0, 5, false, true, "Archive: 1"},
                                                     {2, 5, true, true, "Archive: 3"},
                                                     {4, 5, true, false, "Archive: 5"},
                                                     {0, 1, false, false, "Archive: 1"},
                                                     {0, 0, false, false, "Archive: 1"}}) {
        const LogPager pager{p.index, p.count};
        EXPECT_EQ(pager.CanGoBack(), p.back) << p.index << "/" << p.count;
        EXPECT_EQ(pager.CanGoForward(), p.forward) << p.index << "/" << p.count;
        EXPECT_EQ(pager.Text(), p.text);
    }
}

class BrowserRowsTest : public ::testing::Test {
protected:
    void SetUp() override {
        builder.AddTarget("Data", "/home/me/data");
        builder.AddTarget("Late", "/home/me/late/");
        builder.Run(Day(1), {{"Data", "", "(a.txt@1:10,b.doc@1:20)[one(x@1:1)[deep(y@1:2)] two(z@1:3)]"}});
        builder.Run(Day(2), {{"Data", "", ""}, {"Late", "", "(l@2:4)"}});
        ASSERT_TRUE(set.OpenSet(builder.ArchivePath(2)));
    }

    test::TempFolder temp;
    test::SetBuilder builder{temp.path(), "Job"};
    ArchiveSet set;
};

TEST_F(BrowserRowsTest, FilesThenUpThenFoldersAndThePlacesPaths) {
    set.SelectDate(0);
    // Late has no backup yet at the first date: the set lists Data alone.
    const std::vector<BrowserRow> targets = TargetRows(set);
    ASSERT_EQ(targets.size(), 1u);
    EXPECT_EQ(targets[0].kind, BrowserRowKind::Target);
    EXPECT_EQ(targets[0].Size(), 36u);

    const std::vector<BrowserRow> rows = FolderRows(*set.GetTargetTree(0));
    std::string order;
    for (const BrowserRow& row : rows) {
        order += row.file != nullptr ? row.file->name : row.folder != nullptr ? row.folder->name : "<..>";
        order += row.HasItem() ? " " : "! ";
    }
    EXPECT_EQ(order, "b.doc a.txt <..>! one two ");

    const BrowserPlace deep{0, {"one", "deep"}};
    EXPECT_EQ(DefaultRestoreTo(set, deep), "/home/me/data/one/deep");
    EXPECT_EQ(PlaceEntryPath(set, deep), "Data\\one\\deep");
    EXPECT_EQ(DefaultRestoreTo(set, BrowserPlace{}), DefaultAlternateFolder());
    EXPECT_EQ(PlaceEntryPath(set, BrowserPlace{}), "");

    // A set made on Windows names no folder of this system: the user picks one.
    test::TempFolder other;
    test::SetBuilder windows(other.path(), "Win");
    windows.AddTarget("Data", "C:\\data");
    ArchiveSet windowsSet;
    ASSERT_TRUE(windowsSet.OpenSet(windows.Run(Day(1), {{"Data", "", "[sub(x@1:1)]"}})));
    windowsSet.SelectDate(0);
    EXPECT_EQ(DefaultRestoreTo(windowsSet, BrowserPlace{0, {"sub"}}), "");

    // "<..>" is no part of a selection; files and folders keep the rows' order.
    const CatalogSelection selection = BrowserSelection(set, BrowserPlace{0, {}}, {rows[3], rows[2], rows[0], rows[4]});
    EXPECT_EQ(selection.sourcePath, "Data");
    ASSERT_EQ(selection.folders.size(), 2u);
    EXPECT_STREQ(selection.folders[0]->name, "one");
    EXPECT_STREQ(selection.folders[1]->name, "two");
    ASSERT_EQ(selection.files.size(), 1u);
    EXPECT_STREQ(selection.files[0]->name, "b.doc");

    set.SelectDate(1);
    EXPECT_EQ(TargetRows(set).size(), 2u);
    EXPECT_EQ(DefaultRestoreTo(set, BrowserPlace{1, {"sub"}}), "/home/me/late/sub");
}

TEST(SearchResultsTest, FolderPathsAreKeptOncePerRunOfHits) {
    test::OwnedTree tree(test::Tree("(a,b)"));
    SearchResults results;
    results.Add(tree.head->files, "Data\\one\\");
    results.Add(tree.head->files->next, "Data\\one\\");
    results.Add(tree.head->files, "Data\\");
    results.Add(tree.head->files, "Data\\one\\");
    ASSERT_EQ(results.Size(), 4u);
    EXPECT_EQ(results.FolderPath(results[0]), "Data\\one");
    EXPECT_EQ(results[0].folder, results[1].folder);
    EXPECT_EQ(results.FolderPath(results[2]), "Data");
    EXPECT_EQ(results.FolderPath(results[3]), "Data\\one");
    results.Clear();
    EXPECT_TRUE(results.Empty());
}

}  // namespace
}  // namespace halvex
