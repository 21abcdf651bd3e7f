// The copy-to-CD task at the end of whole runs (scripted view, a fake burner): the messages
// and the disc loop, which archives are burned and deleted, the restore program, one
// connection per run, every way a job's disc copy can fail, and the console's modes.
#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <sys/stat.h>

#include "backup/burn/burn_messages.h"
#include "platform/file_attributes.h"
#include "platform/file_time.h"
#include "tests/backup/burn/burn_test_support.h"
#include "tests/backup/run_fixture.h"

using namespace halvex;
using namespace halvex::backuptest;
using namespace halvex::burntest;
using halvex::test::ReadFile;
using halvex::test::WriteFile;

namespace {

struct FakeDisc {
    int writable = 1;
    std::string label;
    std::map<std::string, std::pair<std::string, std::int64_t>> files;  // content, time in seconds
};

// The drive and what the fake burners did with it; it outlives the burners of each run.
struct FakeDrive {
    std::deque<FakeDisc> toInsert;  // each Load takes the next one, when there is one
    FakeDisc disc;
    std::vector<std::string> calls;
    std::vector<std::string> burnedFrom;  // source paths of every burned file
    int connectAnswer = 0, openAnswer = 0;
    std::optional<std::string> burnFailure;
    bool damageBurn = false;
    int burnersMade = 0;
    std::function<void()> duringBurn;
};

class FakeBurner : public DiscBurner {
public:
    explicit FakeBurner(FakeDrive& drive) : d_(drive) {}
    int Connect() override { return Call("connect", d_.connectAnswer); }
    int OpenRecorder() override { return Call("open", d_.openAnswer); }
    void CloseRecorder() override { d_.calls.push_back("close"); }
    int Eject() override { return Call("eject", 0); }
    int Load() override {
        if (!d_.toInsert.empty()) {
            d_.disc = d_.toInsert.front();
            d_.toInsert.pop_front();
        }
        return Call("load", 0);
    }
    int DiscWritableState() override { return d_.disc.writable; }
    std::string VolumeLabel() override { return d_.disc.label; }
    std::vector<DiscFile> DriveRoot() override {
        std::vector<DiscFile> root;
        for (const auto& [name, file] : d_.disc.files)
            root.push_back({name, file.first.size(), platform::FileTimeFromUnixSeconds(file.second)});
        return root;
    }
    int BurnFolders(const FileTreeNode* folders, const std::optional<std::string>& volume, bool, bool) override {
        d_.calls.push_back("burn " + volume.value_or("-"));
        if (d_.duringBurn) d_.duringBurn();
        if (d_.burnFailure) throw BurnError(*d_.burnFailure);
        for (const FileTreeNode* folder = folders; folder; folder = folder->nextSibling) {
            for (const FileTreeFile* f = folder->files; f; f = f->next) {
                const std::string path = std::string(folder->name) + "/" + f->name;
                d_.burnedFrom.push_back(path);
                struct stat st {};
                stat(path.c_str(), &st);
                d_.disc.files[f->name] = {ReadFile(path) + (d_.damageBurn ? "!" : ""), st.st_mtim.tv_sec};
            }
        }
        if (volume) d_.disc.label = *volume;
        return 0;
    }
    std::optional<FileDigest> DiscFileDigest(const std::string& name) override {
        auto it = d_.disc.files.find(name);
        if (it == d_.disc.files.end()) return std::nullopt;
        return DigestOf(it->second.first);
    }
    void SetProgress(BurnProgress) override {}
    void Disconnect() override { d_.calls.push_back("disconnect"); }

private:
    int Call(const char* name, int answer) {
        d_.calls.push_back(name);
        return answer;
    }
    FakeDrive& d_;
};

const std::string kRestoreTimeOnDisk = "1600000500";

class CopyToCdTest : public RunFixture {
protected:
    void SetUp() override {
        RunFixture::SetUp();
        bin = dir / "bin";
        Put("bin/halvex-restore", "restore program", 1600000500);
        Put("bin/autorun.sh", "#!/bin/sh\n");
        // Another file of that name in the working folder: never the one burned.
        Put("program/halvex-restore", "not this one");
        Put("src/a.txt", "a");
        Put("other/b.txt", "b");
    }

