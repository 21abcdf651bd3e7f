// SPDX-License-Identifier: GPL-3.0-or-later
// Whole backup runs: phases, job dropping, the entries of each archive and their order, the
// store and backups.log, cancelling, and the progress shown.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "backup/bookkeeping.h"
#include "backup/current_state.h"
#include "backup/run_log.h"
#include "platform/file_attributes.h"
#include "platform/file_operations.h"
#include "tests/backup/run_fixture.h"

using namespace halvex;
using namespace halvex::backuptest;
using halvex::test::ReadFile;
using halvex::test::WriteFile;

namespace {

class RunBackupTest : public RunFixture {};

}  // namespace

TEST_F(RunBackupTest, ArchiveEntriesTheirOrderAndTheStore) {
    Ini({"[Job]", "dir:\"" + (dir / "first") + "\"", "to:\"First\"", "dir:\"" + (dir / "second") + "\"",
         "to:\"Second\"", "zip:\"" + (dir / "archives") + "\""});
    Put("first/a.txt", "alpha");
    Put("second/s1.txt", "s1");
    Put("second/sub/s2.txt", std::string(3000, 'x'));
    ScriptedBackupView view;
    ASSERT_EQ(Run(view), BackupEngine::RunOutcome::Succeeded);
    EXPECT_EQ(view.MessageLines(), (std::vector<std::string>{"Done: Backup Successful!"}));
    const std::string first = dir / "archives/Job.TQBak";
    EXPECT_EQ(EntryNames(first), (std::vector<std::string>{"First\\", "First\\a.txt", "First.tq", "Second\\",
                                                           "Second\\s1.txt", "Second\\sub\\", "Second\\sub\\s2.txt",
                                                           "Second.tq", "backup.ini", "ToDirs.tq", "tqbackup.log"}));
    ExpectReadersAccept(first);

    // Second run: only the second mapping changed. The first mapping's history is written
    // all the same, with an added flag 0.
    const std::string changed = "changed " + std::string(3000, 'c');
    Put("second/sub/s2.txt", changed, kSourceTime + 10);
    ASSERT_EQ(Run(), BackupEngine::RunOutcome::Succeeded);
    const std::string second = dir / "archives/Job2.TQBak";
    const auto entries = ReadArchive(second);
    std::vector<std::string> names;
    for (const auto& e : entries) names.push_back(e.name);
    EXPECT_EQ(names, (std::vector<std::string>{"First.tq", "Second\\", "Second\\sub\\", "Second\\sub\\s2.txt", "Second.tq",
                                               "backup.ini", "ToDirs.tq", "tqbackup.log"}));
    ExpectReadersAccept(second);
    // Levels: folders and ToDirs stored, files (that deflating makes smaller) and the rest
    // deflated.
    EXPECT_EQ(FindEntry(entries, "Second\\")->method, 0);
    EXPECT_TRUE(FindEntry(entries, "Second\\")->header.IsFolder());
    EXPECT_EQ(FindEntry(entries, "Second\\sub\\s2.txt")->method, 8);
    EXPECT_EQ(FindEntry(entries, "Second\\sub\\s2.txt")->data, changed);
    EXPECT_EQ(FindEntry(entries, "ToDirs.tq")->method, 0);
    EXPECT_EQ(FindEntry(entries, "ToDirs.tq")->data, Bytes4(1) + "First" + '\0' + "Second" + '\0');
    EXPECT_EQ(FindEntry(entries, "backup.ini")->data, ReadFile(program + "/backup.ini"));
    // Bookkeeping entries carry one time (the start of copying); files their own.
    const auto& history = FindEntry(entries, "First.tq")->header;
    for (const char* name : {"Second.tq", "ToDirs.tq", "tqbackup.log"}) {
        EXPECT_EQ(FindEntry(entries, name)->header.modDate, history.modDate) << name;
        EXPECT_EQ(FindEntry(entries, name)->header.modTime, history.modTime) << name;
    }
    ZipEntryHeader sourceTime;
    sourceTime.SetFileTime(platform::FileTimeFromUnixSeconds(kSourceTime + 10));
    EXPECT_EQ(FindEntry(entries, "Second\\sub\\s2.txt")->header.modTime, sourceTime.modTime);

    // The unchanged mapping's history: its one record plus a second with nothing added.
    const auto firstHistory = HistoryRecords(FindEntry(entries, "First.tq")->data);
    ASSERT_EQ(firstHistory.size(), 2u);
    EXPECT_TRUE(firstHistory[1].added.empty());
    EXPECT_EQ(FindEntry(entries, "First.tq")->data.back(), '\0');
    const auto secondHistory = HistoryRecords(FindEntry(entries, "Second.tq")->data);
    ASSERT_EQ(secondHistory.size(), 2u);
    EXPECT_EQ(secondHistory[1].added, (std::vector<std::string>{"sub\\", "sub\\s2.txt"}));
    // The store holds the same histories and the new archive number.
    EXPECT_EQ(StoreEntry("Job\\Second.tq"), FindEntry(entries, "Second.tq")->data);
    EXPECT_EQ(StoreEntry("Job\\ArchNum.tq"), Bytes4(2));
}

