// SPDX-License-Identifier: GPL-3.0-or-later
// The file-list store: start-up reading and recovery, opening for a run with its copies,
// the replacement rule, brand-new deletion, and leaving the store untouched unless a run
// completes.
#include <gtest/gtest.h>

#include "backup/file_list_store.h"
#include "platform/file_attributes.h"
#include "tests/backup/backup_test_support.h"
#include "tests/support/temp_folder.h"
#include "tests/zip/zip_test_support.h"

using namespace halvex;
using namespace halvex::backuptest;
using halvex::test::ReadFile;
using halvex::test::TempFolder;
using halvex::test::WriteFile;

namespace {

const platform::SystemTime kRunTime{2023, 10, 0, 6, 14, 30, 20, 0};

JobConfig ConfigWithJobs(std::initializer_list<const char*> names) {
    JobConfig config;
    for (const char* name : names) {
        Job job;
        job.name = name;
        config.jobs.push_back(job);
    }
    return config;
}

// A completed save of one job with one history per target ("history of <target>" as bytes).
void SaveRun(const std::string& folder, const std::string& job, int number, std::vector<std::string> targets,
             bool brandNew = false, const platform::SystemTime& time = kRunTime) {
    FileListStore store(folder);
    ASSERT_TRUE(store.OpenForRun());
    std::vector<HistoryBytes> histories;
    for (const auto& t : targets) histories.push_back(ToBytes("history of " + t));
    const HistoryBytes added{0};
    std::vector<HistoryToSave> save;
    for (std::size_t i = 0; i < targets.size(); ++i) save.push_back({targets[i], histories[i], added});
    store.SaveJob(job, number, save, brandNew, time);
    store.Close();
}

std::vector<std::string> EntryNames(const std::string& path) {
    ZipArchiveFile zip;
    zip.Open(path, ZipOpenReadOnly);
    std::vector<std::string> names;
    for (int i = 0; i < zip.GetEntryCount(); ++i) {
        ZipEntryHeader h;
        zip.GetEntryInfo(h, i);
        names.push_back(h.fileName);
    }
    return names;
}

}  // namespace

TEST(FileListStore, StartUpCreatesAMissingStoreAndReadsArchiveNumberTimes) {
    TempFolder dir;
    JobConfig config = ConfigWithJobs({"Daily", "Weekly"});
    ASSERT_TRUE(ReadLastBackupTimes(config, dir.path()));
    EXPECT_TRUE(platform::PathExists(dir / "FileLists.tq"));
    EXPECT_TRUE(config.jobs[0].lastBackup.IsZero());

    SaveRun(dir.path(), "Daily", 1, {"Data"});
    ASSERT_TRUE(ReadLastBackupTimes(config, dir.path()));
    EXPECT_EQ(config.jobs[0].lastBackup.year, 2023);
    EXPECT_EQ(config.jobs[0].lastBackup.month, 10);
    EXPECT_EQ(config.jobs[0].lastBackup.day, 6);
    EXPECT_EQ(config.jobs[0].lastBackup.hour, 14);
    EXPECT_EQ(config.jobs[0].lastBackup.minute, 30);
    EXPECT_TRUE(config.jobs[1].lastBackup.IsZero());
}

TEST(FileListStore, DamagedStoreIsKeptAsideNeverReplacedOrTruncated) {
    // Found damaged at start-up and when a run opens it (damaged between the two): no end
    // record, or one naming other volumes (a span's missing parts, or a span of its own).
    for (int kind = 0; kind < 6; ++kind) {
        const bool atStartUp = kind % 2 == 0;
        SCOPED_TRACE(testing::Message() << (atStartUp ? "start-up " : "run ") << kind / 2);
        TempFolder dir;
        SaveRun(dir.path(), "Daily", 1, {"Data"});
        SaveRun(dir.path(), "Daily", 2, {"Data"});  // FileLists.bak now holds the store after run 1
        const std::string backup = ReadFile(dir / "FileLists.bak");
        std::string damaged = "this is no zip archive at all, no end record anywhere";
        if (kind / 2 > 0) {
            damaged = ReadFile(dir / "FileLists.tq");
            const std::size_t end = damaged.rfind("PK\x05\x06");
            damaged[end + 4] = 1;                             // this volume
            damaged[end + 6] = static_cast<char>(kind / 2 - 1);  // the directory's volume
        }
        WriteFile(dir / "FileLists.tq", damaged);
        WriteFile(dir / "FileLists.tq.damaged-1", "kept by an earlier start");

        FileListStore store(dir.path());
        if (atStartUp) {
            JobConfig config = ConfigWithJobs({"Daily"});
            std::string keptAs;
            ASSERT_TRUE(ReadLastBackupTimes(config, dir.path(), &keptAs));
            EXPECT_EQ(keptAs, dir / "FileLists.tq.damaged-2");
            EXPECT_TRUE(config.jobs[0].lastBackup.IsZero());  // the old copy is not taken for the truth
            ASSERT_TRUE(store.OpenForRun());
            EXPECT_EQ(store.DamagedKeptAs(), "");
        } else {
            ASSERT_TRUE(store.OpenForRun());
            EXPECT_EQ(store.DamagedKeptAs(), dir / "FileLists.tq.damaged-2");
        }
        EXPECT_EQ(ReadFile(dir / "FileLists.tq.damaged-2"), damaged);
        EXPECT_EQ(ReadFile(dir / "FileLists.tq.damaged-1"), "kept by an earlier start");
        if (!atStartUp) {
            EXPECT_EQ(ReadFile(dir / "FileLists.bak"), backup);  // not replaced by the damaged one
        }
        EXPECT_EQ(store.ReadArchiveNumber("Daily", false), 0);
        store.Close();
        EXPECT_EQ(EntryNames(dir / "FileLists.tq"), std::vector<std::string>{});
    }
}