    // Job Data (CD "Backup Disc") and job DataX (no CD), archives in one folder.
    void TwoJobs(bool withZip = true) {
        const std::string zip = withZip ? "zip:\"" + (dir / "archives") + "\"" : "";
        Ini({"[Data]", "CDName:\"Backup Disc\"", zip, "dir:\"" + (dir / "src") + "\"", "to:\"A\"", "[DataX]", zip,
             "dir:\"" + (dir / "other") + "\"", "to:\"B\""});
    }

    BackupEngine::RunOutcome RunWithDisc(ScriptedBackupView& view, DiscPrompt prompt = DiscPrompt::Ask,
                                         bool brandNew = false) {
        return Run(view, {}, brandNew, [&](BackupEngine& e) {
            CopyToCdSettings settings;
            settings.prompt = prompt;
            settings.programFolder = bin;
            settings.makeBurner = [this] {
                ++drive.burnersMade;
                return std::make_unique<FakeBurner>(drive);
            };
            e.SetDiscSettings(std::move(settings));
        });
    }

    std::vector<std::string> StatusTexts(const ScriptedBackupView& view) {
        std::vector<std::string> out;
        for (const std::string& call : view.Calls())
            if (call.rfind("text Status ", 0) == 0) out.push_back(call.substr(12));
        return out;
    }

    std::string Archive(const std::string& name) { return dir / ("archives/" + name); }

    std::string bin;
    FakeDrive drive;
};

const std::string kPrompt = std::string(kLoadCdCaption) + ": " + std::string(kInsertCdText) + "Data";
const std::string kDone = "Done: Backup Successfull!";

}  // namespace

TEST_F(CopyToCdTest, BurnsExactlyTheJobsArchivesWithTheRestoreProgramThenDeletesThem) {
    TwoJobs();
    ScriptedBackupView view;
    view.answers = {MessageAnswer::Ok};
    ASSERT_EQ(RunWithDisc(view), BackupEngine::RunOutcome::Succeeded);
    EXPECT_EQ(view.MessageLines(), (std::vector<std::string>{kPrompt, kDone}));
    EXPECT_EQ(drive.calls, (std::vector<std::string>{"connect", "open", "eject", "load", "burn Backup Disc", "eject",
                                                     "close", "disconnect"}));
    // Base "Data" also matches "DataX.TQBak" as a wildcard; that job's archive is not touched.
    EXPECT_EQ(drive.burnedFrom,
              (std::vector<std::string>{Archive("Data.TQBak"), bin + "/halvex-restore", bin + "/autorun.sh"}));
    EXPECT_FALSE(platform::PathExists(Archive("Data.TQBak")));
    EXPECT_TRUE(platform::PathExists(Archive("DataX.TQBak")));
    const std::vector<std::string> statuses = StatusTexts(view);
    const std::vector<std::string> tail(statuses.end() - 3, statuses.end());
    EXPECT_EQ(tail, (std::vector<std::string>{std::string(kInitializingConnectionText), std::string(kWaitingForCdText),
                                              std::string(kUnloadingConnectionText)}));
    EXPECT_TRUE(view.Saw("text TimeRemaining ?"));
    EXPECT_EQ(ExitStatusOfRun(*engine), kExitSucceeded);

    // The next run has nothing new: no archive is found and nothing is loaded.
    drive = FakeDrive{};
    ScriptedBackupView again;
    ASSERT_EQ(RunWithDisc(again), BackupEngine::RunOutcome::Succeeded);
    EXPECT_EQ(again.MessageLines(),
              (std::vector<std::string>{"Error: " + std::string(kNoArchivesFoundText) + "Data", kDone}));
    EXPECT_EQ(drive.burnersMade, 0);
}

