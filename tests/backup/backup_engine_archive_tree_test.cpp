// SPDX-License-Identifier: GPL-3.0-or-later
// Copying change trees into the archive: files and folders that vanish or cannot be opened,
// the copy in chunks with its progress, files and folders the archive's limits refuse, and
// the files deflated on the pool of threads.
#include <gtest/gtest.h>

#include <unistd.h>

#include "backup/kill_point_for_tests.h"
#include "backup/run_messages.h"
#include "platform/file_attributes.h"
#include "tests/backup/run_fixture.h"

using namespace halvex;
using namespace halvex::backuptest;
using halvex::test::ReadFile;
using halvex::test::RemoveTree;

namespace {

class ArchiveTreeTest : public RunFixture {
protected:
    void SetUp() override {
        RunFixture::SetUp();
        Ini({"[Job]", "dir:\"" + (dir / "src") + "\"", "to:\"Data\""});
    }
    std::vector<std::string> AddedByLastRecord(const std::string& archive) {
        const auto records = HistoryRecords(FindEntry(ReadArchive(archive), "Data.tq")->data);
        return records.empty() ? std::vector<std::string>{} : records.back().added;
    }
    std::string Log(const std::string& archive) { return FindEntry(ReadArchive(archive), "tqbackup.log")->data; }
};

}  // namespace

TEST_F(ArchiveTreeTest, VanishedFileIgnoredIsLoggedAndRetriedNextRun) {
    Put("src/keep.txt", "k");
    Put("src/gone.txt", "g");
    ScriptedBackupView view;
    view.onCall = [&](const std::string& call) {
        if (call == "text CurrentJob Job") std::remove((dir / "src/gone.txt").c_str());
    };
    ASSERT_EQ(Run(view), BackupEngine::RunOutcome::Succeeded);
    const std::string path = dir / "src/gone.txt";
    ASSERT_EQ(view.Messages().size(), 2u);
    EXPECT_EQ(view.Messages()[0].text, "Error, could not access file '" + path +
                                           "'\n\nClick 'Retry' to try again, 'Ignore' to skip file or 'Abort' to "
                                           "cancel backup");
    EXPECT_EQ(view.Messages()[0].buttons, MessageButtons::AbortRetryIgnore);
    const std::string archive = program + "/Job.TQBak";
    EXPECT_EQ(EntryNames(archive), (std::vector<std::string>{"Data\\", "Data\\keep.txt", "Data.tq", "backup.ini",
                                                             "ToDirs.tq", "tqbackup.log"}));
    EXPECT_EQ(AddedByLastRecord(archive), (std::vector<std::string>{"keep.txt"}));
    EXPECT_NE(Log(archive).find("] - Skipped File (Could not open): " + path + "\r\n"), std::string::npos);
    EXPECT_NE(ReadFile(program + "/backups.log").find("Skipped File (Could not open): " + path), std::string::npos);
    EXPECT_EQ(engine->SkippedEntries(), (std::vector<std::string>{"Skipped File (Could not open): " + path}));
    ExpectReadersAccept(archive);

    // Back again: the next run takes it.
    Put("src/gone.txt", "g");
    ASSERT_EQ(Run(), BackupEngine::RunOutcome::Succeeded);
    EXPECT_EQ(AddedByLastRecord(program + "/Job2.TQBak"), (std::vector<std::string>{"gone.txt"}));
}

