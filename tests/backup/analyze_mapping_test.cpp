// SPDX-License-Identifier: GPL-3.0-or-later
// Change detection of one mapping across runs: real folders, a real store, the history
// written by one run and replayed by the next.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>

#include "backup/source_scan.h"
#include "tests/backup/backup_test_support.h"
#include "tests/support/temp_folder.h"

using namespace halvex;
using namespace halvex::backuptest;
using halvex::test::MakeFolders;
using halvex::test::ReadFile;
using halvex::test::RemoveTree;
using halvex::test::SetMtime;
using halvex::test::TempFolder;
using halvex::test::WriteFile;

namespace {

constexpr std::int64_t kT0 = 1600000001;  // seconds since 1970
constexpr long kNs = 123456700;

std::uint64_t FileTimeOf(std::int64_t seconds, long ns) {
    return static_cast<std::uint64_t>(seconds + 11644473600LL) * 10000000ull + static_cast<std::uint64_t>(ns / 100);
}

class AnalyzeMappingTest : public ::testing::Test {
protected:
    void SetUp() override {
        src = dir / "src";
        program = dir / "program";
        MakeFolders(src);
        MakeFolders(program);
        mapping = {src, "Data", {}};
    }

    void Put(const std::string& relative, const std::string& content, std::int64_t seconds = kT0, long ns = kNs) {
        const std::string path = src + "/" + relative;
        MakeFolders(path.substr(0, path.rfind('/')));
        WriteFile(path, content);
        SetMtime(path, seconds, ns);
    }

    // One analysis as a run makes it (a fresh run time each time).
    MappingAnalysis Analyze(bool brandNew = false, const std::function<void(FileListStore&)>& prepare = {}) {
        FileListStore store(program);
        EXPECT_TRUE(store.OpenForRun());
        if (prepare) prepare(store);
        control.Start();
        std::uint64_t runTime = 0;
        AnalysisSettings settings{global, brandNew, runTime, [this] { ++steps; }};
        MappingAnalysis result = AnalyzeMapping(scanner, store, "Job\\Data.tq", mapping, settings, control);
        store.Abandon();
        return result;
    }

    // A completed run: the analysis saved with its change tree as the added tree.
    MappingAnalysis Commit(int number, bool brandNew = false) {
        FileListStore store(program);
        EXPECT_TRUE(store.OpenForRun());
        control.Start();
        std::uint64_t runTime = 0;
        AnalysisSettings settings{global, brandNew, runTime, {}};
        MappingAnalysis result = AnalyzeMapping(scanner, store, "Job\\Data.tq", mapping, settings, control);
        EXPECT_EQ(result.outcome, MappingAnalysis::Outcome::Done);
        const HistoryBytes added = BuildAddedPart(result.changeTree.get());
        const HistoryToSave save[] = {{"Data", result.newHistory, added}};
        store.SaveJob("Job", number, save, brandNew, platform::SystemTime{2024, 1, 0, 2, 3, 4, 6, 0});
        store.Close();
        return result;
    }

    HistoryBytes StoredHistory() {
        FileListStore store(program);
        EXPECT_TRUE(store.OpenForRun());
        HistoryBytes h;
        EXPECT_EQ(store.ReadTargetHistory("Job\\Data.tq", h), FileListStore::Read::Found);
        return h;
    }

    // The records of a history: per record the removed and added paths.
    struct Record {
        std::vector<std::string> removed, added;
    };
    static std::vector<Record> Records(const HistoryBytes& history) {
        std::vector<Record> out;
        TargetHistoryReader reader(history);
        BackupRecord r;
        while (reader.Next(r) == TargetHistoryReader::Step::Record) out.push_back({Paths(r.removed.get()), Paths(r.added.get())});
        return out;
    }

    // The removed tree of this run's (unfinished) record in a new history.
    static std::vector<std::string> RemovedOfNewRecord(const HistoryBytes& newHistory) {
        HistoryBytes h = newHistory;
        h.push_back(0);  // complete it with an empty added part
        auto records = Records(h);
        return records.empty() ? std::vector<std::string>{"<damaged>"} : records.back().removed;
    }