TEST_F(CopyToCdTest, DiscLoopAsksAgainUntilADiscIsAccepted) {
    TwoJobs();
    FakeDisc noInfo, readOnly, otherLabel, sameLabel;
    noInfo.writable = -1;
    readOnly.writable = 0;
    otherLabel.label = "Other";
    sameLabel.label = "BACKUP DISC";  // letter case is not a difference
    drive.toInsert = {noInfo, readOnly, otherLabel, sameLabel};
    ScriptedBackupView view;
    view.answers = {MessageAnswer::Ok, MessageAnswer::Ok, MessageAnswer::Ok, MessageAnswer::No, MessageAnswer::Ok};
    ASSERT_EQ(RunWithDisc(view), BackupEngine::RunOutcome::Succeeded);
    EXPECT_EQ(view.MessageLines(),
              (std::vector<std::string>{kPrompt, kPrompt, "Error : " + std::string(kNotWritableText), kPrompt,
                                        "Load CD: " + std::string(kLabelMismatchText), kPrompt, kDone}));
    EXPECT_EQ(std::count(drive.calls.begin(), drive.calls.end(), "eject"), 5);
    EXPECT_FALSE(platform::PathExists(Archive("Data.TQBak")));
}

TEST_F(CopyToCdTest, BrandNewRunRefusesADiscWithThisJobsArchivesOnly) {
    TwoJobs();
    FakeDisc own, others;
    own.files["Data3.TQBak"] = {"old", 1};
    others.files["DataX.TQBak"] = {"x", 1};
    drive.toInsert = {own, others};
    ScriptedBackupView view;
    view.answers = {MessageAnswer::Ok, MessageAnswer::Ok};
    ASSERT_EQ(RunWithDisc(view, DiscPrompt::Ask, true), BackupEngine::RunOutcome::Succeeded);
    EXPECT_EQ(view.MessageLines(),
              (std::vector<std::string>{kPrompt, "Error: " + std::string(kOldBackupsOnDiscText), kPrompt, kDone}));
    EXPECT_EQ(drive.burnedFrom.front(), Archive("Data.TQBak"));
}

TEST_F(CopyToCdTest, OneConnectionForTwoJobsAndACancelledPromptKeepsTheArchives) {
    Ini({"[One]", "CDName:\"Disc 1\"", "zip:\"" + (dir / "archives") + "\"", "dir:\"" + (dir / "src") + "\"",
         "to:\"A\"", "[Two]", "CDName:\"Disc 2\"", "zip:\"" + (dir / "archives") + "\"",
         "dir:\"" + (dir / "other") + "\"", "to:\"B\""});
    // The disc already holds this build of the restore program: it is not burned again.
    drive.disc.files["halvex-restore"] = {"restore program", std::stoll(kRestoreTimeOnDisk)};
    ScriptedBackupView view;
    view.answers = {MessageAnswer::Cancel, MessageAnswer::Ok};
    ASSERT_EQ(RunWithDisc(view), BackupEngine::RunOutcome::Succeeded);
    EXPECT_EQ(drive.burnersMade, 1);
    EXPECT_EQ(std::count(drive.calls.begin(), drive.calls.end(), "connect"), 1);
    EXPECT_EQ(drive.burnedFrom, (std::vector<std::string>{Archive("Two.TQBak")}));
    EXPECT_TRUE(platform::PathExists(Archive("One.TQBak")));
    EXPECT_FALSE(platform::PathExists(Archive("Two.TQBak")));
    EXPECT_EQ(engine->SkippedEntries(), (std::vector<std::string>{"Job not copied to CD: One"}));
    EXPECT_EQ(ExitStatusOfRun(*engine), kExitSkipped);
}