TEST_F(RunBackupTest, ThirdArchiveToDirs) {
    Ini({"[Job]", "dir:\"" + (dir / "hd") + "\"", "to:\"HardDrive\"", "dir:\"" + (dir / "d1") + "\"", "to:\"dir1\""});
    for (int run = 0; run < 3; ++run) {
        Put("hd/f.txt", "v", kSourceTime + run * 10);
        Put("d1/g.txt", "w");
        ASSERT_EQ(Run(), BackupEngine::RunOutcome::Succeeded);
    }
    const auto entries = ReadArchive(program + "/Job3.TQBak");
    const std::string toDirs = FindEntry(entries, "ToDirs.tq")->data;
    EXPECT_EQ(toDirs, Bytes4(2) + "HardDrive" + '\0' + "dir1" + '\0');
    EXPECT_EQ(toDirs.size(), 4u + 10 + 5);
    // A top-level file of the target dir1 is stored as dir1\ and its name (first archive).
    EXPECT_NE(FindEntry(ReadArchive(program + "/Job.TQBak"), "dir1\\g.txt"), nullptr);
}

TEST_F(RunBackupTest, RunLogAndBackupsLog) {
    Ini({"[Job]", "dir:\"" + (dir / "src") + "\"", "to:\"Data\""});
    Put("src/a.txt", "a");
    ASSERT_EQ(Run(), BackupEngine::RunOutcome::Succeeded);
    const std::string log = FindEntry(ReadArchive(program + "/Job.TQBak"), "tqbackup.log")->data;
    // " TQ Backup", 11 dashes, job, long date, empty line, then "[time] - event" lines.
    const std::string header = " TQ Backup\r\n-----------\r\nJob: Job\r\nDate: ";
    ASSERT_EQ(log.substr(0, header.size()), header);
    std::vector<std::string> events;
    std::size_t at = log.find("\r\n\r\n") + 4;
    while (at < log.size()) {
        const std::size_t end = log.find("\r\n", at);
        ASSERT_NE(end, std::string::npos) << "every line ends with CR LF";
        const std::string line = log.substr(at, end - at);
        ASSERT_EQ(line[0], '[');
        events.push_back(line.substr(line.find("] - ") + 4));
        at = end + 2;
    }
    EXPECT_EQ(events, (std::vector<std::string>{"Backup Started.", "Doing Task Data", "Backup Finished."}));
    EXPECT_EQ(ReadFile(program + "/backups.log"), log + RunLogSeparator());

    // A cancelled run adds nothing; a second completed run adds its block.
    Put("src/a.txt", "b", kSourceTime + 20);
    ScriptedBackupView cancelled;
    cancelled.onCall = [this](const std::string& call) {
        std::vector<std::string> asked;
        if (call == "text CurrentJob Job") engine->RequestCancel(Asker(asked, MessageAnswer::Yes));
    };
    ASSERT_EQ(Run(cancelled), BackupEngine::RunOutcome::Cancelled);
    EXPECT_EQ(ReadFile(program + "/backups.log"), log + RunLogSeparator());
    ASSERT_EQ(Run(), BackupEngine::RunOutcome::Succeeded);
    const std::string both = ReadFile(program + "/backups.log");
    const std::string separator = "\r\n" + std::string(62, '-') + "\r\n\r\n";
    EXPECT_EQ(both.substr(both.size() - separator.size()), separator);
    EXPECT_EQ(both.find(separator), log.size());
    EXPECT_EQ(both.find(header, log.size()), log.size() + separator.size());
}