TEST(FileListStore, DamagedStoreWithoutBackupStartsEmpty) {
    TempFolder dir;
    WriteFile(dir / "FileLists.tq", "garbage");
    JobConfig config = ConfigWithJobs({"Daily"});
    ASSERT_TRUE(ReadLastBackupTimes(config, dir.path()));
    EXPECT_TRUE(config.jobs[0].lastBackup.IsZero());
    FileListStore store(dir.path());
    ASSERT_TRUE(store.OpenForRun());
    EXPECT_EQ(store.ReadArchiveNumber("Daily", false), 0);
}

TEST(FileListStore, RunWorksOnACopyUntilClosed) {
    TempFolder dir;
    SaveRun(dir.path(), "Daily", 1, {"Data"});
    const std::string before = ReadFile(dir / "FileLists.tq");
    {
        FileListStore store(dir.path());
        ASSERT_TRUE(store.OpenForRun());
        EXPECT_EQ(ReadFile(dir / "FileLists.bak"), before);
        const HistoryBytes h = ToBytes("new"), added{0};
        const HistoryToSave save[] = {{"Data", h, added}};
        store.SaveJob("Daily", 2, save, true, kRunTime);
        EXPECT_EQ(ReadFile(dir / "FileLists.tq"), before);
        store.Abandon();
    }
    EXPECT_EQ(ReadFile(dir / "FileLists.tq"), before);
    EXPECT_FALSE(platform::PathExists(dir / "FileLists.new"));
    {
        FileListStore store(dir.path());  // destroyed while open: abandoned as well
        ASSERT_TRUE(store.OpenForRun());
        store.SaveJob("Daily", 2, {}, true, kRunTime);
    }
    EXPECT_EQ(ReadFile(dir / "FileLists.tq"), before);
}

TEST(FileListStore, EntriesAreReplacedAndKeepOneEntryPerName) {
    TempFolder dir;
    // An older program wrote the names in other letter cases; a foreign entry stays.
    {
        ZipArchiveFile zip;
        zip.Open(dir / "FileLists.tq", ZipCreate);
        ziptest::AddEntry(zip, "DAILY\\archnum.tq", std::string("\x01\0\0\0", 4), 0);
        ziptest::AddEntry(zip, "daily\\DATA.tq", "old history");
        ziptest::AddEntry(zip, "notes.txt", "left alone");
        zip.Close();
    }
    SaveRun(dir.path(), "Daily", 2, {"Data", "Mail"});
    EXPECT_EQ(EntryNames(dir / "FileLists.tq"),
              (std::vector<std::string>{"notes.txt", "Daily\\ArchNum.tq", "Daily\\Data.tq", "Daily\\Data.end",
                                        "Daily\\Mail.tq", "Daily\\Mail.end"}));

    FileListStore store(dir.path());
    ASSERT_TRUE(store.OpenForRun());
    EXPECT_EQ(store.ReadArchiveNumber("DAILY", false), 2);
    EXPECT_EQ(store.ReadArchiveNumber("Daily", true), 0);
    HistoryBytes h;
    ASSERT_EQ(store.ReadTargetHistory("daily\\mail.TQ", h), FileListStore::Read::Found);
    EXPECT_EQ(std::string(h.begin(), h.end()), std::string("history of Mail") + '\0');
    EXPECT_EQ(store.ReadTargetHistory("Daily\\Other.tq", h), FileListStore::Read::Missing);
    store.Abandon();

    // Levels: the archive number stored, histories deflated; independent readers agree.
    ziptest::PyArchive py = ziptest::InspectWithPython(dir / "FileLists.tq");
    ASSERT_TRUE(py.ran) << py.errors;
    EXPECT_EQ(py.testzip, "None");
    ASSERT_EQ(py.entries.size(), 6u);
    EXPECT_EQ(py.entries[1].method, 0);
    EXPECT_EQ(py.entries[1].size, 4u);
    EXPECT_EQ(py.entries[2].method, 8);
    EXPECT_TRUE(ziptest::UnzipAccepts(dir / "FileLists.tq"));
}