TEST_F(CopyToCdTest, EveryFailureKeepsTheArchivesAndTellsTheUser) {
    struct Case {
        const char* name;
        std::function<void(FakeDrive&)> arrange;
        std::string message;
        bool burned;
    };
    const Case cases[] = {
        {"no library", [](FakeDrive& d) { d.connectAnswer = 1; }, "Error: " + std::string(kCouldNotConnectText), false},
        {"no recorder", [](FakeDrive& d) { d.openAnswer = -4; }, "Error: " + std::string(kCouldNotInitBurnerText),
         false},
        {"burn fails", [](FakeDrive& d) { d.burnFailure = std::string(kBurnFailedText); },
         "Burn Error: " + std::string(kBurnFailedText), false},
        {"read back differs", [](FakeDrive& d) { d.damageBurn = true; },
         "Error: The backups of job 'Data' were burned, but could not be read back unchanged from the CD.\n"
         "They were kept in the backup folder:\n\nData.TQBak",
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::RemoveTree(dir / "archives");
        test::RemoveTree(program + "/FileLists.tq");
        TwoJobs();
        drive = FakeDrive{};
        c.arrange(drive);
        ScriptedBackupView view;
        view.answers = {MessageAnswer::Ok};
        ASSERT_EQ(RunWithDisc(view), BackupEngine::RunOutcome::Succeeded);
        const std::vector<std::string> lines = view.MessageLines();
        EXPECT_NE(std::find(lines.begin(), lines.end(), c.message), lines.end()) << ::testing::PrintToString(lines);
        EXPECT_EQ(lines.back(), kDone);
        EXPECT_TRUE(platform::PathExists(Archive("Data.TQBak")));
        EXPECT_EQ(!drive.burnedFrom.empty(), c.burned);
        EXPECT_EQ(drive.calls.back(), "disconnect");
        EXPECT_EQ(engine->SkippedEntries(), (std::vector<std::string>{"Job not copied to CD: Data"}));
        EXPECT_EQ(ExitStatusOfRun(*engine), kExitSkipped);
    }
}

TEST_F(CopyToCdTest, UnattendedRunsSkipOrTakeTheDiscInTheDrive) {
    TwoJobs();
    // Without a terminal and without --disc-ready nothing is loaded.
    ScriptedBackupView skip;
    ASSERT_EQ(RunWithDisc(skip, DiscPrompt::Skip), BackupEngine::RunOutcome::Succeeded);
    EXPECT_EQ(drive.burnersMade, 0);
    EXPECT_EQ(ExitStatusOfRun(*engine), kExitSkipped);
    EXPECT_TRUE(platform::PathExists(Archive("Data.TQBak")));

    // --disc-ready: the prompt is answered at once, the tray never moves, and a disc with
    // another label is not used.
    Put("src/a2.txt", "new");
    drive.disc.label = "Someone else's";
    ScriptedBackupView ready;
    ASSERT_EQ(RunWithDisc(ready, DiscPrompt::DiscReady), BackupEngine::RunOutcome::Succeeded);
    EXPECT_EQ(ready.MessageLines(),
              (std::vector<std::string>{kPrompt, "Load CD: " + std::string(kLabelMismatchNotice), kDone}));
    EXPECT_EQ(drive.calls, (std::vector<std::string>{"connect", "open", "load", "close", "disconnect"}));
    EXPECT_EQ(ExitStatusOfRun(*engine), kExitSkipped);

    // With the right disc both archives go onto it and leave the folder.
    drive.disc.label = "";
    ScriptedBackupView burned;
    Put("src/a3.txt", "newer");
    ASSERT_EQ(RunWithDisc(burned, DiscPrompt::DiscReady), BackupEngine::RunOutcome::Succeeded);
    EXPECT_EQ(ExitStatusOfRun(*engine), kExitSucceeded);
    EXPECT_EQ(std::count(drive.calls.begin(), drive.calls.end(), "eject"), 0);
    for (const char* name : {"Data.TQBak", "Data2.TQBak", "Data3.TQBak"})
        EXPECT_EQ(drive.disc.files.count(name), 1u) << name;
    EXPECT_FALSE(platform::PathExists(Archive("Data3.TQBak")));
}

TEST_F(CopyToCdTest, CancelIsRefusedWhileDiscsAreBurned) {
    TwoJobs(false);  // no zip: the archives lie in the program folder
    std::vector<std::string> asked;
    drive.duringBurn = [&] { engine->RequestCancel(Asker(asked, MessageAnswer::Yes)); };
    ScriptedBackupView view;
    view.answers = {MessageAnswer::Ok};
    ASSERT_EQ(RunWithDisc(view), BackupEngine::RunOutcome::Succeeded);
    EXPECT_EQ(asked, (std::vector<std::string>{"Abort: Unable to abort at this time."}));
    EXPECT_EQ(drive.burnedFrom.front(), platform::CurrentFolder() + "/Data.TQBak");
    EXPECT_FALSE(platform::PathExists(program + "/Data.TQBak"));
    EXPECT_TRUE(platform::PathExists(program + "/DataX.TQBak"));
}
