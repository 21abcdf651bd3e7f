// SPDX-License-Identifier: GPL-3.0-or-later
// Whole runs under faults that used to destroy or hide backed-up data: names of other sets,
// a lost or damaged store, a source that holds the backup's own files, and source files that
// change while they are copied.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "backup/kill_point_for_tests.h"
#include "common/archive_naming.h"
#include "platform/file_attributes.h"
#include "platform/file_operations.h"
#include "platform/folder_lock.h"
#include "tests/backup/run_fixture.h"

using namespace halvex;
using namespace halvex::backuptest;
using halvex::test::ReadFile;
using halvex::test::WriteFile;

namespace {

// Sets the test-point hook for one scope.
class PointHook {
public:
    explicit PointHook(std::function<void(const char*)> hook) { SetTestPointHook(std::move(hook)); }
    ~PointHook() { SetTestPointHook({}); }
};

class RunSafetyTest : public RunFixture {
protected:
    // The program folder as a fresh one, with this job file.
    void FreshProgram(std::initializer_list<std::string> ini) {
        test::RemoveTree(program);
        test::MakeFolders(program);
        Ini(ini);
    }
};

}  // namespace

TEST_F(RunSafetyTest, ArchiveNamesOfOthersAreNeverTakenOver) {
    const std::string shared = dir / "shared";
    struct Case {
        const char* what;
        // Acts before (or, through the view, during) the second run; answers the file that
        // must stay as it is.
        std::function<std::string(ScriptedBackupView&)> setUp;
        std::string message;
    };
    std::unique_ptr<platform::FolderLock> otherRun;
    const std::string taken = "Error: The archive name '" + shared +
                              "/Job12.TQBak' is taken by a file this backup did not write, skipping Job 'Job1'.";
    const Case cases[] = {
        // Another program folder's job "Job12" keeps its archives here too: its archive 1 has
        // the name of Job1's archive 2.
        {"another set's archive",
         [&](ScriptedBackupView&) {
             WriteFile(shared + "/Job12.TQBak", ReadFile(shared + "/Job1.TQBak"));
             return shared + "/Job12.TQBak";
         },
         taken},
        // The name is taken while the archive is being written.
        {"taken during the run",
         [&](ScriptedBackupView& view) {
             view.onCall = [&](const std::string& call) {
                 if (call.rfind("fit Data/", 0) == 0 && !platform::PathExists(shared + "/Job12.TQBak"))
                     WriteFile(shared + "/Job12.TQBak", ReadFile(shared + "/Job1.TQBak"));
             };
             return shared + "/Job12.TQBak";
         },
         taken},
        // Another run is making archives in the folder.
        {"folder locked by another run",
         [&](ScriptedBackupView&) {
             otherRun = std::make_unique<platform::FolderLock>();
             EXPECT_TRUE(otherRun->TryLock(shared));
             return shared + "/Job1.TQBak";
         },
         "Error: Another backup is writing archives in '" + shared + "', skipping Job 'Job1'."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::RemoveTree(shared);
        test::RemoveTree(dir / "src");
        FreshProgram({"[Job1]", "dir:\"" + (dir / "src") + "\"", "to:\"Data\"", "zip:\"" + shared + "\""});
        Put("src/a.txt", "a");
        ASSERT_EQ(Run(), BackupEngine::RunOutcome::Succeeded);
        const std::string store = ReadFile(program + "/FileLists.tq");
        Put("src/b.txt", "b");
        ScriptedBackupView view;
        const std::string first = ReadFile(shared + "/Job1.TQBak");  // also what the others are
        const std::string kept = c.setUp(view);
        ASSERT_EQ(Run(view), BackupEngine::RunOutcome::Succeeded);
        otherRun.reset();
        EXPECT_EQ(view.MessageLines(), (std::vector<std::string>{c.message, "Done: Backup Successful!"}));
        EXPECT_EQ(engine->SkippedEntries(), (std::vector<std::string>{"Job not backed up: Job1"}));
        EXPECT_EQ(ReadFile(kept), first);
        EXPECT_FALSE(platform::PathExists(shared + "/Job12.TQBak.partial"));
        EXPECT_EQ(ReadFile(program + "/FileLists.tq"), store);
    }
}

TEST_F(RunSafetyTest, StoreThatKnowsTooLittleIsRebuiltFromTheNewestArchive) {
    struct Case {
        const char* what;
        int runsBefore;
        std::function<void()> damage;
        std::string keptAside;  // what FileLists.tq.damaged-1 must hold ("": no such file)
    };
    const Case cases[] = {
        {"store and its copy lost", 2,
         [&] {
             platform::DeleteFile(program + "/FileLists.tq");
             platform::DeleteFile(program + "/FileLists.bak");
         },
         ""},
        {"store damaged", 2, [&] { WriteFile(program + "/FileLists.tq", "no zip archive"); }, "no zip archive"},
        {"store replaced by its one-run-old copy", 2,
         [&] { ASSERT_TRUE(platform::CopyFileReplace(program + "/FileLists.bak", program + "/FileLists.tq")); }, ""},
        // The first run was killed after its archive was in place, before the store was written.
        {"first run killed after its archive", 1, [&] { platform::DeleteFile(program + "/FileLists.tq"); }, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::RemoveTree(dir / "src");
        FreshProgram({"[Job]", "dir:\"" + (dir / "src") + "\"", "to:\"Data\""});
        std::vector<std::string> archives;
        for (int run = 1; run <= c.runsBefore; ++run) {
            Put(std::string("src/f").append(std::to_string(run)).append(".txt"), "v");
            ASSERT_EQ(Run(), BackupEngine::RunOutcome::Succeeded);
            archives.push_back(ReadFile(program + "/" + MakeArchiveFileName("Job", run)));
        }
        c.damage();
        Put("src/new.txt", "n");
        ScriptedBackupView view;
        ASSERT_EQ(Run(view), BackupEngine::RunOutcome::Succeeded);
        const std::string newest = MakeArchiveFileName("Job", c.runsBefore);
        EXPECT_EQ(view.MessageLines(),
                  (std::vector<std::string>{"Halvex Backup: FileLists.tq had no record of the archive '" + newest +
                                                "'. The file lists of job 'Job' have been rebuilt from it.",
                                            "Done: Backup Successful!"}));
        EXPECT_TRUE(engine->SkippedEntries().empty());
        // Every archive as it was; the run went on at the next number with only the new file.
        for (int run = 1; run <= c.runsBefore; ++run)
            EXPECT_EQ(ReadFile(program + "/" + MakeArchiveFileName("Job", run)), archives[run - 1]) << run;
        const int next = c.runsBefore + 1;
        const auto entries = ReadArchive(program + "/" + MakeArchiveFileName("Job", next));
        const auto records = HistoryRecords(FindEntry(entries, "Data.tq")->data);
        ASSERT_EQ(records.size(), static_cast<std::size_t>(next));
        EXPECT_EQ(records.back().added, (std::vector<std::string>{"new.txt"}));
        EXPECT_EQ(StoreEntry("Job\\ArchNum.tq"), Bytes4(static_cast<std::uint32_t>(next)));
        EXPECT_EQ(StoreEntry("Job\\Data.tq"), FindEntry(entries, "Data.tq")->data);
        EXPECT_FALSE(platform::PathExists(program + "/" + MakeArchiveFileName("Job", next + 1)));
        // A damaged store is kept aside, never truncated.
        if (c.keptAside.empty()) {
            EXPECT_FALSE(platform::PathExists(program + "/FileLists.tq.damaged-1"));
        } else {
            EXPECT_EQ(ReadFile(program + "/FileLists.tq.damaged-1"), c.keptAside);
        }
    }
}

TEST_F(RunSafetyTest, SourcesHoldingTheBackupsOwnFilesLeaveThemOut) {
    // The archive folder inside the source, and the program folder as a second source.
    Ini({"[Job]", "dir:\"" + (dir / "src") + "\"", "to:\"Data\"", "zip:\"" + (dir / "src/archives") + "\"",
         "dir:\"" + program + "\"", "to:\"Prog\"", "[Other]", "dir:\"" + (dir / "elsewhere") + "\"", "to:\"O\"",
         "zip:\"" + (dir / "src") + "\""});
    Put("src/a.txt", "a");
    Put("elsewhere/o.txt", "o");
    ASSERT_EQ(Run(), BackupEngine::RunOutcome::Succeeded);
    ASSERT_TRUE(platform::PathExists(dir / "src/Other.TQBak"));
    WriteFile(dir / "src/archives/Job2.TQBak.partial", "left by a killed run");
    Put("src/b.txt", "b");
    ASSERT_EQ(Run({"Job"}), BackupEngine::RunOutcome::Succeeded);
    std::vector<std::string> names = EntryNames(dir / "src/archives/Job2.TQBak");
    EXPECT_EQ(names, (std::vector<std::string>{"Data\\", "Data\\b.txt", "Data\\archives\\", "Data.tq", "Prog.tq",
                                               "backup.ini", "ToDirs.tq", "tqbackup.log"}));
    EXPECT_TRUE(engine->SkippedEntries().empty());
    std::vector<std::string> notices = engine->Notices();
    const std::string own = "Left out (The backup's own file): ";
    std::vector<std::string> expected;
    for (const std::string& path : {dir / "src/Other.TQBak", dir / "src/archives/Job.TQBak",
                                    dir / "src/archives/Job2.TQBak.partial", program + "/FileLists.bak",
                                    program + "/FileLists.new", program + "/FileLists.tq", program + "/backups.log"})
        expected.push_back(own + path);
    std::sort(notices.begin(), notices.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(notices, expected);
    const std::string log = FindEntry(ReadArchive(dir / "src/archives/Job2.TQBak"), "tqbackup.log")->data;
    EXPECT_NE(log.find(own + (dir / "src/archives/Job.TQBak")), std::string::npos);
}

TEST_F(RunSafetyTest, FileThatShrinksWhileCopiedIsSkippedAlone) {
    Ini({"[Job]", "dir:\"" + (dir / "src") + "\"", "to:\"Data\""});
    Put("src/big.bin", std::string(2 * CopyChunkSize + 5000, 'b'));  // more than one chunk
    Put("src/small.txt", "s");
    bool truncated = false;
    PointHook hook([&](const char* point) {
        if (std::string(point) == "chunk-written" && !truncated) {
            truncated = true;
            ASSERT_EQ(truncate((dir / "src/big.bin").c_str(), 1000), 0);  // a log rotated under the run
        }
    });
    ASSERT_EQ(Run(), BackupEngine::RunOutcome::Succeeded);
    EXPECT_EQ(engine->SkippedEntries(),
              (std::vector<std::string>{"Skipped File (Shrank while being copied): " + (dir / "src/big.bin")}));
    const auto entries = ReadArchive(program + "/Job.TQBak");
    EXPECT_EQ(FindEntry(entries, "Data\\big.bin"), nullptr);
    EXPECT_EQ(FindEntry(entries, "Data\\small.txt")->data, "s");
    EXPECT_EQ(HistoryRecords(FindEntry(entries, "Data.tq")->data)[0].added, (std::vector<std::string>{"small.txt"}));
    const std::string log = FindEntry(entries, "tqbackup.log")->data;
    EXPECT_NE(log.find("Skipped File (Shrank while being copied): " + (dir / "src/big.bin")), std::string::npos);
    // The next run stores it.
    ASSERT_EQ(Run(), BackupEngine::RunOutcome::Succeeded);
    EXPECT_EQ(FindEntry(ReadArchive(program + "/Job2.TQBak"), "Data\\big.bin")->data, std::string(1000, 'b'));
}