    TempFolder dir;
    std::string src, program;
    SourceMapping mapping;
    std::vector<FilterRule> global;
    RunControl control;
    SourceScanner scanner{control};
    int steps = 0;
};

}  // namespace

TEST_F(AnalyzeMappingTest, FirstRunFindsEverythingAndWritesOneRecord) {
    Put("a.txt", "aaa");
    Put("docs/b.txt", "bb");
    MakeFolders(src + "/empty");
    MappingAnalysis r = Analyze();
    ASSERT_EQ(r.outcome, MappingAnalysis::Outcome::Done);
    EXPECT_EQ(steps, 2);
    EXPECT_EQ(Paths(r.changeTree.get(), true),
              (std::vector<std::string>{"a.txt|3|" + std::to_string(FileTimeOf(kT0, kNs)), "docs\\",
                                        "docs\\b.txt|2|" + std::to_string(FileTimeOf(kT0, kNs)), "empty\\"}));
    EXPECT_EQ(r.changeTree->totalSize, 5u);
    // Source folder, run time, removed flag 0 and nothing else.
    ASSERT_EQ(r.newHistory.size(), src.size() + 1 + 8 + 1);
    EXPECT_EQ(std::string(r.newHistory.begin(), r.newHistory.begin() + static_cast<long>(src.size()) + 1),
              src + '\0');
    EXPECT_EQ(r.newHistory.back(), 0);

    Commit(1);
    auto records = Records(StoredHistory());
    ASSERT_EQ(records.size(), 1u);
    EXPECT_TRUE(records[0].removed.empty());
    EXPECT_EQ(records[0].added, (std::vector<std::string>{"a.txt", "docs\\", "docs\\b.txt", "empty\\"}));
}

TEST_F(AnalyzeMappingTest, SecondRunFindsOnlyTheChangedFile) {
    Put("a.txt", "aaa");
    Put("docs/b.txt", "bb");
    Put("docs/c.txt", "cc");
    Commit(1);
    EXPECT_FALSE(Analyze().changeTree);  // nothing changed: no change tree

    Put("docs/b.txt", "bbbb", kT0 + 60);
    MappingAnalysis r = Commit(2);
    EXPECT_EQ(Paths(r.changeTree.get()), (std::vector<std::string>{"docs\\", "docs\\b.txt"}));
    EXPECT_EQ(r.changeTree->totalSize, 4u);
    auto records = Records(StoredHistory());
    ASSERT_EQ(records.size(), 2u);
    EXPECT_TRUE(records[1].removed.empty());
    EXPECT_EQ(records[1].added, (std::vector<std::string>{"docs\\", "docs\\b.txt"}));
}

TEST_F(AnalyzeMappingTest, TimeToleranceAndSizeChanges) {
    Put("tolerance.txt", "t");
    Put("beyond.txt", "b");
    Put("older.txt", "o");
    Put("bigger.txt", "small");
    Commit(1);
    // Halves of the two times differ by exactly 20,000,000,000: the same time.
    Put("tolerance.txt", "t", kT0 + 4000);
    Put("beyond.txt", "b", kT0 + 4002);
    Put("older.txt", "o", kT0 - 1);
    // The size changed but the time did not: not backed up.
    Put("bigger.txt", "a good deal bigger now");
    MappingAnalysis r = Analyze();
    EXPECT_EQ(Paths(r.changeTree.get()), (std::vector<std::string>{"beyond.txt", "older.txt"}));
}

TEST_F(AnalyzeMappingTest, RenameAndDeletedFolder) {
    Put("a.txt", "a");
    Put("kept/k.txt", "k");
    Put("gone/x.txt", "x");
    Put("gone/sub/y.txt", "y");
    Commit(1);
    ASSERT_EQ(std::rename((src + "/a.txt").c_str(), (src + "/renamed.txt").c_str()), 0);
    RemoveTree(src + "/gone");
    MappingAnalysis r = Commit(2);
    EXPECT_EQ(Paths(r.changeTree.get()), (std::vector<std::string>{"renamed.txt"}));
    // The new record: a.txt removed, the folder gone as an empty leaf (no files, no sub-folders).
    EXPECT_EQ(RemovedOfNewRecord(r.newHistory), (std::vector<std::string>{"a.txt", "gone\\"}));

    // A third run replays all of it: nothing left to do.
    EXPECT_FALSE(Analyze().changeTree);
    // And a file that comes back under the old name is new again.
    Put("gone/x.txt", "x");
    EXPECT_EQ(Paths(Analyze().changeTree.get()), (std::vector<std::string>{"gone\\", "gone\\x.txt"}));
}