TEST_F(ArchiveTreeTest, RetryAfterTheFileIsBackAndAbortCancels) {
    Put("src/a.txt", "a");
    ScriptedBackupView view;
    view.answers = {MessageAnswer::Retry};
    view.onCall = [&](const std::string& call) {
        if (call == "text CurrentJob Job") std::rename((dir / "src/a.txt").c_str(), (dir / "aside").c_str());
        if (call.rfind("message Error: Error, could not access file", 0) == 0)
            std::rename((dir / "aside").c_str(), (dir / "src/a.txt").c_str());
    };
    ASSERT_EQ(Run(view), BackupEngine::RunOutcome::Succeeded);
    EXPECT_EQ(FindEntry(ReadArchive(program + "/Job.TQBak"), "Data\\a.txt")->data, "a");
    EXPECT_TRUE(engine->SkippedEntries().empty());

    Put("src/b.txt", "b");
    const std::string store = ReadFile(program + "/FileLists.tq");
    ScriptedBackupView aborted;
    aborted.answers = {MessageAnswer::Abort};
    aborted.onCall = [&](const std::string& call) {
        if (call == "text CurrentJob Job") std::remove((dir / "src/b.txt").c_str());
    };
    ASSERT_EQ(Run(aborted), BackupEngine::RunOutcome::Cancelled);
    EXPECT_FALSE(platform::PathExists(program + "/Job2.TQBak"));
    EXPECT_FALSE(platform::PathExists(program + "/Job2.TQBak.partial"));
    EXPECT_EQ(ReadFile(program + "/FileLists.tq"), store);
    EXPECT_EQ(aborted.MessageLines().back(), "Canceled.: Backup Canceled");
}

TEST_F(ArchiveTreeTest, MissingFolderInTheMiddleOfAChainIsSkipped) {
    for (const char* d : {"one", "two", "three", "four"}) Put(std::string("src/") + d + "/f.txt", d);
    Put("src/two/deeper/g.txt", "g");
    ScriptedBackupView view;
    view.onCall = [&](const std::string& call) {
        if (call == "text CurrentJob Job") RemoveTree(dir / "src/two");
    };
    ASSERT_EQ(Run(view), BackupEngine::RunOutcome::Succeeded);
    const std::string path = dir / "src/two";
    EXPECT_EQ(view.Messages()[0].text, "Error, could not find directory '" + path +
                                           "'\n\nClick 'Retry' to try again, 'Ignore' to skip directory or 'Abort' "
                                           "to cancel backup");
    const std::string archive = program + "/Job.TQBak";
    EXPECT_EQ(AddedByLastRecord(archive), (std::vector<std::string>{"four\\", "four\\f.txt", "one\\", "one\\f.txt",
                                                                    "three\\", "three\\f.txt"}));
    EXPECT_NE(Log(archive).find("Skipped Directory (Was not found): " + path), std::string::npos);
    for (const auto& name : EntryNames(archive)) EXPECT_EQ(name.find("two"), std::string::npos) << name;
}

TEST_F(ArchiveTreeTest, LargeFileInThreeChunksAndAnEmptyFile) {
    // 2.29 chunks, whatever the chunk size.
    const std::string big = ziptest::RandomBytes(600000 * (CopyChunkSize / 262144), 5);
    Put("src/big.bin", big);
    Put("src/empty.txt", "");
    ScriptedBackupView view;
    ASSERT_EQ(Run(view), BackupEngine::RunOutcome::Succeeded);
    const auto entries = ReadArchive(program + "/Job.TQBak");
    EXPECT_EQ(FindEntry(entries, "Data\\big.bin")->data, big);
    EXPECT_EQ(FindEntry(entries, "Data\\empty.txt")->header.uncompressedSize, 0u);
    // After each chunk: one, two and 2.29 chunks of 2.29; nothing for the empty file.
    std::vector<int> positions = view.Positions();
    positions.erase(positions.begin(), std::find(positions.rbegin(), positions.rend(), 0).base());
    EXPECT_EQ(positions, (std::vector<int>{436, 873, 1000}));
    EXPECT_TRUE(view.Saw("range 0 1000"));
    ExpectReadersAccept(program + "/Job.TQBak");
}

TEST_F(ArchiveTreeTest, FileGrownSinceTheScanIsCopiedWhole) {
    Put("src/grows.txt", "short");
    ScriptedBackupView view;
    view.onCall = [&](const std::string& call) {
        if (call == "text CurrentJob Job") Put("src/grows.txt", std::string(5000, 'g'));
    };
    ASSERT_EQ(Run(view), BackupEngine::RunOutcome::Succeeded);
    EXPECT_EQ(FindEntry(ReadArchive(program + "/Job.TQBak"), "Data\\grows.txt")->data, std::string(5000, 'g'));
    EXPECT_EQ(view.Positions().back(), 1000);
}