TEST_F(RunBackupTest, JobWithoutChangesIsDroppedAfterTheAnalysis) {
    Ini({"[Quiet]", "dir:\"" + (dir / "quiet") + "\"", "to:\"Q\"", "[Busy]", "dir:\"" + (dir / "busy") + "\"",
         "to:\"B\"", "[Empty]"});
    Put("quiet/q.txt", "q");
    Put("busy/b.txt", "b");
    ASSERT_EQ(Run(), BackupEngine::RunOutcome::Succeeded);
    const std::string quietStore = StoreEntry("Quiet\\Q.tq");
    Put("busy/b.txt", "b2", kSourceTime + 30);
    ScriptedBackupView view;
    ASSERT_EQ(Run(view), BackupEngine::RunOutcome::Succeeded);
    EXPECT_FALSE(platform::PathExists(program + "/Quiet2.TQBak"));
    EXPECT_TRUE(platform::PathExists(program + "/Busy2.TQBak"));
    EXPECT_FALSE(platform::PathExists(program + "/Empty.TQBak"));  // a job without mappings takes no part
    EXPECT_EQ(StoreEntry("Quiet\\Q.tq"), quietStore);
    EXPECT_EQ(StoreEntry("Quiet\\ArchNum.tq"), Bytes4(1));
    EXPECT_EQ(StoreEntry("Busy\\ArchNum.tq"), Bytes4(2));
    EXPECT_FALSE(view.Saw("text CurrentJob Quiet"));
    EXPECT_TRUE(view.Saw("text CurrentJob Busy"));
}

TEST_F(RunBackupTest, CancelDuringTheSecondOfThreeJobs) {
    Ini({"[Alpha]", "dir:\"" + (dir / "a") + "\"", "to:\"A\"", "[Beta]", "dir:\"" + (dir / "b") + "\"", "to:\"B\"",
         "[Gamma]", "dir:\"" + (dir / "c") + "\"", "to:\"C\""});
    for (const char* d : {"a", "b", "c"}) Put(std::string(d) + "/one.txt", "1");
    ASSERT_EQ(Run(), BackupEngine::RunOutcome::Succeeded);
    const std::string store = ReadFile(program + "/FileLists.tq");
    const std::string gamma = ReadFile(program + "/Gamma.TQBak");
    const std::string log = ReadFile(program + "/backups.log");
    for (const char* d : {"a", "b", "c"}) {
        Put(std::string(d) + "/two.txt", std::string(100000, 't'));
        Put(std::string(d) + "/three.txt", "3");
    }

    ScriptedBackupView view;
    std::vector<std::string> asked;
    bool inBeta = false;
    int betaFiles = 0;
    view.onCall = [&](const std::string& call) {
        if (call == "text CurrentJob Beta") inBeta = true;
        // The cancel comes while Beta's second file is being copied.
        if (inBeta && call.rfind("fit B/", 0) == 0 && ++betaFiles == 2)
            engine->RequestCancel(Asker(asked, MessageAnswer::Yes));
    };
    ASSERT_EQ(Run(view), BackupEngine::RunOutcome::Cancelled);
    EXPECT_EQ(asked, (std::vector<std::string>{"Quit??: File copy in progress. Are you sure you want to abort?"}));
    EXPECT_EQ(view.MessageLines(), (std::vector<std::string>{"Canceled.: Backup Canceled"}));
    for (const char* line : {"CurrentJob", "Status", "TimeRemaining"})
        EXPECT_TRUE(view.Saw(std::string("text ") + line + " Aborting...")) << line;
    // Alpha's complete new archive and Beta's partial one are gone; Gamma never started.
    EXPECT_FALSE(platform::PathExists(program + "/Alpha2.TQBak"));
    EXPECT_FALSE(platform::PathExists(program + "/Beta2.TQBak"));
    EXPECT_FALSE(platform::PathExists(program + "/Beta2.TQBak.partial"));
    EXPECT_FALSE(platform::PathExists(program + "/Gamma2.TQBak"));
    EXPECT_EQ(ReadFile(program + "/Gamma.TQBak"), gamma);
    EXPECT_EQ(ReadFile(program + "/FileLists.tq"), store);
    EXPECT_EQ(ReadFile(program + "/backups.log"), log);
    EXPECT_FALSE(platform::PathExists(program + "/FileLists.new"));
    EXPECT_FALSE(view.Saw("text Status Saving File Lists..."));
    EXPECT_EQ(view.Calls().back(), "close 2");

    // The next run stores what the cancelled one did not.
    ASSERT_EQ(Run(), BackupEngine::RunOutcome::Succeeded);
    std::vector<std::string> names = EntryNames(program + "/Beta2.TQBak");
    ASSERT_EQ(names.size(), 7u);
    std::sort(names.begin() + 1, names.begin() + 3);  // the two files come in listing order
    EXPECT_EQ(names, (std::vector<std::string>{"B\\", "B\\three.txt", "B\\two.txt", "B.tq", "backup.ini", "ToDirs.tq",
                                               "tqbackup.log"}));
}

