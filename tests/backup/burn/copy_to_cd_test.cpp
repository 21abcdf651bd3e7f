// SPDX-License-Identifier: GPL-3.0-or-later
// The copy-to-CD task at the end of whole runs (scripted view, a fake burner): messages and
// the disc loop, which archives are burned and deleted, the restore program, one connection
// per run, every way a disc copy can fail, the console's modes, and refused cancels.
#include <gtest/gtest.h>

#include <deque>
#include <map>

#include "backup/burn/burn_messages.h"
#include "platform/file_attributes.h"
#include "platform/file_operations.h"
#include "platform/file_time.h"
#include "tests/backup/burn/burn_test_support.h"
#include "tests/backup/run_fixture.h"

using namespace halvex;
using namespace halvex::backuptest;
using namespace halvex::burntest;
using halvex::test::ReadFile;
using Lines = std::vector<std::string>;

namespace {

struct FakeDisc {
    DiscState writable = DiscState::Writable;
    std::string label;
    std::map<std::string, std::pair<std::string, std::int64_t>> files;  // content, seconds
};

// The drive and what the run's burner did with it.
struct FakeDrive {
    std::deque<FakeDisc> toInsert;  // each Load takes the next one, while there are any
    FakeDisc disc;
    Lines calls, burnedFrom;
    ConnectResult connectAnswer = ConnectResult::Connected;
    RecorderResult openAnswer = RecorderResult::Open;
    int burnersMade = 0;
    std::optional<std::string> burnFailure;
    bool damageBurn = false;
    std::function<void()> duringBurn;
};

class FakeBurner : public DiscBurner {
public:
    explicit FakeBurner(FakeDrive& drive) : d_(drive) {}
    ConnectResult Connect() override { return Call("connect", d_.connectAnswer); }
    RecorderResult OpenRecorder() override { return Call("open", d_.openAnswer); }
    void CloseRecorder() override { Call("close", 0); }
    TrayResult Eject() override { return Call("eject", TrayResult::Done); }
    TrayResult Load() override {
        if (!d_.toInsert.empty()) d_.disc = d_.toInsert.front(), d_.toInsert.pop_front();
        return Call("load", TrayResult::Done);
    }
    DiscState DiscWritableState() override { return d_.disc.writable; }
    std::string VolumeLabel() override { return d_.disc.label; }
    std::vector<DiscFile> DriveRoot() override {
        std::vector<DiscFile> root;
        for (const auto& [name, f] : d_.disc.files)
            root.push_back({name, f.first.size(), platform::FileTimeFromUnixSeconds(f.second)});
        return root;
    }
    BurnResult BurnFolders(const FileTreeNode* folders, const std::optional<std::string>& volume) override {
        Call(("burn " + volume.value_or("-")).c_str(), 0);
        if (d_.duringBurn) d_.duringBurn();
        if (d_.burnFailure) throw BurnError(*d_.burnFailure);
        for (; folders; folders = folders->nextSibling) {
            for (const FileTreeFile* f = folders->files; f; f = f->next) {
                const std::string path = std::string(folders->name) + "/" + f->name;
                platform::FileTime time = 0;
                platform::GetLastWriteTime(path, time);
                d_.burnedFrom.push_back(path);
                d_.disc.files[f->name] = {ReadFile(path) + (d_.damageBurn ? "!" : ""),
                                          platform::UnixSecondsFromFileTime(time)};
            }
        }
        return BurnResult::Burned;
    }
    std::optional<FileDigest> DiscFileDigest(const std::string& name) override {
        auto it = d_.disc.files.find(name);
        return it == d_.disc.files.end() ? std::nullopt : std::optional(DigestOf(it->second.first));
    }
    void SetProgress(BurnProgress) override {}
    void Disconnect() override { Call("disconnect", 0); }

private:
    template <typename Answer>
    Answer Call(const char* name, Answer answer) {
        d_.calls.push_back(name);
        return answer;
    }
    FakeDrive& d_;
};

constexpr std::int64_t kRestoreTime = 1600000500;
const std::string kPrompt = "Load CD: " + std::string(kInsertCdText) + "Data";
const std::string kDone = "Done: Backup Successful!";

class CopyToCdTest : public RunFixture {
protected:
    void SetUp() override {
        RunFixture::SetUp();
        Put("bin/halvex-restore", "restore program", kRestoreTime);
        Put("bin/autorun.sh", "#!/bin/sh\n");
        Put("program/halvex-restore", "the working folder's: never burned");
        Put("src/a.txt", "a");
        Put("other/b.txt", "b");
    }

