// SPDX-License-Identifier: GPL-3.0-or-later
// The catalog: trees at a date, the search and the backup logs.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/process.h"
#include "restore/archive_set.h"
#include "restore/file_versions.h"
#include "tests/common/file_tree_test_util.h"
#include "tests/restore/scripted_restore_ui.h"
#include "tests/restore/set_builder.h"
#include "tests/support/temp_folder.h"

namespace halvex {
namespace {

using test::Day;
using test::SetBuilder;

// The file at `path` ("sub\name") below `folder`, or null.
const FileTreeFile* FindFile(const FileTreeNode* folder, std::string path) {
    for (std::size_t slash; folder != nullptr && (slash = path.find('\\')) != std::string::npos;) {
        const std::string name = path.substr(0, slash);
        path.erase(0, slash + 1);
        const FileTreeNode* sub = folder->firstChild;
        while (sub != nullptr && name != sub->name) sub = sub->nextSibling;
        folder = sub;
    }
    if (folder == nullptr) return nullptr;
    for (const FileTreeFile* file = folder->files; file != nullptr; file = file->next)
        if (path == file->name) return file;
    return nullptr;
}

class CatalogTest : public ::testing::Test {
protected:
    // Opens the builder's last archive and selects date `index`.
    void OpenAt(int index) {
        ASSERT_TRUE(set.OpenSet(builder.ArchivePath(builder.ArchiveCount())));
        set.SelectDate(index);
    }
    std::string TreeText(int target = 0) { return test::Describe(set.GetTargetTree(target)); }