TEST_F(RunBackupTest, CancelAnsweredNoAndCancelWhileSavingAreRefused) {
    Ini({"[Job]", "dir:\"" + (dir / "src") + "\"", "to:\"Data\""});
    Put("src/a.txt", "a");
    ScriptedBackupView view;
    std::vector<std::string> asked;
    view.onCall = [&](const std::string& call) {
        if (call == "text CurrentJob Job") engine->RequestCancel(Asker(asked, MessageAnswer::No));
        if (call == "text Status Saving File Lists...") engine->RequestCancel(Asker(asked, MessageAnswer::Yes));
    };
    ASSERT_EQ(Run(view), BackupEngine::RunOutcome::Succeeded);
    EXPECT_EQ(asked, (std::vector<std::string>{"Quit??: File copy in progress. Are you sure you want to abort?",
                                               "Abort: Unable to abort at this time."}));
    EXPECT_TRUE(view.Saw("cancel off"));
    EXPECT_TRUE(platform::PathExists(program + "/Job.TQBak"));
    // After the run nothing is asked at all.
    engine->RequestCancel(Asker(asked, MessageAnswer::Yes));
    EXPECT_EQ(asked.size(), 2u);
}

TEST_F(RunBackupTest, CancelDuringTheAnalysisLeavesNothing) {
    Ini({"[Job]", "dir:\"" + (dir / "src") + "\"", "to:\"Data\""});
    Put("src/a.txt", "a");
    ScriptedBackupView view;
    std::vector<std::string> asked;
    view.onCall = [&](const std::string& call) {
        if (call == "step") engine->RequestCancel(Asker(asked, MessageAnswer::Yes));
    };
    ASSERT_EQ(Run(view), BackupEngine::RunOutcome::Cancelled);
    EXPECT_EQ(asked.size(), 1u);  // the second request found the run cancelled already
    EXPECT_FALSE(platform::PathExists(program + "/Job.TQBak"));
    EXPECT_FALSE(view.Saw("text Status Backing Up Files..."));
}

TEST_F(RunBackupTest, ChecksDropJobsWithMessages) {
    Ini({"[Missing]", "dir:\"" + (dir / "nowhere") + "\"", "to:\"X\"", "dir:\"" + (dir / "also-nowhere") + "\"",
         "to:\"Y\"", "[Reserved]", "dir:\"" + (dir / "src") + "\"", "to:\"todirs\"", "[Fine]",
         "dir:\"" + (dir / "src") + "\"", "to:\"Data\""});
    Put("src/a.txt", "a");
    ScriptedBackupView view;
    ASSERT_EQ(Run(view), BackupEngine::RunOutcome::Succeeded);
    EXPECT_EQ(view.MessageLines(),
              (std::vector<std::string>{
                  "Error: Error, cannot access path '" + (dir / "nowhere") + "', skipping Job 'Missing'.",
                  "Error: The target name 'todirs' is used by the backup's own files, skipping Job 'Reserved'.",
                  "Done: Backup Successful!"}));
    EXPECT_TRUE(platform::PathExists(program + "/Fine.TQBak"));
    EXPECT_FALSE(platform::PathExists(program + "/Reserved.TQBak"));
    // The analysis bar counted only the mappings of the job that stayed.
    EXPECT_TRUE(view.Saw("range 0 2"));
    // Jobs left out count as skips, so an unattended run does not report everything saved.
    EXPECT_EQ(engine->SkippedEntries(),
              (std::vector<std::string>{"Job not backed up: Missing", "Job not backed up: Reserved"}));
}

TEST_F(RunBackupTest, ArchivesTheStoreNoLongerKnowsAreNeverOverwritten) {
    Ini({"[Job]", "dir:\"" + (dir / "src") + "\"", "to:\"Data\""});
    Put("src/a.txt", "a");
    ASSERT_EQ(Run(), BackupEngine::RunOutcome::Succeeded);
    Put("src/b.txt", "b");
    ASSERT_EQ(Run(), BackupEngine::RunOutcome::Succeeded);
    const std::string first = test::ReadFile(program + "/Job.TQBak");
    const std::string second = test::ReadFile(program + "/Job2.TQBak");
    // The store and its copy are gone: numbering would start again at 1.
    ASSERT_TRUE(platform::DeleteFile(program + "/FileLists.tq"));
    ASSERT_TRUE(platform::DeleteFile(program + "/FileLists.bak"));
    Put("src/c.txt", "c");
    ScriptedBackupView view;
    ASSERT_EQ(Run(view), BackupEngine::RunOutcome::Succeeded);
    // The job's entries come back from its newest archive, and the set goes on.
    EXPECT_EQ(view.MessageLines(),
              (std::vector<std::string>{"Halvex Backup: FileLists.tq had no record of the archive 'Job2.TQBak'. The "
                                        "file lists of job 'Job' have been rebuilt from it.",
                                        "Done: Backup Successful!"}));
    EXPECT_EQ(test::ReadFile(program + "/Job.TQBak"), first);
    EXPECT_EQ(test::ReadFile(program + "/Job2.TQBak"), second);
    EXPECT_EQ(EntryNames(program + "/Job3.TQBak")[1], "Data\\c.txt");
    EXPECT_TRUE(engine->SkippedEntries().empty());
    EXPECT_EQ(StoreEntry("Job\\ArchNum.tq"), Bytes4(3));
}