    // Job Data (CD "Backup Disc") and job DataX (no CD), their archives in one folder (the
    // program folder without zip:).
    void TwoJobs(bool withZip = true) {
        archives = withZip ? dir / "archives" : program;
        const std::string zip = withZip ? "zip:\"" + archives + "\"" : "";
        Ini({"[Data]", "CDName:\"Backup Disc\"", zip, "dir:\"" + (dir / "src") + "\"", "to:\"A\"", "[DataX]", zip,
             "dir:\"" + (dir / "other") + "\"", "to:\"B\""});
    }

    BackupEngine::RunOutcome RunWithDisc(ScriptedBackupView& view, std::deque<MessageAnswer> answers = {},
                                         DiscPrompt prompt = DiscPrompt::Ask, bool brandNew = false) {
        view.answers = std::move(answers);
        return Run(view, {}, brandNew, [&](BackupEngine& e) {
            e.SetDiscSettings({prompt, dir / "bin", [this] {
                                   ++drive.burnersMade;
                                   return std::make_unique<FakeBurner>(drive);
                               }});
        });
    }
    bool Kept(const std::string& name) { return platform::PathExists(archives + "/" + name); }

    std::string archives;
    FakeDrive drive;
};

}  // namespace

TEST_F(CopyToCdTest, BurnsExactlyTheJobsArchivesWithTheRestoreProgramThenDeletesThem) {
    TwoJobs();
    ScriptedBackupView view;
    ASSERT_EQ(RunWithDisc(view, {MessageAnswer::Ok}), BackupEngine::RunOutcome::Succeeded);
    EXPECT_EQ(view.MessageLines(), (Lines{kPrompt, kDone}));
    EXPECT_EQ(drive.calls, (Lines{"connect", "open", "eject", "load", "burn Backup Disc", "eject", "close", "disconnect"}));
    // "DataX.TQBak" matches "Data*.TQBak" but belongs to the other job: neither burned nor deleted.
    EXPECT_EQ(drive.burnedFrom, (Lines{archives + "/Data.TQBak", dir / "bin/halvex-restore", dir / "bin/autorun.sh"}));
    EXPECT_FALSE(Kept("Data.TQBak"));
    EXPECT_TRUE(Kept("DataX.TQBak"));
    Lines statuses;
    for (const std::string& call : view.Calls())
        if (call.rfind("text Status ", 0) == 0) statuses.push_back(call.substr(12));
    EXPECT_EQ(Lines(statuses.end() - 3, statuses.end()),
              (Lines{std::string(kInitializingConnectionText), std::string(kWaitingForCdText),
                     std::string(kUnloadingConnectionText)}));
    EXPECT_TRUE(view.Saw("text TimeRemaining ?"));
    EXPECT_EQ(ExitStatusOfRun(*engine), kExitSucceeded);

    // The next run has nothing new: no archive is found and nothing is loaded.
    drive = FakeDrive{};
    ScriptedBackupView again;
    ASSERT_EQ(RunWithDisc(again), BackupEngine::RunOutcome::Succeeded);
    EXPECT_EQ(again.MessageLines(), (Lines{"Error: " + std::string(kNoArchivesFoundText) + "Data", kDone}));
    EXPECT_EQ(drive.burnersMade, 0);
}