TEST_F(AnalyzeMappingTest, FolderDeletedBesideNoOtherFolder) {
    // The scanned parent has no sub-folder left to compare with: the folder is still recorded
    // as an empty leaf, so that the replay removes it and everything below it.
    Put("a.txt", "a");
    Put("gone/x.txt", "x");
    Put("gone/sub/y.txt", "y");
    Commit(1);
    RemoveTree(src + "/gone");
    Put("b.txt", "b");
    MappingAnalysis r = Commit(2);
    EXPECT_EQ(Paths(r.changeTree.get()), (std::vector<std::string>{"b.txt"}));
    EXPECT_EQ(RemovedOfNewRecord(r.newHistory),
              (std::vector<std::string>{"gone\\"}));
    EXPECT_FALSE(Analyze().changeTree);
    Put("gone/sub/y.txt", "y");
    EXPECT_EQ(Paths(Analyze().changeTree.get()), (std::vector<std::string>{"gone\\", "gone\\sub\\", "gone\\sub\\y.txt"}));
}

TEST_F(AnalyzeMappingTest, BrandNewRunIgnoresTheStoredHistory) {
    Put("a.txt", "a");
    Commit(1);
    Put("b.txt", "b");
    MappingAnalysis r = Commit(1, true);
    EXPECT_EQ(Paths(r.changeTree.get()), (std::vector<std::string>{"a.txt", "b.txt"}));
    EXPECT_EQ(Records(StoredHistory()).size(), 1u);
}

TEST_F(AnalyzeMappingTest, ChangedSourceFolderKeepsTheHistory) {
    Put("a.txt", "a");
    Commit(1);
    ASSERT_EQ(std::rename(src.c_str(), (dir / "moved").c_str()), 0);
    mapping.sourceFolder = dir / "moved";
    MappingAnalysis r = Commit(2);
    EXPECT_FALSE(r.changeTree);
    const HistoryBytes stored = StoredHistory();
    TargetHistoryReader reader(stored);
    EXPECT_EQ(reader.SourceFolder(), dir / "moved");
}

TEST_F(AnalyzeMappingTest, GlobalRulesActAfterTheMappingsRules) {
    Put("DIR1/keep.txt", "k");
    Put("DIR1/keep.tmp", "k");
    Put("DIR1/drop.txt", "d");
    Put("sub/deep/x.tmp", "x");
    mapping.filters = {{true, "DIR1\\*"}, {false, "DIR1\\KEEP*"}};
    global = {{true, "*.TMP"}};
    EXPECT_EQ(Paths(Analyze().changeTree.get()), (std::vector<std::string>{"DIR1\\", "DIR1\\keep.txt", "sub\\", "sub\\deep\\"}));
}

TEST_F(AnalyzeMappingTest, DamagedHistoryFailsTheMappingAndLeavesTheStore) {
    Put("a.txt", "a");
    Commit(1);
    // A history that stops inside its first record's added tree. The store leaves such a job
    // out when it opens; a job rebuilt from an archive hands its history over as it is.
    HistoryBytes broken = StoredHistory();
    broken.resize(broken.size() - 3);
    const std::string before = ReadFile(program + "/FileLists.tq");
    MappingAnalysis r = Analyze(false, [&](FileListStore& store) {
        store.SetRebuiltJob("Job", 1, {{"Data", broken}}, platform::SystemTime{2024, 1, 0, 2, 3, 4, 6, 0});
    });
    EXPECT_EQ(r.outcome, MappingAnalysis::Outcome::DamagedHistory);
    EXPECT_FALSE(r.changeTree);
    EXPECT_TRUE(r.newHistory.empty());
    EXPECT_EQ(ReadFile(program + "/FileLists.tq"), before);
}