TEST_F(RunBackupTest, ASetOf65535ArchivesTakesNoMore) {
    Ini({"[Job]", "dir:\"" + (dir / "src") + "\"", "to:\"Data\""});
    Put("src/a.txt", "a");
    ASSERT_EQ(Run(), BackupEngine::RunOutcome::Succeeded);
    for (int number : {65534, 65535}) {
        SCOPED_TRACE(number);
        {
            const HistoryBytes history = ToBytes(StoreEntry("Job\\Data.tq"));
            FileListStore store(program);
            ASSERT_TRUE(store.OpenForRun());
            const HistoryBytes none;  // the entry above holds its added part already
            const HistoryToSave save[] = {{"Data", history, none}};
            store.SaveJob("Job", number, save, false, platform::SystemTime{2024, 1, 0, 2, 3, 4, 6, 0});
            store.Close();
        }
        Put("src/b" + std::to_string(number) + ".txt", "b");
        ScriptedBackupView view;
        ASSERT_EQ(Run(view), BackupEngine::RunOutcome::Succeeded);
        const bool full = number == 65535;
        EXPECT_EQ(platform::PathExists(program + "/Job65535.TQBak"), true);
        EXPECT_EQ(platform::PathExists(program + "/Job65536.TQBak"), false);
        EXPECT_EQ(view.MessageLines().size(), full ? 2u : 1u);
        if (full) {
            EXPECT_EQ(view.MessageLines()[0], "Error: Job 'Job' already has 65,535 archives, the most one archive set "
                                              "can hold.\nPlease start brand new archives for it.\n\nSkipping job: Job");
        }
    }
}

TEST_F(RunBackupTest, BrandNewRuns) {
    // "Job" is a prefix of "JobB"'s archive names in the same folder: Job's brand-new run is
    // refused because of them.
    Ini({"[JobB]", "dir:\"" + (dir / "src") + "\"", "to:\"Data\"", "[Job]", "dir:\"" + (dir / "src") + "\"",
         "to:\"Data\""});
    Put("src/a.txt", "a");
    ASSERT_EQ(Run({"JobB"}), BackupEngine::RunOutcome::Succeeded);
    ScriptedBackupView view;
    ASSERT_EQ(Run(view, {"Job"}, true), BackupEngine::RunOutcome::Succeeded);
    EXPECT_EQ(view.MessageLines()[0],
              "Error: Cannot start a brand new archive while old archives exist in backup directory.\nPlease remove "
              "the old archives and try again.\n\nSkipping job: Job");
    EXPECT_FALSE(platform::PathExists(program + "/Job.TQBak"));
    EXPECT_EQ(engine->RunJobFlags(1), 0);

    // With the old archives moved away, a brand-new run starts again at 1 and replaces the
    // job's whole folder in the store, also entries of mappings no longer configured.
    Ini({"[JobB]", "dir:\"" + (dir / "src") + "\"", "to:\"Other\""});
    Put("src/b.txt", "b");
    ASSERT_EQ(Run({"JobB"}), BackupEngine::RunOutcome::Succeeded);
    ASSERT_EQ(std::rename((program + "/JobB.TQBak").c_str(), (dir / "old1").c_str()), 0);
    ASSERT_EQ(std::rename((program + "/JobB2.TQBak").c_str(), (dir / "old2").c_str()), 0);
    ASSERT_EQ(Run({"JobB"}, true), BackupEngine::RunOutcome::Succeeded);
    EXPECT_TRUE(platform::PathExists(program + "/JobB.TQBak"));
    EXPECT_EQ(StoreEntry("JobB\\ArchNum.tq"), Bytes4(1));
    EXPECT_EQ(StoreEntry("JobB\\Data.tq"), "");
    EXPECT_EQ(HistoryRecords(StoreEntry("JobB\\Other.tq")).size(), 1u);
}