TEST_F(CopyToCdTest, AnInstalledCopyBurnsTheAutorunFileOfItsDataFolder) {
    TwoJobs();
    ASSERT_TRUE(platform::DeleteFile(dir / "bin/autorun.sh"));
    const std::string data = InstalledDataFolder(dir / "bin");
    Put(data.substr(dir.path().size() + 1) + "/autorun.sh", "#!/bin/sh\ninstalled\n");
    ScriptedBackupView view;
    ASSERT_EQ(RunWithDisc(view, {MessageAnswer::Ok}), BackupEngine::RunOutcome::Succeeded);
    EXPECT_EQ(drive.burnedFrom, (Lines{archives + "/Data.TQBak", dir / "bin/halvex-restore", data + "/autorun.sh"}));
    EXPECT_EQ(drive.disc.files["autorun.sh"].first, "#!/bin/sh\ninstalled\n");
}

TEST_F(CopyToCdTest, DiscLoopAsksUntilADiscIsAccepted) {
    TwoJobs();
    auto disc = [](DiscState writable, std::string label, std::string file) {
        FakeDisc d{writable, std::move(label), {}};
        if (!file.empty()) d.files[file] = {"old", 1};
        return d;
    };
    using enum DiscState;
    drive.toInsert = {disc(Unknown, "", ""), disc(NotWritable, "", ""), disc(Writable, "Other", ""),
                      disc(Writable, "", "Data3.TQBak"), disc(Writable, "BACKUP DISC", "DataX.TQBak")};  // case differs; another job's archive
    ScriptedBackupView view;
    ASSERT_EQ(RunWithDisc(view, {MessageAnswer::Ok, MessageAnswer::Ok, MessageAnswer::Ok, MessageAnswer::No,
                                 MessageAnswer::Ok, MessageAnswer::Ok},
                          DiscPrompt::Ask, true),
              BackupEngine::RunOutcome::Succeeded);
    EXPECT_EQ(view.MessageLines(),
              (Lines{kPrompt, kPrompt, "Error : " + std::string(kNotWritableText), kPrompt,
                     "Load CD: " + std::string(kLabelMismatchText), kPrompt,
                     "Error: " + std::string(kOldBackupsOnDiscText), kPrompt, kDone}));
    EXPECT_EQ(std::count(drive.calls.begin(), drive.calls.end(), "eject"), 6);
    EXPECT_FALSE(Kept("Data.TQBak"));
}

TEST_F(CopyToCdTest, OneConnectionForTwoJobsAndACancelledPromptKeepsTheArchives) {
    archives = dir / "archives";
    Ini({"[One]", "CDName:\"Disc 1\"", "zip:\"" + archives + "\"", "dir:\"" + (dir / "src") + "\"", "to:\"A\"",
         "[Two]", "CDName:\"Disc 2\"", "zip:\"" + archives + "\"", "dir:\"" + (dir / "other") + "\"", "to:\"B\""});
    // The disc holds this build of the restore program already: it is not burned again.
    drive.disc.files["halvex-restore"] = {"restore program", kRestoreTime};
    ScriptedBackupView view;
    ASSERT_EQ(RunWithDisc(view, {MessageAnswer::Cancel, MessageAnswer::Ok}), BackupEngine::RunOutcome::Succeeded);
    EXPECT_EQ(drive.burnersMade, 1);
    EXPECT_EQ(std::count(drive.calls.begin(), drive.calls.end(), "connect"), 1);
    EXPECT_EQ(drive.burnedFrom, (Lines{archives + "/Two.TQBak"}));
    EXPECT_TRUE(Kept("One.TQBak"));
    EXPECT_FALSE(Kept("Two.TQBak"));
    EXPECT_EQ(engine->SkippedEntries(), (Lines{"Job not copied to CD: One"}));
    EXPECT_EQ(ExitStatusOfRun(*engine), kExitSkipped);
}