    test::TempFolder temp;
    SetBuilder builder{temp.path(), "Job"};
    ArchiveSet set;
};

TEST_F(CatalogTest, EachFileCarriesTheNewestArchiveUpToTheDate) {
    builder.AddTarget("Data", "/data");
    builder.Run(Day(1), {{"Data", "", "(a@1:10)[sub(b@1:5)]"}});
    builder.Run(Day(2), {{"Data", "", "(c@2:1)"}});
    builder.Run(Day(3), {{"Data", "", "(a@3:11)"}});

    OpenAt(2);
    EXPECT_EQ(set.CurrentArchiveIndex(), 2);
    EXPECT_EQ(set.CurrentDateIndex(), 2);
    EXPECT_EQ(TreeText(), "Data#3(a@3:11#3,c@2:1#2)[sub#1(b@1:5#1)]");
    EXPECT_EQ(set.GetTargetTree(0)->totalSize, 17u);
    EXPECT_EQ(set.GetTargetTree(0)->firstChild->totalSize, 5u);

    set.SelectDate(1);
    EXPECT_EQ(set.CurrentArchiveIndex(), 1);
    EXPECT_EQ(TreeText(), "Data#2(a@1:10#1,c@2:1#2)[sub#1(b@1:5#1)]");
    // Going back to the newest date rebuilds the same tree: the history is untouched.
    set.SelectDate(2);
    EXPECT_EQ(TreeText(), "Data#3(a@3:11#3,c@2:1#2)[sub#1(b@1:5#1)]");
    // An index outside the date list changes nothing.
    set.SelectDate(3);
    set.SelectDate(-1);
    EXPECT_EQ(set.CurrentDateIndex(), 2);
}

// A reader of one date alone gets the trees SelectDate builds, removals, folder leaves and
// archive numbers included, and no other date afterwards.
TEST_F(CatalogTest, OnlyDateTakesTheHistoriesIntoTheSameTrees) {
    builder.AddTarget("Data", "/data");
    builder.Run(Day(1), {{"Data", "", "(a@1:1,b@1:2)[docs(x@1:1)[deep(y@1:1)] keep(z@1:1)]"}});
    builder.Run(Day(2), {{"Data", "(a@1:1)[docs]", "(c@2:3)"}});
    builder.Run(Day(3), {{"Data", "", "(a@3:4)[docs(x@3:2)]"}});
    for (int date = 0; date < 3; ++date) {
        SCOPED_TRACE(date);
        OpenAt(date);
        const std::string expected = TreeText();
        ArchiveSet only;
        ASSERT_TRUE(only.OpenSet(builder.ArchivePath(builder.ArchiveCount())));
        only.SelectOnlyDate(date);
        EXPECT_EQ(test::Describe(only.GetTargetTree(0)), expected);
        EXPECT_EQ(only.GetTargetTree(0)->totalSize, set.GetTargetTree(0)->totalSize);
        only.SelectDate(date == 0 ? 2 : 0);
        EXPECT_EQ(test::Describe(only.GetTargetTree(0)), expected);
    }
}

// The window's way: each shown date is built from the kept history bytes, and a search of every
// backup or a file's versions parse the histories' trees from them, a late-joining target's
// archive numbers included; the next shown date drops those trees again.
TEST_F(CatalogTest, ShownDatesComeBackFromTheKeptHistories) {
    builder.AddTarget("Data", "/data");
    builder.AddTarget("Late", "/late");
    builder.Run(Day(1), {{"Data", "", "(a@1:1,b@1:2)[docs(x@1:1)[deep(y@1:1)] keep(z@1:1)]"}});
    builder.Run(Day(2), {{"Data", "(a@1:1)[docs]", "(c@2:3)"}, {"Late", "", "(m@2:1)"}});
    builder.Run(Day(3), {{"Data", "", "(a@3:4)[docs(x@3:2)]"}, {"Late", "", "(m@3:2)"}});
    ASSERT_TRUE(set.OpenSet(builder.ArchivePath(builder.ArchiveCount())));
    ArchiveSet shown;
    ASSERT_TRUE(shown.OpenSetForOneDate(builder.ArchivePath(builder.ArchiveCount())));
    const auto hits = [](ArchiveSet& s) {
        s.Search("*", nullptr, true, [](void*, const FileTreeFile*, const char*, void*) { return SearchStep::GoOn; },
                 nullptr);
        return s.SearchHitCount();
    };
    const auto versions = [](ArchiveSet& s) {
        std::string error, text;
        for (const FileVersion& v : ListFileVersions(s, "Data\\a", error))
            text += std::to_string(v.archiveNumber) + ":" + std::to_string(v.lastWriteTime) + " ";
        return text;
    };
    for (const int date : {2, 0, 1, 2, 0}) {
        SCOPED_TRACE(date);
        set.SelectDate(date);
        shown.ShowDate(date);
        EXPECT_EQ(shown.CurrentDateIndex(), date);
        for (int target = 0; target < 2; ++target)
            EXPECT_EQ(test::Describe(shown.GetTargetTree(target)), TreeText(target));
        if (date == 1) {
            EXPECT_EQ(hits(shown), hits(set));
        }
        if (date == 0) {
            EXPECT_EQ(versions(shown), versions(set));
        }
    }
    EXPECT_NE(versions(set), "");
}

// The reads that build no tree up front: the one-date read replays the kept history bytes into
// the trees the full read builds (removals, folder leaves, and the archive numbers of a target
// that joined the set later included), and the dates-only read gives the same dates and
// targets with no tree at any date.
TEST_F(CatalogTest, ReadsWithoutTreesUpFrontAgreeWithTheFullRead) {
    builder.AddTarget("Data", "/data");
    builder.Run(Day(1), {{"Data", "", "(a@1:1,b@1:2)[docs(x@1:1)[deep(y@1:1)] keep(z@1:1)]"}});
    builder.AddTarget("Late", "/late");
    builder.Run(Day(2), {{"Data", "(a@1:1)[docs]", "(c@2:3)"}, {"Late", "", "(l@2:1)[in(m@2:2)]"}});
    builder.Run(Day(3), {{"Data", "", "(a@3:4)[docs(x@3:2)]"}, {"Late", "(l@2:1)", "(n@3:5)"}});
    const std::string last = builder.ArchivePath(builder.ArchiveCount());
    for (int date = 0; date < 3; ++date) {
        SCOPED_TRACE(date);
        OpenAt(date);
        ArchiveSet oneDate;
        ASSERT_TRUE(oneDate.OpenSetForOneDate(last));
        oneDate.SelectOnlyDate(date);
        for (int t = 0; t < 2; ++t) {
            EXPECT_EQ(test::Describe(oneDate.GetTargetTree(t)), TreeText(t)) << t;
            if (set.GetTargetTree(t) != nullptr) {
                EXPECT_EQ(oneDate.GetTargetTree(t)->totalSize, set.GetTargetTree(t)->totalSize) << t;
            }
        }
        oneDate.SelectDate(date == 0 ? 2 : 0);  // the set has no other date to give
        EXPECT_EQ(test::Describe(oneDate.GetTargetTree(0)), TreeText(0));
    }
    ArchiveSet datesOnly;
    ASSERT_TRUE(datesOnly.OpenSetDatesOnly(last));
    EXPECT_EQ(datesOnly.GetBackupDates(), set.GetBackupDates());
    EXPECT_EQ(datesOnly.TargetCount(), 2);
    EXPECT_EQ(datesOnly.GetSourceFolder(1), "/late");
    EXPECT_EQ(datesOnly.GetTarget(1).backupCount, 2);
    datesOnly.SelectDate(2);
    EXPECT_EQ(datesOnly.GetTargetTree(0), nullptr);
}

TEST_F(CatalogTest, RemovedFilesVanishAndComeBackWithTheirNewArchive) {
    builder.AddTarget("Data", "/data");
    builder.Run(Day(1), {{"Data", "", "(a@1:1,b@1:2)"}});
    builder.Run(Day(2), {{"Data", "(a@1:1)", ""}});
    builder.Run(Day(3), {{"Data", "", "(a@3:4)"}});

    OpenAt(1);
    EXPECT_EQ(FindFile(set.GetTargetTree(0), "a"), nullptr);
    ASSERT_NE(FindFile(set.GetTargetTree(0), "b"), nullptr);
    set.SelectDate(2);
    const FileTreeFile* a = FindFile(set.GetTargetTree(0), "a");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->archiveNumber, 3);
    EXPECT_EQ(a->lastWriteTime, 3u);
}

TEST_F(CatalogTest, RemovedFolderLeafTakesItsWholeContentAlong) {
    builder.AddTarget("Data", "/data");
    builder.Run(Day(1), {{"Data", "", "(top@1:1)[docs(x@1:1)[deep(y@1:1)] keep(z@1:1)]"}});
    builder.Run(Day(2), {{"Data", "[docs]", ""}});
    OpenAt(1);
    EXPECT_EQ(TreeText(), "Data#2(top@1:1#1)[keep#1(z@1:1#1)]");
}

TEST_F(CatalogTest, FolderRenumberedByARemovalOnlyBackup) {
    builder.AddTarget("Data", "/data");
    builder.Run(Day(1), {{"Data", "", "[sub(a@1:1,b@1:1)]"}});
    builder.Run(Day(2), {{"Data", "[sub(a@1:1)]", ""}});
    OpenAt(1);
    EXPECT_EQ(TreeText(), "Data#2[sub#2(b@1:1#1)]");
}

TEST_F(CatalogTest, NamesDifferingInCaseAreTwoFiles) {
    builder.AddTarget("Data", "/data");
    builder.Run(Day(1), {{"Data", "", "(Makefile@1:3,makefile@1:4)[Docs(a@1:1) docs(a@1:2)]"}});
    builder.Run(Day(2), {{"Data", "(makefile@1:4)[docs]", ""}});
    OpenAt(0);
    ASSERT_NE(FindFile(set.GetTargetTree(0), "Makefile"), nullptr);
    ASSERT_NE(FindFile(set.GetTargetTree(0), "makefile"), nullptr);
    EXPECT_EQ(FindFile(set.GetTargetTree(0), "docs\\a")->size, 2u);
    set.SelectDate(1);
    EXPECT_EQ(TreeText(), "Data#2(Makefile@1:3#1)[Docs#1(a@1:1#1)]");
}

TEST_F(CatalogTest, BackupsOfADateAreChosenByArchiveNumberNotByTime) {
    // The clock was set back between the two runs: archive 2's backups carry earlier times
    // than archive 1's, and one a time just after the date's.
    const std::string path = temp / "Set2.TQBak";
    test::WriteArchive(path, {
        {"A.tq", test::HistoryBytes("/a", std::vector<test::Record>{{Day(5), "", "(a@1:1)"}, {Day(2), "", "(b@1:1)"}})},
        {"Same.tq", test::HistoryBytes("/s", std::vector<test::Record>{{Day(2), "", "(s@1:1)"}})},
        {"Later.tq", test::HistoryBytes("/l", std::vector<test::Record>{{Day(5) + 1, "", "(l@1:1)"}})},
        {"ToDirs.tq", test::ToDirsBytes(1, {"A", "Same", "Later"}), 0},
    });
    ASSERT_TRUE(set.OpenSet(path));
    set.SelectDate(0);
    EXPECT_EQ(TreeText(0), "A#1(a@1:1#1)");
    EXPECT_EQ(set.GetTargetTree(1), nullptr);  // its only backup is in archive 2
    EXPECT_EQ(set.GetTargetTree(2), nullptr);
    set.SelectDate(1);
    EXPECT_EQ(TreeText(0), "A#2(a@1:1#1,b@1:1#2)");
    EXPECT_EQ(TreeText(1), "Same#2(s@1:1#2)");
    EXPECT_EQ(TreeText(2), "Later#2(l@1:1#2)");
}

struct Hit {
    std::string path;
    int archive;
};

SearchStep Collect(void* userData, const FileTreeFile* file, const char* folderPath, void* again) {
    EXPECT_EQ(userData, again);
    static_cast<std::vector<Hit>*>(userData)->push_back({std::string(folderPath) + file->name, file->archiveNumber});
    return SearchStep::GoOn;
}

std::vector<std::string> Paths(const std::vector<Hit>& hits) {
    std::vector<std::string> paths;
    for (const Hit& hit : hits) paths.push_back(hit.path + "#" + std::to_string(hit.archive));
    return paths;
}

class SearchTest : public CatalogTest {
protected:
    void SetUp() override {
        builder.AddTarget("Data", "/data");
        builder.AddTarget("Docs", "/docs");
        builder.Run(Day(1), {{"Data", "", "(a.txt@1:1)[sub(b.doc@1:1)[deep(c.TXT@1:1)]]"}, {"Docs", "", "(d.txt@1:1)"}});
        builder.Run(Day(2), {{"Data", "", "(a.txt@2:1)"}, {"Docs", "", ""}});
        OpenAt(1);
    }
    std::vector<std::string> Search(const char* pattern, const char* filter, bool all, bool* complete = nullptr) {
        std::vector<Hit> hits;
        const bool done = set.Search(pattern, filter, all, &Collect, &hits);
        if (complete != nullptr) *complete = done;
        EXPECT_EQ(set.SearchHitCount(), static_cast<int>(hits.size()));
        return Paths(hits);
    }
};

TEST_F(SearchTest, StarFindsEveryFileOfTheDate) {
    bool complete = false;
    EXPECT_EQ(Search("*", nullptr, false, &complete),
              (std::vector<std::string>{"Data\\a.txt#2", "Data\\sub\\b.doc#1", "Data\\sub\\deep\\c.TXT#1", "Docs\\d.txt#1"}));
    EXPECT_TRUE(complete);
    EXPECT_EQ(Search("*.txt", "", false), (std::vector<std::string>{"Data\\a.txt#2", "Data\\sub\\deep\\c.TXT#1", "Docs\\d.txt#1"}));
}

TEST_F(SearchTest, AllBackupsFindsEveryStoredVersion) {
    EXPECT_EQ(Search("a.txt", nullptr, true), (std::vector<std::string>{"Data\\a.txt#1", "Data\\a.txt#2"}));
}

TEST_F(SearchTest, FolderFilterDoesNotStopTheDescent) {
    EXPECT_EQ(Search("*", "*\\deep\\*", false), (std::vector<std::string>{"Data\\sub\\deep\\c.TXT#1"}));
    EXPECT_EQ(Search("*", "data\\*", false),
              (std::vector<std::string>{"Data\\a.txt#2", "Data\\sub\\b.doc#1", "Data\\sub\\deep\\c.TXT#1"}));
}

TEST(LookInFilterTest, FolderTextsGiveAFilterBelowTheFolder) {
    EXPECT_EQ(LookInFilter("Docs"), "Docs\\*");
    EXPECT_EQ(LookInFilter("Docs\\"), "Docs\\*");
    EXPECT_EQ(LookInFilter("<all dirs>"), "");
}

TEST_F(SearchTest, StoppingAndMissingPattern) {
    std::vector<Hit> hits;
    auto stop = [](void* userData, const FileTreeFile*, const char*, void*) {
        ++*static_cast<int*>(userData);
        return SearchStep::Stop;
    };
    int calls = 0;
    EXPECT_FALSE(set.Search("*", nullptr, false, stop, &calls));
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(set.SearchHitCount(), 1);
    EXPECT_FALSE(set.Search(nullptr, nullptr, false, &Collect, &hits));
    EXPECT_TRUE(hits.empty());
}

TEST_F(CatalogTest, LogsComeFromTheirArchive) {
    builder.AddTarget("Data", "/data");
    builder.Run(Day(1), {{"Data", "", "(a@1:1)"}});
    builder.Run(Day(2), {{"Data", "", "(b@1:1)"}});
    OpenAt(0);
    const int descriptors = test::OpenDescriptorCount();
    const std::string* log = set.RetrieveLog(1);
    ASSERT_NE(log, nullptr);
    EXPECT_EQ(*log, "Log of archive 2\r\n");
    log = set.RetrieveLog(-1);  // the selected date's archive
    ASSERT_NE(log, nullptr);
    EXPECT_EQ(*log, "Log of archive 1\r\n");
    EXPECT_EQ(set.RetrieveLog(2), nullptr);
    EXPECT_EQ(test::OpenDescriptorCount(), descriptors);
}

TEST_F(CatalogTest, ArchiveWithoutLogGivesNothingAndStaysClosed) {
    builder.AddTarget("Data", "/data");
    builder.omit.insert("tqbackup.log");
    builder.Run(Day(1), {{"Data", "", "(a@1:1)"}});
    OpenAt(0);
    const int descriptors = test::OpenDescriptorCount();
    EXPECT_EQ(set.RetrieveLog(0), nullptr);
    EXPECT_EQ(test::OpenDescriptorCount(), descriptors);
}

TEST_F(CatalogTest, MissingArchiveOfALogIsAskedFor) {
    builder.AddTarget("Data", "/data");
    builder.Run(Day(1), {{"Data", "", "(a@1:1)"}});
    builder.Run(Day(2), {{"Data", "", "(b@1:1)"}});
    test::MakeFolders(temp / "moved");
    ASSERT_EQ(std::rename(builder.ArchivePath(1).c_str(), (temp / "moved/Job.TQBak").c_str()), 0);
    OpenAt(1);

    // Without anyone to ask, the missing archive gives no log.
    EXPECT_EQ(set.RetrieveLog(0), nullptr);

    test::ScriptedRestoreUi ui;
    set.SetUi(&ui);
    // Cancel the chooser, answer No to "abort?", then pick the moved archive.
    ui.chosenFiles = {std::nullopt, temp / "moved/Job.TQBak"};
    ui.messageAnswers = {MessageAnswer::No};
    const std::string* log = set.RetrieveLog(0);
    ASSERT_NE(log, nullptr);
    EXPECT_EQ(*log, "Log of archive 1\r\n");
    EXPECT_EQ(ui.chooserRequests, (std::vector<std::string>{"Job.TQBak", "Job.TQBak"}));
    EXPECT_EQ(ui.messages, (std::vector<std::string>{"Abort?: Are you sure you want to abort?"}));
    // Later archives are looked for beside the chosen one.
    EXPECT_EQ(set.Folder(), temp / "moved");
}

}  // namespace
}  // namespace halvex