TEST_F(RunBackupTest, StoreThatCannotBeOpenedEndsTheRun) {
    Ini({"[Job]", "dir:\"" + (dir / "src") + "\"", "to:\"Data\""});
    Put("src/a.txt", "a");
    test::MakeFolders(program + "/FileLists.tq");  // a folder where the store should be
    ScriptedBackupView view;
    ASSERT_EQ(Run(view), BackupEngine::RunOutcome::StoreError);
    EXPECT_EQ(view.MessageLines(), (std::vector<std::string>{"Error: Error Opening FileLists.tq"}));
    EXPECT_FALSE(platform::PathExists(program + "/Job.TQBak"));
    const auto calls = view.Calls();
    EXPECT_EQ(calls.front(), "timer start");
    EXPECT_EQ(calls[calls.size() - 2], "timer stop");
    EXPECT_EQ(calls.back(), "close 2");
}

TEST_F(RunBackupTest, DamagedJobEntryIsKeptAsideAndTheJobRebuilt) {
    // One job's entry in the store does not read back; the other job's entries do.
    const std::vector<std::pair<const char*, std::function<void()>>> damages = {
        {"history cut inside its first record",
         [&] {
             const HistoryBytes cut = ToBytes(StoreEntry("Broken\\A.tq").substr(0, 12)), none;
             const HistoryToSave save[] = {{"A", cut, none}};
             FileListStore store(program);
             ASSERT_TRUE(store.OpenForRun());
             store.SaveJob("Broken", 1, save, false, platform::CurrentLocalTime());
             store.Close();
         }},
        {"a byte flipped in the deflated history",
         [&] {
             ZipArchiveFile zip;
             zip.Open(program + "/FileLists.tq", ZipOpenReadOnly);
             ZipEntryHeader h;
             ASSERT_TRUE(zip.GetEntryInfo(h, zip.FindEntry("Broken\\A.tq", false)));
             zip.Close();
             std::string bytes = test::ReadFile(program + "/FileLists.tq");
             const std::size_t at = h.localHeaderOffset;
             bytes[at + 30 + ziptest::U16(bytes, at + 26) + ziptest::U16(bytes, at + 28) + h.compressedSize / 2] ^= 0x10;
             test::WriteFile(program + "/FileLists.tq", bytes);
         }},
    };
    for (const auto& [what, damage] : damages) {
        SCOPED_TRACE(what);
        for (const auto& entry : std::filesystem::directory_iterator(program)) std::filesystem::remove(entry.path());
        Ini({"[Broken]", "dir:\"" + (dir / "a") + "\"", "to:\"A\"", "[Fine]", "dir:\"" + (dir / "b") + "\"", "to:\"B\""});
        Put("a/x.txt", "x");
        Put("b/y.txt", "y");
        ASSERT_EQ(Run(), BackupEngine::RunOutcome::Succeeded);
        damage();
        const std::string damaged = test::ReadFile(program + "/FileLists.tq");
        const std::string lastWhole = test::ReadFile(program + "/FileLists.bak");
        Put("a/x.txt", "x2", kSourceTime + 5);
        Put("b/y.txt", "y2", kSourceTime + 5);
        ScriptedBackupView view;
        ASSERT_EQ(Run(view), BackupEngine::RunOutcome::Succeeded);
        EXPECT_EQ(view.MessageLines(),
                  (std::vector<std::string>{
                      "Error: The file lists of job 'Broken' in FileLists.tq are damaged. FileLists.tq has been kept as "
                      "'FileLists.tq.damaged-1', and the job's file lists are rebuilt from the newest archive of its set.",
                      "Halvex Backup: FileLists.tq had no record of the archive 'Broken.TQBak'. The file lists of job "
                      "'Broken' have been rebuilt from it.",
                      "Done: Backup Successful!"}));
        // The store as it was is kept, and the copy of the last whole store is not replaced by it.
        EXPECT_EQ(test::ReadFile(program + "/FileLists.tq.damaged-1"), damaged);
        EXPECT_EQ(test::ReadFile(program + "/FileLists.bak"), lastWhole);
        // Both jobs went on, the damaged one from its archive's history.
        EXPECT_EQ(StoreEntry("Broken\\ArchNum.tq"), Bytes4(2));
        EXPECT_EQ(HistoryRecords(StoreEntry("Broken\\A.tq")).size(), 2u);
        EXPECT_EQ(HistoryRecords(StoreEntry("Fine\\B.tq")).size(), 2u);
        EXPECT_TRUE(platform::PathExists(program + "/Broken2.TQBak") && platform::PathExists(program + "/Fine2.TQBak"));
    }
}