// A link is stored as a link entry (its target as stored data), never as what it points to;
// one that became a file since the scan is stored as that file.
TEST_F(ArchiveTreeTest, LinkIsStoredAsALinkNeverFollowed) {
    Put("outside/real.txt", "the real content");
    Put("src/was-link.txt", "x");
    test::MakeFolders(dir / "src");
    ASSERT_EQ(symlink((dir / "outside/real.txt").c_str(), (dir / "src/link.txt").c_str()), 0);
    ASSERT_EQ(symlink("real.txt", (dir / "src/becomes-file.txt").c_str()), 0);
    ScriptedBackupView view;
    view.onCall = [&](const std::string& call) {
        if (call != "text CurrentJob Job") return;
        std::remove((dir / "src/becomes-file.txt").c_str());
        Put("src/becomes-file.txt", "a file now");
    };
    ASSERT_EQ(Run(view), BackupEngine::RunOutcome::Succeeded);
    const auto entries = ReadArchive(program + "/Job.TQBak");
    const ArchiveEntry* link = FindEntry(entries, "Data\\link.txt");
    ASSERT_NE(link, nullptr);
    EXPECT_EQ(link->data, dir / "outside/real.txt");
    EXPECT_EQ(link->method, 0);
    EXPECT_TRUE(link->header.IsLink());
    EXPECT_EQ(link->header.externalAttributes >> 16, 0120777u);
    const ArchiveEntry* file = FindEntry(entries, "Data\\becomes-file.txt");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->data, "a file now");
    EXPECT_FALSE(file->header.IsLink());
}

TEST_F(ArchiveTreeTest, FilesTheArchiveCannotTakeAreSkippedAndLogged) {
    Put("src/small.txt", "s");
    Put("src/large.bin", ziptest::RandomBytes(3000, 9));
    ScriptedBackupView view;
    ZipLimits limits;
    limits.maxEntrySize = 2000;
    ASSERT_EQ(Run(view, {}, false, [&](BackupEngine& e) { e.SetArchiveLimits(limits); }),
              BackupEngine::RunOutcome::Succeeded);
    const std::string archive = program + "/Job.TQBak";
    const std::string path = dir / "src/large.bin";
    EXPECT_EQ(AddedByLastRecord(archive), (std::vector<std::string>{"small.txt"}));
    EXPECT_NE(Log(archive).find("Skipped File (Too large for this archive): " + path), std::string::npos);
    EXPECT_EQ(engine->SkippedEntries(), (std::vector<std::string>{"Skipped File (Too large for this archive): " + path}));
    EXPECT_EQ(view.Positions().back(), 1000);  // the skipped bytes left the total
    ExpectReadersAccept(archive);

    // Room is kept for the entries that close the archive: with 9 entries allowed and one
    // mapping, the files get 5 (the folder and four files).
    for (int i = 0; i < 8; ++i) Put("src/many" + std::to_string(i) + ".txt", "m", kSourceTime + 1);
    limits = ZipLimits{};
    limits.maxEntries = 9;
    ASSERT_EQ(Run(view, {}, false, [&](BackupEngine& e) { e.SetArchiveLimits(limits); }),
              BackupEngine::RunOutcome::Succeeded);
    const auto entries = ReadArchive(program + "/Job2.TQBak");
    ASSERT_EQ(entries.size(), 9u);
    EXPECT_EQ(entries.back().name, "tqbackup.log");
    EXPECT_EQ(AddedByLastRecord(program + "/Job2.TQBak").size(), 4u);  // four files in the top folder
    // Four small files and large.bin (retried), all for want of entries.
    ASSERT_EQ(engine->SkippedEntries().size(), 5u);
    for (const std::string& skipped : engine->SkippedEntries())
        EXPECT_EQ(skipped.rfind("Skipped File (Archive is full): ", 0), 0u) << skipped;
    ExpectReadersAccept(program + "/Job2.TQBak");
}