TEST_F(AnalyzeMappingTest, HistoryPastTheMemoryAllowedFailsTheMappingAndLeavesTheStore) {
    Put("a.txt", "a");
    Commit(1);
    // 100,000 sibling folders "a" in 400 KB: some 10 MB of tree against 1 MB allowed.
    const std::string folder = src;
    HistoryBytes wide(folder.begin(), folder.end());
    wide.push_back(0);
    wide.insert(wide.end(), 8, 1);                     // run time
    for (int flag : {0, 1}) wide.push_back(flag);      // removed, added
    for (int c : {0, 0, 1}) wide.push_back(c);         // top folder, no files, sub-folders
    for (int i = 0; i < 100'000; ++i) {
        const unsigned char sibling = i + 1 < 100'000 ? 2 : 0;
        wide.insert(wide.end(), {'a', 0, 0, sibling});
    }
    wide.push_back(0);
    const std::string before = ReadFile(program + "/FileLists.tq");
    ::setenv("HALVEX_MEMORY_LIMIT", "1", 1);
    MappingAnalysis r = Analyze(false, [&](FileListStore& store) {
        store.SetRebuiltJob("Job", 1, {{"Data", wide}}, platform::SystemTime{2024, 1, 0, 2, 3, 4, 6, 0});
    });
    ::unsetenv("HALVEX_MEMORY_LIMIT");
    EXPECT_EQ(r.outcome, MappingAnalysis::Outcome::TooLargeHistory);
    EXPECT_FALSE(r.changeTree);
    EXPECT_EQ(ReadFile(program + "/FileLists.tq"), before);
    // With the machine's own allowance the same history is read (and found to be whole).
    r = Analyze(false, [&](FileListStore& store) {
        store.SetRebuiltJob("Job", 1, {{"Data", wide}}, platform::SystemTime{2024, 1, 0, 2, 3, 4, 6, 0});
    });
    EXPECT_EQ(r.outcome, MappingAnalysis::Outcome::Done);
}

TEST_F(AnalyzeMappingTest, CancelledAnalysisKeepsNothing) {
    for (char c = 'a'; c <= 't'; ++c) Put(std::string(1, c) + "/f.txt", "f");
    Commit(1);
    const std::string before = ReadFile(program + "/FileLists.tq");
    // Cancel from the progress step after the scan, and (second case) before anything.
    FileListStore store(program);
    ASSERT_TRUE(store.OpenForRun());
    control.Start();
    std::uint64_t runTime = 0;
    AnalysisSettings settings{global, false, runTime, [this] { control.Stop(); }};
    MappingAnalysis r = AnalyzeMapping(scanner, store, "Job\\Data.tq", mapping, settings, control);
    EXPECT_EQ(r.outcome, MappingAnalysis::Outcome::Cancelled);
    EXPECT_FALSE(r.changeTree);
    EXPECT_TRUE(r.newHistory.empty());
    settings.stepProgress = {};
    r = AnalyzeMapping(scanner, store, "Job\\Data.tq", mapping, settings, control);
    EXPECT_EQ(r.outcome, MappingAnalysis::Outcome::Cancelled);
    store.Abandon();
    EXPECT_EQ(ReadFile(program + "/FileLists.tq"), before);
}

TEST_F(AnalyzeMappingTest, SourceThatCannotBeListedKeepsEverythingStored) {
    Put("a.txt", "a");
    Put("d/b.txt", "b");
    Commit(1);
    RemoveTree(src);
    MappingAnalysis r = Analyze();
    ASSERT_EQ(r.outcome, MappingAnalysis::Outcome::Done);
    EXPECT_FALSE(r.changeTree);
    // Not seen is not gone: nothing is recorded as removed.
    EXPECT_EQ(RemovedOfNewRecord(r.newHistory), std::vector<std::string>{});
    EXPECT_EQ(r.notices, (std::vector<std::string>{"Skipped Directory (Could not list): " + src}));
}
