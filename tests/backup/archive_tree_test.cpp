// Copying change trees into the archive: files and folders that vanish or cannot be opened,
// the copy in chunks with its progress, and files the archive's limits refuse.
#include <gtest/gtest.h>

#include <unistd.h>

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
    const std::string big = ziptest::RandomBytes(600000, 5);
    Put("src/big.bin", big);
    Put("src/empty.txt", "");
    ScriptedBackupView view;
    ASSERT_EQ(Run(view), BackupEngine::RunOutcome::Succeeded);
    const auto entries = ReadArchive(program + "/Job.TQBak");
    EXPECT_EQ(FindEntry(entries, "Data\\big.bin")->data, big);
    EXPECT_EQ(FindEntry(entries, "Data\\empty.txt")->header.uncompressedSize, 0u);
    // After each chunk: 262,144, 524,288 and 600,000 of 600,000 bytes; nothing for the
    // empty file.
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

TEST_F(ArchiveTreeTest, LinkToAFileIsStoredAsTheFile) {
    Put("outside/real.txt", "the real content");
    test::MakeFolders(dir / "src");
    ASSERT_EQ(symlink((dir / "outside/real.txt").c_str(), (dir / "src/link.txt").c_str()), 0);
    ASSERT_EQ(Run(), BackupEngine::RunOutcome::Succeeded);
    const auto entries = ReadArchive(program + "/Job.TQBak");
    EXPECT_EQ(FindEntry(entries, "Data\\link.txt")->data, "the real content");
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