TEST(FileListStore, BrandNewRunDeletesOnlyItsOwnJobFolder) {
    TempFolder dir;
    SaveRun(dir.path(), "Job", 3, {"Old", "Data"});
    SaveRun(dir.path(), "Job2", 5, {"Data"});
    SaveRun(dir.path(), "Job", 1, {"Data"}, true);
    EXPECT_EQ(EntryNames(dir / "FileLists.tq"),
              (std::vector<std::string>{"Job2\\ArchNum.tq", "Job2\\Data.tq", "Job2\\Data.end", "Job\\ArchNum.tq",
                                        "Job\\Data.tq", "Job\\Data.end"}));
    FileListStore store(dir.path());
    ASSERT_TRUE(store.OpenForRun());
    EXPECT_EQ(store.ReadArchiveNumber("Job", false), 1);
    EXPECT_EQ(store.ReadArchiveNumber("Job2", false), 5);
}

TEST(FileListStore, DamagedEntriesLeaveTheirJobOutAndTheStoreIsNotChanged) {
    TempFolder dir;
    {
        ZipArchiveFile zip;
        zip.Open(dir / "FileLists.tq", ZipCreate);
        ziptest::AddEntry(zip, "Job\\ArchNum.tq", "abc", 0);  // three bytes: not a number
        ziptest::AddEntry(zip, "Job\\Data.tq", ziptest::TextBytes(5000));
        zip.Close();
    }
    // Break the history's CRC in its local and central headers alike.
    std::string bytes = ReadFile(dir / "FileLists.tq");
    const std::size_t local = bytes.find(std::string("PK\x03\x04", 4), 1);
    const std::size_t central = bytes.rfind("Job/Data.tq") - 46;
    ziptest::Put32(bytes, local + 14, ziptest::U32(bytes, local + 14) ^ 1);
    ziptest::Put32(bytes, central + 16, ziptest::U32(bytes, central + 16) ^ 1);
    WriteFile(dir / "FileLists.tq", bytes);

    FileListStore store(dir.path());
    ASSERT_TRUE(store.OpenForRun());
    EXPECT_EQ(store.DamagedJobs(), std::vector<std::string>{"Job"});
    EXPECT_EQ(store.DamagedKeptAs(), dir / "FileLists.tq.damaged-1");
    // Out of the run's store, so that the run rebuilds the job from its archives.
    EXPECT_EQ(store.ReadArchiveNumber("Job", false), 0);
    HistoryBytes h;
    EXPECT_EQ(store.ReadTargetHistory("Job\\Data.tq", h), FileListStore::Read::Missing);
    EXPECT_TRUE(h.empty());
    store.Abandon();
    EXPECT_EQ(ReadFile(dir / "FileLists.tq"), bytes);
    EXPECT_EQ(ReadFile(dir / "FileLists.tq.damaged-1"), bytes);
    EXPECT_FALSE(platform::PathExists(dir / "FileLists.bak"));  // only a store read whole is copied
}

TEST(FileListStore, TargetNamedLikeTheArchiveNumberIsRefused) {
    TempFolder dir;
    FileListStore store(dir.path());
    ASSERT_TRUE(store.OpenForRun());
    const HistoryBytes h = ToBytes("x"), added{0};
    const HistoryToSave save[] = {{"archnum", h, added}};
    EXPECT_THROW(store.SaveJob("Job", 1, save, false, kRunTime), std::invalid_argument);
}

TEST(FileListStore, OneRunAtATimeHoldsTheStore) {
    TempFolder dir;
    FileListStore first(dir.path());
    ASSERT_TRUE(first.OpenForRun());
    FileListStore second(dir.path());
    EXPECT_FALSE(second.OpenForRun());
    first.Close();
    EXPECT_TRUE(second.OpenForRun());
}