TEST_F(CopyToCdTest, EveryFailureKeepsTheArchivesAndTellsTheUser) {
    const struct {
        std::function<void(FakeDrive&)> arrange;
        std::string message;
    } cases[] = {
        {[](FakeDrive& d) { d.connectAnswer = ConnectResult::NoLibrary; }, "Error: " + std::string(kCouldNotConnectText)},
        {[](FakeDrive& d) { d.openAnswer = RecorderResult::CannotOpen; }, "Error: " + std::string(kCouldNotInitBurnerText)},
        {[](FakeDrive& d) { d.burnFailure = std::string(kBurnFailedText); }, "Burn Error: " + std::string(kBurnFailedText)},
        {[](FakeDrive& d) { d.damageBurn = true; },
         "Error: The backups of job 'Data' were burned, but could not be read back unchanged from the CD.\n"
         "They were kept in the backup folder:\n\nData.TQBak"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        test::RemoveTree(dir / "archives");
        test::RemoveTree(program + "/FileLists.tq");
        TwoJobs();
        drive = FakeDrive{};
        c.arrange(drive);
        ScriptedBackupView view;
        ASSERT_EQ(RunWithDisc(view, {MessageAnswer::Ok}), BackupEngine::RunOutcome::Succeeded);
        EXPECT_EQ(view.MessageLines().rbegin()[1], c.message);
        EXPECT_TRUE(Kept("Data.TQBak"));
        EXPECT_EQ(drive.calls.back(), "disconnect");
        EXPECT_EQ(engine->SkippedEntries(), (Lines{"Job not copied to CD: Data"}));
    }
}

TEST_F(CopyToCdTest, UnattendedRunsSkipOrTakeTheDiscInTheDriveAndRefuseCancels) {
    TwoJobs(false);
    // Without a terminal and without --disc-ready nothing is loaded.
    ScriptedBackupView skip;
    ASSERT_EQ(RunWithDisc(skip, {}, DiscPrompt::Skip), BackupEngine::RunOutcome::Succeeded);
    EXPECT_EQ(drive.burnersMade, 0);
    EXPECT_EQ(ExitStatusOfRun(*engine), kExitSkipped);

    // --disc-ready: the prompt is answered at once, the tray never moves, and a disc with
    // another label is not used.
    Put("src/a2.txt", "new");
    drive.disc.label = "Someone else's";
    ScriptedBackupView ready;
    ASSERT_EQ(RunWithDisc(ready, {}, DiscPrompt::DiscReady), BackupEngine::RunOutcome::Succeeded);
    EXPECT_EQ(ready.MessageLines(), (Lines{kPrompt, "Load CD: " + std::string(kLabelMismatchNotice), kDone}));
    EXPECT_EQ(drive.calls, (Lines{"connect", "open", "load", "close", "disconnect"}));
    EXPECT_EQ(ExitStatusOfRun(*engine), kExitSkipped);

    // With the right disc all three archives go onto it from the program folder; a cancel
    // request meanwhile is refused.
    drive.disc.label = "";
    Lines asked;
    drive.duringBurn = [&] { engine->RequestCancel(Asker(asked, MessageAnswer::Yes)); };
    Put("src/a3.txt", "newer");
    ScriptedBackupView burned;
    ASSERT_EQ(RunWithDisc(burned, {}, DiscPrompt::DiscReady), BackupEngine::RunOutcome::Succeeded);
    EXPECT_EQ(asked, (Lines{"Abort: Unable to abort at this time."}));
    EXPECT_EQ(ExitStatusOfRun(*engine), kExitSucceeded);
    EXPECT_EQ(std::count(drive.calls.begin(), drive.calls.end(), "eject"), 0);
    EXPECT_EQ(drive.burnedFrom.front().rfind(archives + "/Data", 0), 0u);
    for (const char* name : {"Data.TQBak", "Data2.TQBak", "Data3.TQBak"}) {
        EXPECT_EQ(drive.disc.files.count(name), 1u) << name;
        EXPECT_FALSE(Kept(name)) << name;
    }
    EXPECT_TRUE(Kept("DataX.TQBak"));
}