TEST_F(RunBackupTest, ArchiveThatCannotBeCreated) {
    Ini({"[Blocked]", "dir:\"" + (dir / "a") + "\"", "to:\"A\"", "zip:\"" + (dir / "blocker/sub") + "\"", "[Free]",
         "dir:\"" + (dir / "b") + "\"", "to:\"B\""});
    Put("a/x.txt", "x");
    Put("b/y.txt", "y");
    WriteFile(dir / "blocker", "a file where a folder should be");
    ScriptedBackupView view;
    view.answers = {MessageAnswer::Retry, MessageAnswer::Cancel};
    ASSERT_EQ(Run(view), BackupEngine::RunOutcome::Succeeded);
    const std::string question = "Error: Error creating file:\n\n" + (dir / "blocker/sub/Blocked.TQBak");
    EXPECT_EQ(view.MessageLines(), (std::vector<std::string>{question, question, "Done: Backup Successful!"}));
    EXPECT_EQ(view.Messages()[0].buttons, MessageButtons::RetryCancel);
    EXPECT_TRUE(platform::PathExists(program + "/Free.TQBak"));
    EXPECT_EQ(StoreEntry("Blocked\\ArchNum.tq"), "");
    EXPECT_EQ(StoreEntry("Free\\ArchNum.tq"), Bytes4(1));

    // Retry after the obstacle has gone.
    ScriptedBackupView retried;
    retried.answers = {MessageAnswer::Retry};
    retried.onCall = [&](const std::string& call) {
        if (call.rfind("message Error: Error creating file:", 0) == 0) std::remove((dir / "blocker").c_str());
    };
    ASSERT_EQ(Run(retried, {"Blocked"}), BackupEngine::RunOutcome::Succeeded);
    EXPECT_TRUE(platform::PathExists(dir / "blocker/sub/Blocked.TQBak"));
}

TEST_F(RunBackupTest, EachJobsLevelReachesItsFileEntries) {
    // Jobs of one run at different levels share one pool: each archive gets its own level.
    const struct {
        const char* job;
        const char* levelLine;  // none: the default
        int method;
        int optionBits;  // general-purpose bits 1-2
    } cases[] = {
        {"Fast", "level:\"1\"", 8, 6},
        {"Plain", "LEVEL: \"store\"  # no deflating", 0, 0},
        {"Usual", nullptr, 8, 2},
        {"Middle", "level:\"6\"", 8, 0},
    };
    std::vector<std::string> lines;
    for (const auto& c : cases) {
        lines.insert(lines.end(), {std::string("[") + c.job + "]", "dir:\"" + (dir / "src") + "\"", "to:\"Data\"",
                                   "zip:\"" + (dir / "archives") + "\""});
        if (c.levelLine) lines.emplace_back(c.levelLine);
    }
    std::string ini;
    for (const std::string& line : lines) ini += line + "\r\n";
    test::WriteFile(program + "/backup.ini", ini);
    const std::string text = ziptest::TextBytes(50000);
    Put("src/a.txt", text);
    ASSERT_EQ(Run(), BackupEngine::RunOutcome::Succeeded);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.job);
        const auto entries = ReadArchive(dir / ("archives/" + std::string(c.job) + ".TQBak"));
        const auto* file = FindEntry(entries, "Data\\a.txt");
        ASSERT_NE(file, nullptr);
        EXPECT_EQ(file->header.method, c.method);
        EXPECT_EQ(file->header.flags & 6, c.optionBits);
        EXPECT_EQ(file->data, text);
    }
}