TEST_F(ArchiveTreeTest, ThreadsChangeNothingInTheArchiveAndRandomDataIsStored) {
    Put("src/a/text.txt", ziptest::TextBytes(5 * CopyChunkSize + 1000));
    Put("src/a/noise.jpg", ziptest::RandomBytes(3 * CopyChunkSize + 5, 3));
    for (int i = 0; i < 40; ++i) Put("src/b/small" + std::to_string(i) + ".txt", ziptest::TextBytes(100 + i * 900));
    Put("src/b/tiny.bin", ziptest::RandomBytes(300, 4));
    std::vector<std::vector<ArchiveEntry>> runs;
    for (unsigned threads : {1u, 4u}) {
        for (const char* name : {"/Job.TQBak", "/FileLists.tq", "/FileLists.bak", "/backups.log"})
            std::remove((program + name).c_str());
        ASSERT_EQ(Run(*std::make_unique<ScriptedBackupView>(), {}, false,
                      [&](BackupEngine& e) { e.SetDeflateThreads(threads); }),
                  BackupEngine::RunOutcome::Succeeded);
        ExpectReadersAccept(program + "/Job.TQBak");
        runs.push_back(ReadArchive(program + "/Job.TQBak"));
    }
    ASSERT_EQ(runs[0].size(), runs[1].size());
    for (std::size_t i = 0; i < runs[0].size(); ++i) {
        const ArchiveEntry& one = runs[0][i];
        const ArchiveEntry& four = runs[1][i];
        EXPECT_EQ(one.name, four.name);
        if (one.name.rfind("Data\\", 0) != 0) continue;  // bookkeeping carries the run's time
        EXPECT_EQ(one.method, four.method) << one.name;
        EXPECT_EQ(one.header.compressedSize, four.header.compressedSize) << one.name;
        EXPECT_TRUE(one.data == four.data) << one.name;
    }
    EXPECT_EQ(FindEntry(runs[1], "Data\\a\\text.txt")->method, 8);
    EXPECT_EQ(FindEntry(runs[1], "Data\\a\\noise.jpg")->method, 0);
    EXPECT_EQ(FindEntry(runs[1], "Data\\b\\tiny.bin")->method, 0);
    EXPECT_EQ(FindEntry(runs[1], "Data\\b\\small39.txt")->method, 8);
    EXPECT_EQ(FindEntry(runs[1], "Data\\a\\text.txt")->data, ziptest::TextBytes(5 * CopyChunkSize + 1000));
}

TEST_F(ArchiveTreeTest, CancelAndReadErrorInTheMiddleOfAFileOnThePool) {
    Put("src/first.txt", "first");
    ASSERT_EQ(Run(), BackupEngine::RunOutcome::Succeeded);
    const std::string big = dir / "src/big.txt";
    Put("src/big.txt", ziptest::TextBytes(8 * CopyChunkSize));
    Put("src/z/later.txt", "later");  // after the top folder's files
    const std::string store = ReadFile(program + "/FileLists.tq");
    struct HookGuard {
        ~HookGuard() { SetTestPointHook({}); }
    } guard;
    for (const bool readError : {false, true}) {
        SCOPED_TRACE(readError ? "read error" : "cancel");
        int chunks = 0;
        std::vector<std::string> asked;
        SetTestPointHook([&](const char* point) {
            if (std::string(point) != "chunk-written" || ++chunks != 3) return;
            if (readError) ASSERT_EQ(truncate(big.c_str(), 4 * CopyChunkSize - 10), 0);
            else engine->RequestCancel(Asker(asked, MessageAnswer::Yes));
        });
        ScriptedBackupView view;
        const auto outcome = Run(view, {}, false, [](BackupEngine& e) { e.SetDeflateThreads(3); });
        if (readError) {
            // Only the file is given up: its blocks already on the pool are dropped, the run
            // goes on with the files after it, and the next run retries it.
            ASSERT_EQ(outcome, BackupEngine::RunOutcome::Succeeded);
            EXPECT_EQ(engine->SkippedEntries(),
                      (std::vector<std::string>{"Skipped File (Shrank while being copied): " + big}));
            const auto entries = ReadArchive(program + "/Job2.TQBak");
            EXPECT_EQ(FindEntry(entries, "Data\\big.txt"), nullptr);
            ASSERT_NE(FindEntry(entries, "Data\\z\\later.txt"), nullptr);
            EXPECT_EQ(FindEntry(entries, "Data\\z\\later.txt")->data, "later");
            EXPECT_TRUE(asked.empty());
            continue;
        }
        ASSERT_EQ(outcome, BackupEngine::RunOutcome::Cancelled);
        // Stopped at once: after the cancel no chunk more.
        EXPECT_EQ(chunks, 3);
        EXPECT_EQ(asked.size(), 1u);
        EXPECT_EQ(view.MessageLines(), std::vector<std::string>{"Canceled.: Backup Canceled"});
        EXPECT_FALSE(platform::PathExists(program + "/Job2.TQBak"));
        EXPECT_FALSE(platform::PathExists(program + "/Job2.TQBak.partial"));
        EXPECT_EQ(ReadFile(program + "/FileLists.tq"), store);
    }
}

