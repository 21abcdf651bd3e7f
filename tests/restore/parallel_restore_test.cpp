// SPDX-License-Identifier: GPL-3.0-or-later
// The restore on several worker threads: the same files, times and modes as on one thread,
// and faults in the middle of it (a damaged entry, Cancel, a full disk) handled in order
// without partial files.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <optional>
#include <filesystem>
#include <fstream>
#include <map>
#include <sys/resource.h>
#include <sys/stat.h>

#include "restore/archive_set.h"
#include "tests/restore/scripted_restore_ui.h"
#include "tests/restore/set_builder.h"
#include "tests/support/file_size_limit.h"
#include "tests/support/temp_folder.h"
#include "zip/zip_archive_file.h"

namespace halvex {
namespace {

namespace fs = std::filesystem;
using test::Day;

// Every file below `folder`: its bytes, time and mode, by relative path.
struct FileState {
    std::string bytes;
    std::int64_t mtimeNs = 0;
    mode_t mode = 0;
};
std::map<std::string, FileState> Snapshot(const std::string& folder) {
    std::map<std::string, FileState> files;
    for (const auto& item : fs::recursive_directory_iterator(folder)) {
        struct stat st {};
        if (::lstat(item.path().c_str(), &st) != 0) continue;
        FileState state{{}, st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec, st.st_mode};
        if (S_ISREG(st.st_mode)) {
            std::ifstream in(item.path(), std::ios::binary);
            state.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
        files[fs::relative(item.path(), folder).string()] = state;
    }
    return files;
}

using test::FileSizeLimit;

// The file of folder d<folder> numbered n: 0 bytes, a few KiB, or (f7) 1 MiB.
constexpr std::uint64_t kLarge = 1 << 20;
std::uint64_t SizeOf(int folder, int n) { return n == 7 ? kLarge : n % 5 == 0 ? 0 : std::uint64_t(n) * n * 97 + folder; }

// A fault arranged before a restore on four threads, and what it leaves.
struct Fault {
    const char* name;
    std::vector<std::string> damaged;    // entries with a byte flipped
    int cancelAtPump = 0;                 // Cancel clicked (and confirmed) at this pump
    rlim_t fileSizeLimit = 0;             // writes past it fail as on a full disk
    std::vector<MessageAnswer> answers;
    RestoreResult result;
    std::vector<std::string> missing;     // not restored; every other file complete
    std::vector<std::string> mentioned;   // the messages name these files, in this order
};

class ParallelRestoreTest : public ::testing::TestWithParam<Fault> {
protected:
    void SetUp() override {
        // Entries past half a MiB are inflated streaming, smaller ones in one step: both run.
        ZipArchiveFile::SetWholeInflateLimit(kLarge / 2);
        test::MakeFolders(temp / "set");
        builder.AddTarget("Data", "/data");
        // 3 folders of 40 files, each with its own time.
        std::string tree = "[";
        for (int folder = 0; folder < 3; ++folder) {
            tree += (folder > 0 ? " d" : "d") + std::to_string(folder) + "(";
            for (int n = 0; n < 40; ++n)
                tree += (n > 0 ? ",f" : "f") + std::to_string(n) + "@" + std::to_string(Day(1, folder * 100 + n)) +
                        ":" + std::to_string(SizeOf(folder, n));
            tree += ")";
        }
        builder.Run(Day(1), {{"Data", "", tree + "]"}});
        ASSERT_TRUE(set.OpenSet(builder.ArchivePath(1)));
        set.SelectDate(0);
        set.SetUi(&ui);
    }
    void TearDown() override { ZipArchiveFile::SetWholeInflateLimit(ZipArchiveFile::kDefaultWholeInflateLimit); }

    RestoreResult Restore(const std::string& destination, int threads) {
        set.SetRestoreThreads(threads);
        set.destinationPath = destination;
        EXPECT_EQ(set.PrepareDestination(), DestinationResult::Ready);
        set.sourcePath = "Data";
        set.bytesDone = 0;
        return set.RestoreTree(set.GetTargetTree(0));
    }
    // Flips a byte in the middle of the stored data of `entry`.
    void Damage(const std::string& entry) {
        const std::string path = builder.ArchivePath(1);
        ZipArchiveFile zip;
        zip.Open(path, ZipOpenReadOnly);
        ZipEntryHeader header;
        ASSERT_TRUE(zip.GetEntryInfo(header, zip.FindEntry(entry, true)));
        zip.Close(true);
        std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
        char local[30];
        file.seekg(static_cast<std::streamoff>(header.localHeaderOffset));
        file.read(local, sizeof local);
        const auto le16 = [&](int at) { return (local[at] & 0xff) | (local[at + 1] & 0xff) << 8; };
        const auto at = static_cast<std::streamoff>(header.localHeaderOffset + 30 + le16(26) + le16(28) +
                                                     header.compressedSize / 2);
        char byte = 0;
        file.seekg(at);
        file.read(&byte, 1);
        byte = static_cast<char>(byte ^ 0x5a);
        file.seekp(at);
        file.write(&byte, 1);
    }

    test::TempFolder temp;
    test::SetBuilder builder{temp / "set", "Job"};
    test::ScriptedRestoreUi ui;
    ArchiveSet set;
};

TEST_F(ParallelRestoreTest, ManyThreadsRestoreWhatOneThreadRestores) {
    ASSERT_EQ(Restore(temp / "one", 1), RestoreResult::Completed);
    ASSERT_EQ(Restore(temp / "four", 4), RestoreResult::Completed);
    const auto one = Snapshot(temp / "one");
    EXPECT_EQ(one.size(), 3u + 3 * 40);
    EXPECT_EQ(one.at("d1/f7").bytes, test::EntryContent("Data\\d1\\f7", 1, kLarge));
    EXPECT_EQ(one.at("d2/f39").mtimeNs, (static_cast<std::int64_t>(Day(1, 239)) - 116444736000000000LL) * 100);
    const auto four = Snapshot(temp / "four");
    ASSERT_EQ(four.size(), one.size());
    for (const auto& [name, state] : one) {
        EXPECT_EQ(four.at(name).bytes, state.bytes) << name;
        EXPECT_EQ(four.at(name).mode, state.mode) << name;
        // Folders take the time their files were made; files the time they were backed up with.
        if (!S_ISDIR(state.mode)) {
            EXPECT_EQ(four.at(name).mtimeNs, state.mtimeNs) << name;
        }
    }
    EXPECT_EQ(ui.barPositions.back(), 1000);
    EXPECT_TRUE(ui.messages.empty());
}

TEST_P(ParallelRestoreTest, FaultsInTheMiddleAreHandledInOrderWithoutPartialFiles) {
    const Fault& fault = GetParam();
    for (const std::string& entry : fault.damaged) Damage(entry);
    ui.messageAnswers.assign(fault.answers.begin(), fault.answers.end());
    ui.onPump = [&](test::ScriptedRestoreUi& u) {
        if (u.pumps == fault.cancelAtPump) u.ClickCancel();
    };
    const std::string out = temp / "out";
    {
        std::optional<FileSizeLimit> limit;
        if (fault.fileSizeLimit != 0) limit.emplace(fault.fileSizeLimit);
        EXPECT_EQ(Restore(out, 4), fault.result);
    }
    EXPECT_FALSE(set.IsRunning());
    EXPECT_EQ(ui.progressOpened, ui.progressClosed);
    const auto restored = Snapshot(out);
    int files = 0;
    for (int folder = 0; folder < 3; ++folder) {
        for (int n = 0; n < 40; ++n) {
            const std::string name = "d" + std::to_string(folder) + "/f" + std::to_string(n);
            const auto found = restored.find(name);
            const bool missing = std::find(fault.missing.begin(), fault.missing.end(), name) != fault.missing.end();
            if (found == restored.end()) {
                // Only a stopped restore leaves out more than its failures.
                EXPECT_TRUE(missing || fault.result == RestoreResult::Aborted) << name;
                continue;
            }
            EXPECT_FALSE(missing) << name;
            ++files;
            EXPECT_EQ(found->second.bytes, test::EntryContent("Data\\d" + std::to_string(folder) + "\\f" + std::to_string(n),
                                                             1, SizeOf(folder, n)))
                << name;
        }
    }
    // Nothing else: no temporary file under any name.
    const auto folders = std::count_if(restored.begin(), restored.end(), [](const auto& item) { return S_ISDIR(item.second.mode); });
    EXPECT_EQ(restored.size(), static_cast<std::size_t>(folders + files));
    if (fault.result == RestoreResult::Aborted) {
        EXPECT_LT(files, 120);
    }
    ASSERT_EQ(ui.messages.size(), fault.mentioned.size());
    for (std::size_t i = 0; i < ui.messages.size(); ++i)
        EXPECT_NE(ui.messages[i].find(fault.mentioned[i]), std::string::npos) << ui.messages[i];
}

INSTANTIATE_TEST_SUITE_P(
    Faults, ParallelRestoreTest,
    ::testing::Values(
        Fault{"DamagedEntriesAreAskedAboutInCatalogOrder", {"Data\\d1\\f7", "Data\\d1\\f13"}, 0, 0,
              {MessageAnswer::Ignore, MessageAnswer::Ignore}, RestoreResult::Completed, {"d1/f7", "d1/f13"},
              {"Data/d1/f13", "Data/d1/f7"}},
        Fault{"RetryAfterADamagedEntryThenAbortStopsEverything", {"Data\\d0\\f3"}, 0, 0,
              {MessageAnswer::Retry, MessageAnswer::Abort}, RestoreResult::Aborted, {"d0/f3"},
              {"Data/d0/f3", "Data/d0/f3"}},
        Fault{"CancelStopsTheWorkers", {}, 2, 0, {MessageAnswer::Yes}, RestoreResult::Aborted, {},
              {"File restoration in progress"}},
        Fault{"FullDiskFailsTheFilesThatDoNotFit", {}, 0, kLarge / 2,
              {MessageAnswer::Ignore, MessageAnswer::Ignore, MessageAnswer::Ignore}, RestoreResult::Completed,
              {"d0/f7", "d1/f7", "d2/f7"}, {"d0/f7: File too large", "Data/d1/f7", "Data/d2/f7"}}),
    [](const ::testing::TestParamInfo<Fault>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace halvex