namespace halvex::backuptest {
namespace {

// Puts `bytes` in place of the store's entry `name` (none: the entry goes).
void ReplaceStoreEntry(const std::string& store, const std::string& name, const std::optional<std::string>& bytes) {
    ZipArchiveFile zip;
    zip.Open(store, ZipOpenExisting);
    const int index = zip.FindEntry(name, false);
    if (index >= 0) zip.DeleteEntries({index});
    if (bytes) {
        EXPECT_TRUE(WriteWholeEntry(zip, name, 1, platform::CurrentLocalTime(), {BytesOf(*bytes)}));
    }
    zip.Close();
}

}  // namespace

TEST_F(RunBackupTest, KeptStateThatIsMissingStaleOrDamagedIsRebuiltWithTheSameResult) {
    const std::string store = program + "/FileLists.tq";
    const std::string stateName = "Job\\Data.state";
    std::string earlierState;
    const std::vector<std::pair<const char*, std::function<void()>>> spoils = {
        {"kept as it is", [] {}},
        {"missing", [&] { ReplaceStoreEntry(store, stateName, std::nullopt); }},
        {"stale: an earlier run's", [&] { ReplaceStoreEntry(store, stateName, earlierState); }},
        {"damaged tree with a current tag",
         [&] {
             std::string bytes = StoreEntry(stateName);
             ReplaceStoreEntry(store, stateName, bytes.substr(0, bytes.size() - 3));
         }},
        {"missing, and kept again by a run that finds nothing to store",
         [&] {
             ReplaceStoreEntry(store, stateName, std::nullopt);
             ASSERT_EQ(Run(), BackupEngine::RunOutcome::Succeeded);
             EXPECT_FALSE(platform::PathExists(program + "/Job4.TQBak"));
             EXPECT_NE(StoreEntry(stateName), "");
         }},
        {"written by a program that keeps no state",
         [&] {
             const HistoryBytes history = ToBytes(StoreEntry("Job\\Data.tq")), none;
             const HistoryToSave save[] = {{"Data", history, none}};
             FileListStore s(program);
             ASSERT_TRUE(s.OpenForRun());
             s.SaveJob("Job", 3, save, false, platform::CurrentLocalTime());
             s.Close();
         }},
    };
    std::vector<RecordPaths> expectedRecords;
    std::vector<std::string> expectedEntries;
    std::string expectedState;
    for (const auto& [what, spoil] : spoils) {
        SCOPED_TRACE(what);
        std::filesystem::remove_all(dir / "src");
        for (const auto& entry : std::filesystem::directory_iterator(program))
            if (entry.path().filename() != "backup.ini") std::filesystem::remove(entry.path());
        Ini({"[Job]", "dir:\"" + (dir / "src") + "\"", "to:\"Data\""});
        for (const char* name : {"src/a.txt", "src/d.txt", "src/sub/b.txt", "src/sub/deep/c.txt"}) Put(name, name);
        ASSERT_EQ(Run(), BackupEngine::RunOutcome::Succeeded);
        Put("src/a.txt", "a2", kSourceTime + 5);
        std::filesystem::remove_all(dir / "src/sub/deep");
        Put("src/e.txt", "e");
        ASSERT_EQ(Run(), BackupEngine::RunOutcome::Succeeded);
        earlierState = StoreEntry(stateName);
        Put("src/sub/b.txt", "b2", kSourceTime + 5);
        std::filesystem::remove(dir / "src/d.txt");
        Put("src/sub/f.txt", "f");
        ASSERT_EQ(Run(), BackupEngine::RunOutcome::Succeeded);
        ASSERT_FALSE(earlierState.empty());
        ASSERT_NE(StoreEntry(stateName), earlierState);

        spoil();
        Put("src/a.txt", "a3", kSourceTime + 10);
        Put("src/sub/deep/again/g.txt", "g");
        std::filesystem::remove(dir / "src/e.txt");
        ASSERT_EQ(Run(), BackupEngine::RunOutcome::Succeeded);

        // The run found what a run with the state intact finds, and keeps the state a replay
        // of the whole history gives, tagged with that history.
        const std::string history = StoreEntry("Job\\Data.tq");
        const std::vector<RecordPaths> records = HistoryRecords(history);
        const std::vector<std::string> entries = EntryNames(program + "/Job4.TQBak");
        FileListStore opened(program);
        ASSERT_TRUE(opened.OpenForRun());
        CompressedHistory compressed;
        HistoryBytes kept;
        ASSERT_EQ(opened.ReadCurrentState("Job\\Data.tq", dir / "src", compressed, kept), FileListStore::Read::Found);
        opened.Abandon();
        RunControl control;
        control.Start();
        FileTreePtr replayed;
        ASSERT_EQ(ReplayTargetHistory(ToBytes(history), control, replayed), ReplayResult::Done);
        EXPECT_EQ(kept, SerializeState(replayed.get()));
        const std::string keptState(kept.begin(), kept.end());
        if (expectedEntries.empty()) {
            ASSERT_EQ(records.size(), 4u);
            EXPECT_EQ(records[3].removed, (std::vector<std::string>{"e.txt"}));
            expectedRecords = records;
            expectedEntries = entries;
            expectedState = keptState;
            continue;
        }
        ASSERT_EQ(records.size(), expectedRecords.size());
        for (std::size_t i = 0; i < records.size(); ++i) {
            EXPECT_EQ(records[i].removed, expectedRecords[i].removed) << i;
            EXPECT_EQ(records[i].added, expectedRecords[i].added) << i;
        }
        EXPECT_EQ(entries, expectedEntries);
        EXPECT_EQ(keptState, expectedState);
    }
}

}  // namespace halvex::backuptest