TEST_F(ArchiveTreeTest, FolderTheArchiveRefusesIsLeftOutWithEverythingBelowIt) {
    Put("src/f1.txt", ziptest::TextBytes(3000));
    Put("src/f2.txt", ziptest::RandomBytes(3000, 2));
    for (int i = 0; i < 30; ++i) Put("src/sub/s" + std::to_string(i) + ".txt", ziptest::TextBytes(2000 + i));
    Put("src/sub/deep/d.txt", "d");
    Put("src/zz/z.txt", "z");
    // Seven entries: four kept for the entries that end the archive, three for the files.
    ZipLimits limits;
    limits.maxEntries = 7;
    ScriptedBackupView view;
    ASSERT_EQ(Run(view, {}, false,
                  [&](BackupEngine& e) {
                      e.SetArchiveLimits(limits);
                      e.SetDeflateThreads(2);
                  }),
              BackupEngine::RunOutcome::Succeeded);
    const std::string archive = program + "/Job.TQBak";
    std::vector<std::string> names = EntryNames(archive);
    std::sort(names.begin(), names.begin() + 3);  // the files in the order the folder lists them
    EXPECT_EQ(names, (std::vector<std::string>{"Data\\", "Data\\f1.txt", "Data\\f2.txt", "Data.tq", "backup.ini",
                                               "ToDirs.tq", "tqbackup.log"}));
    EXPECT_EQ(AddedByLastRecord(archive), (std::vector<std::string>{"f1.txt", "f2.txt"}));
    // One line per refused folder, none for what lies below it.
    EXPECT_EQ(engine->SkippedEntries(), (std::vector<std::string>{"Skipped Directory (Archive is full): " + (dir / "src/sub"),
                                                                  "Skipped Directory (Archive is full): " + (dir / "src/zz")}));
    EXPECT_EQ(view.Positions().back(), 1000);
    ExpectReadersAccept(archive);
}
TEST_F(ArchiveTreeTest, ArchivesPastTheClassicFieldsGetZip64RecordsInsteadOfSkips) {
    // The classic fields lowered: 64-bit sizes from 1,000 bytes on, the zip64 end record past
    // four entries. Nothing is skipped; every reader takes the archive.
    const std::string big = ziptest::RandomBytes(3000, 3);
    Put("src/big.bin", big);
    for (int i = 0; i < 5; ++i) Put("src/small" + std::to_string(i) + ".txt", std::string(i, 's'));
    ZipLimits limits;
    limits.classicMaxValue = 1000;
    limits.classicMaxEntries = 4;
    limits.localZip64From = 1000;
    ScriptedBackupView view;
    ASSERT_EQ(Run(view, {}, false, [&](BackupEngine& e) { e.SetArchiveLimits(limits); }),
              BackupEngine::RunOutcome::Succeeded);
    const std::string archive = program + "/Job.TQBak";
    EXPECT_TRUE(engine->SkippedEntries().empty());
    EXPECT_EQ(AddedByLastRecord(archive).size(), 6u);
    const auto entries = ReadArchive(archive);
    EXPECT_EQ(FindEntry(entries, "Data\\big.bin")->data, big);
    EXPECT_EQ(FindEntry(entries, "Data\\small4.txt")->data, "ssss");
    const std::string bytes = ReadFile(archive);
    EXPECT_EQ(ziptest::U32(bytes, bytes.size() - 22 - 20), 0x07064b50u);  // the zip64 locator
    EXPECT_EQ(view.Positions().back(), 1000);
    ExpectReadersAccept(archive);
}
