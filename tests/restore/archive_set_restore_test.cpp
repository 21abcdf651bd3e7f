// SPDX-License-Identifier: GPL-3.0-or-later
// The restore job: preparing the destination, extracting archive by archive, conflicts,
// errors, missing archives and aborts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

#include "platform/file_operations.h"
#include "tests/common/file_tree_test_util.h"

#include "platform/file_attributes.h"
#include "platform/file_time.h"
#include "platform/process.h"
#include "restore/archive_set.h"
#include "restore/restore_selection.h"
#include "tests/restore/scripted_restore_ui.h"
#include "tests/restore/set_builder.h"
#include "tests/support/temp_folder.h"

namespace halvex {
namespace {

using test::Day;
using test::EntryContent;

std::string Time(int day, int extra = 0) { return std::to_string(Day(day) + static_cast<std::uint64_t>(extra)); }

class RestoreJobTest : public ::testing::Test {
protected:
    void SetUp() override { set.SetUi(&ui); }
    void TearDown() override {
        // Whatever ended a restore, its progress window went away again.
        EXPECT_EQ(ui.progressOpened, ui.progressClosed);
        EXPECT_FALSE(set.IsRunning());
    }

    void Open(int dateIndex = -1) {
        ASSERT_TRUE(set.OpenSet(builder.ArchivePath(builder.ArchiveCount())));
        set.SelectDate(dateIndex < 0 ? set.DateCount() - 1 : dateIndex);
    }
    // Prepares `destination` and restores target 0's whole tree into it.
    RestoreOutcome RestoreAll(const std::string& destination) {
        set.destinationPath = destination;
        RestoreOutcome outcome{set.PrepareDestination()};
        if (outcome.destination != DestinationResult::Ready) return outcome;
        set.sourcePath = set.GetTargetName(0);
        set.bytesDone = 0;
        outcome.restore = set.RestoreTree(set.GetTargetTree(0));
        return outcome;
    }

    test::TempFolder temp;
    test::SetBuilder builder{temp / "set", "Job"};
    test::ScriptedRestoreUi ui;
    ArchiveSet set;
    const std::string out = temp / "out";

    void SetUpFolders() { test::MakeFolders(temp / "set"); }
};

class PrepareDestinationTest : public RestoreJobTest {};

TEST_F(PrepareDestinationTest, MissingDestinationIsCreatedWithoutAQuestion) {
    set.destinationPath = temp / "a/b/c/";
    EXPECT_EQ(set.PrepareDestination(), DestinationResult::Ready);
    EXPECT_EQ(set.destinationPath, temp / "a/b/c");
    EXPECT_TRUE(platform::IsDirectory(temp / "a/b/c"));
    EXPECT_TRUE(ui.directoryQuestions.empty());
    EXPECT_EQ(set.GetConflictPolicy(), ConflictPolicy::NotAsked);
}

TEST_F(PrepareDestinationTest, RenameMovesTheFolderToTheFirstFreeBackupName) {
    const std::string data = temp / "Data";
    test::MakeFolders(data);
    test::WriteFile(data + "/old.txt", "old");
    ui.directoryAnswers = {DirectoryAnswer::RenameFolder, DirectoryAnswer::RenameFolder, DirectoryAnswer::RenameFolder};
    set.destinationPath = data;
    EXPECT_EQ(set.PrepareDestination(), DestinationResult::Ready);
    EXPECT_EQ(test::ReadFile(data + ".bak/old.txt"), "old");
    EXPECT_TRUE(platform::IsDirectory(data));
    EXPECT_FALSE(platform::PathExists(data + "/old.txt"));
    EXPECT_EQ(set.GetConflictPolicy(), ConflictPolicy::PromptEach);

    EXPECT_EQ(set.PrepareDestination(), DestinationResult::Ready);
    EXPECT_TRUE(platform::IsDirectory(data + ".bak (2)"));
    // Candidates keep counting past 999.
    for (int n = 3; n <= 1000; ++n) test::MakeFolders(data + ".bak (" + std::to_string(n) + ")");
    EXPECT_EQ(set.PrepareDestination(), DestinationResult::Ready);
    EXPECT_TRUE(platform::IsDirectory(data + ".bak (1001)"));
    EXPECT_EQ(ui.directoryQuestions, std::vector<std::string>(3, data));
}

TEST_F(PrepareDestinationTest, CancelChangesNothingOtherAnswersSetThePolicy) {
    const std::string data = temp / "Data";
    test::MakeFolders(data);
    test::WriteFile(data + "/old.txt", "old");
    ui.directoryAnswers = {DirectoryAnswer::Cancel, DirectoryAnswer::KeepExisting, DirectoryAnswer::ReplaceExisting,
                           DirectoryAnswer::PromptEach};
    set.destinationPath = data;
    EXPECT_EQ(set.PrepareDestination(), DestinationResult::Cancelled);
    EXPECT_EQ(test::ReadFile(data + "/old.txt"), "old");
    for (ConflictPolicy policy : {ConflictPolicy::KeepExisting, ConflictPolicy::ReplaceExisting, ConflictPolicy::PromptEach}) {
        EXPECT_EQ(set.PrepareDestination(), DestinationResult::Ready);
        EXPECT_EQ(set.GetConflictPolicy(), policy);
    }
    EXPECT_FALSE(platform::PathExists(data + ".bak"));
}

TEST_F(PrepareDestinationTest, RefusedRenameAndCreationAreReported) {
    // Nothing in /proc can be renamed.
    ui.directoryAnswers = {DirectoryAnswer::RenameFolder};
    set.destinationPath = "/proc/version";
    EXPECT_EQ(set.PrepareDestination(), DestinationResult::NotRenamed);
    // A folder cannot be made below a file, nor where a kept file stands.
    test::WriteFile(temp / "file", "x");
    set.destinationPath = temp / "file/sub";
    EXPECT_EQ(set.PrepareDestination(), DestinationResult::NotCreated);
    ui.directoryAnswers = {DirectoryAnswer::KeepExisting};
    set.destinationPath = temp / "file";
    EXPECT_EQ(set.PrepareDestination(), DestinationResult::NotCreated);
    EXPECT_EQ(ui.messages, (std::vector<std::string>{"Error: Could not rename directory",
                                                      "Error: Could not create destination directory",
                                                      "Error: Could not create destination directory"}));
}

TEST_F(RestoreJobTest, EachArchiveIsOpenedOnlyWhenItHoldsSomethingOfTheSelection) {
    SetUpFolders();
    builder.AddTarget("Data", "/data");
    builder.Run(Day(1), {{"Data", "", "(a@" + Time(1) + ":10,b@" + Time(1) + ":20)"}});
    builder.Run(Day(2), {{"Data", "", "(b@" + Time(2) + ":21)"}});
    builder.Run(Day(3), {{"Data", "", "(c@" + Time(3) + ":5)"}});
    builder.Run(Day(4), {{"Data", "", ""}});
    builder.Run(Day(5), {{"Data", "", ""}});
    Open();
    ASSERT_EQ(set.CurrentArchiveIndex(), 4);
    // Archives 4 and 5 hold nothing of the tree: without their files nothing is asked.
    std::remove(builder.ArchivePath(4).c_str());
    std::remove(builder.ArchivePath(5).c_str());

    EXPECT_TRUE(RestoreAll(out).Completed());
    EXPECT_TRUE(ui.chooserRequests.empty());
    EXPECT_EQ(test::ReadFile(out + "/a"), EntryContent("Data\\a", 1, 10));
    EXPECT_EQ(test::ReadFile(out + "/b"), EntryContent("Data\\b", 2, 21));
    EXPECT_EQ(test::ReadFile(out + "/c"), EntryContent("Data\\c", 3, 5));
    // Newest archive first.
    EXPECT_EQ(ui.fromTexts, (std::vector<std::string>{"Data\\c", "Data\\b", "Data\\a"}));
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(RestoreJobTest, FilesGetTheExactTimeOfTheTreeAndCaseTwinsTheirOwnContent) {
    SetUpFolders();
    builder.AddTarget("Data", "/data");
    builder.Run(Day(1), {{"Data", "", "(Makefile@" + Time(1, 1234567) + ":7,makefile@" + Time(1, 1) + ":8)[Sub(x@" +
                                          Time(0, 3) + ":1)]"}});
    Open();
    EXPECT_TRUE(RestoreAll(out).Completed());
    EXPECT_EQ(test::ReadFile(out + "/Makefile"), EntryContent("Data\\Makefile", 1, 7));
    EXPECT_EQ(test::ReadFile(out + "/makefile"), EntryContent("Data\\makefile", 1, 8));
    platform::FileTime time = 0;
    ASSERT_TRUE(platform::GetLastWriteTime(out + "/Makefile", time));
    EXPECT_EQ(time, Day(1) + 1234567);
    ASSERT_TRUE(platform::GetLastWriteTime(out + "/Sub/x", time));
    EXPECT_EQ(time, Day(0) + 3);
}

TEST_F(RestoreJobTest, FolderRenumberedWithoutAnEntryIsSimplyCreated) {
    SetUpFolders();
    builder.AddTarget("Data", "/data");
    builder.Run(Day(1), {{"Data", "", "[sub(a@" + Time(1) + ":1,b@" + Time(1) + ":2)[empty]]"}});
    builder.Run(Day(2), {{"Data", "[sub(a@" + Time(1) + ":1)]", ""}});
    Open();
    ASSERT_EQ(set.GetTargetTree(0)->firstChild->archiveNumber, 2);
    EXPECT_TRUE(RestoreAll(out).Completed());
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(test::ReadFile(out + "/sub/b"), EntryContent("Data\\sub\\b", 1, 2));
    EXPECT_FALSE(platform::PathExists(out + "/sub/a"));
    EXPECT_TRUE(platform::IsDirectory(out + "/sub/empty"));
}

class ConflictTest : public RestoreJobTest {
protected:
    void SetUp() override {
        RestoreJobTest::SetUp();
        SetUpFolders();
        builder.AddTarget("Data", "/data");
        builder.Run(Day(1), {{"Data", "", "(a@" + Time(1) + ":3,b@" + Time(1) + ":3,c@" + Time(1) + ":3)"}});
        Open();
        test::MakeFolders(out);
        for (const char* name : {"a", "b", "c"}) test::WriteFile(out + "/" + name, "mine");
    }
    // The file names whose content was restored.
    std::string Replaced() {
        std::string names;
        for (const char* name : {"a", "b", "c"})
            if (test::ReadFile(out + "/" + name) != "mine") names += name;
        return names;
    }
};

TEST_F(ConflictTest, KeepLeavesExistingFilesAndReplaceOverwritesThem) {
    ui.directoryAnswers = {DirectoryAnswer::KeepExisting, DirectoryAnswer::ReplaceExisting};
    EXPECT_TRUE(RestoreAll(out).Completed());
    EXPECT_EQ(Replaced(), "");
    EXPECT_TRUE(RestoreAll(out).Completed());
    EXPECT_EQ(Replaced(), "abc");
    EXPECT_TRUE(ui.fileQuestions.empty());
}

TEST_F(ConflictTest, PromptEachAsksUntilDoNotAskAgain) {
    // The list order of a loaded folder is the reverse of its stored order: c, b, a.
    ui.directoryAnswers = {DirectoryAnswer::PromptEach};
    ui.fileAnswers = {{FileAnswer::Choice::Skip}, {FileAnswer::Choice::Replace, true}};  // c: skip; b: replace and do not ask again
    EXPECT_TRUE(RestoreAll(out).Completed());
    EXPECT_EQ(Replaced(), "ab");
    EXPECT_EQ(ui.fileQuestions, (std::vector<std::string>{out + "/c", out + "/b"}));
    EXPECT_EQ(set.GetConflictPolicy(), ConflictPolicy::ReplaceExisting);
}

TEST_F(ConflictTest, SkipWithDoNotAskAgainKeepsTheRest) {
    ui.directoryAnswers = {DirectoryAnswer::PromptEach};
    ui.fileAnswers = {{FileAnswer::Choice::Skip, true}};
    EXPECT_TRUE(RestoreAll(out).Completed());
    EXPECT_EQ(Replaced(), "");
    EXPECT_EQ(ui.fileQuestions.size(), 1u);
}

TEST_F(ConflictTest, StopAbortsTheRestore) {
    ui.directoryAnswers = {DirectoryAnswer::PromptEach};
    ui.fileAnswers = {{FileAnswer::Choice::Replace}, {FileAnswer::Choice::Stop}};  // c replaced, then stop at b
    EXPECT_EQ(RestoreAll(out).restore, RestoreResult::Aborted);
    EXPECT_EQ(Replaced(), "c");
    EXPECT_EQ(ui.fromTexts.back(), "Aborting...");
}

class ExtractionErrorTest : public RestoreJobTest {
protected:
    void SetUp() override {
        RestoreJobTest::SetUp();
        SetUpFolders();
        builder.AddTarget("Data", "/data");
        builder.omit.insert("Data\\b");
        builder.Run(Day(1), {{"Data", "", "(a@" + Time(1) + ":3,b@" + Time(1) + ":3,c@" + Time(1) + ":3)"}});
        Open();
    }
};

TEST_F(ExtractionErrorTest, MissingEntryIsReportedAndIgnoreGoesOn) {
    ui.messageAnswers = {MessageAnswer::Retry, MessageAnswer::Ignore};
    set.ResetSkippedEntries();
    EXPECT_TRUE(RestoreAll(out).Completed());
    EXPECT_EQ(ui.messages, std::vector<std::string>(2, "Error: The file Data/b is missing from archive Job.TQBak: it "
                                                       "could not be restored to " + out + "/b."));
    EXPECT_EQ(set.SkippedEntries(), 1);
    EXPECT_TRUE(platform::PathExists(out + "/a"));
    EXPECT_TRUE(platform::PathExists(out + "/c"));
    EXPECT_FALSE(platform::PathExists(out + "/b"));
}

TEST_F(ExtractionErrorTest, AbortStopsAtTheFailingEntry) {
    ui.messageAnswers = {MessageAnswer::Abort};
    EXPECT_EQ(RestoreAll(out).restore, RestoreResult::Aborted);
    EXPECT_TRUE(platform::PathExists(out + "/c"));  // restored before b
    EXPECT_FALSE(platform::PathExists(out + "/a"));
}

TEST_F(ExtractionErrorTest, FileThatCannotBeCreatedIsReportedLikeAZipError) {
    builder.omit.clear();
    builder.Run(Day(2), {{"Data", "", "(b@" + Time(2) + ":3)"}});
    Open();
    test::MakeFolders(out + "/b/in-the-way");  // a folder where the file goes
    ui.directoryAnswers = {DirectoryAnswer::ReplaceExisting};
    ui.messageAnswers = {MessageAnswer::Ignore};
    EXPECT_TRUE(RestoreAll(out).Completed());
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0], "Error: Could not restore Data/b to " + out + "/b: Is a directory.");
    EXPECT_TRUE(platform::PathExists(out + "/a"));
}

TEST_F(RestoreJobTest, MissingArchiveIsAskedForAndGivingUpAborts) {
    SetUpFolders();
    builder.AddTarget("Data", "/data");
    builder.Run(Day(1), {{"Data", "", "(a@" + Time(1) + ":3)"}});
    builder.Run(Day(2), {{"Data", "", "(b@" + Time(2) + ":3)"}});
    Open();
    test::MakeFolders(temp / "elsewhere");
    ASSERT_EQ(std::rename(builder.ArchivePath(1).c_str(), (temp / "elsewhere/Job.TQBak").c_str()), 0);

    // Cancel, No (show the chooser again), Cancel, Yes: aborted after archive 2's file.
    ui.messageAnswers = {MessageAnswer::No, MessageAnswer::Yes};
    EXPECT_EQ(RestoreAll(out).restore, RestoreResult::Aborted);
    EXPECT_EQ(ui.chooserRequests, (std::vector<std::string>{"Job.TQBak", "Job.TQBak"}));
    EXPECT_TRUE(platform::PathExists(out + "/b"));
    EXPECT_FALSE(platform::PathExists(out + "/a"));

    ui.chosenFiles = {temp / "elsewhere/Job.TQBak"};
    ui.directoryAnswers = {DirectoryAnswer::ReplaceExisting};
    EXPECT_TRUE(RestoreAll(out).Completed());
    EXPECT_EQ(test::ReadFile(out + "/a"), EntryContent("Data\\a", 1, 3));
    EXPECT_EQ(set.Folder(), temp / "elsewhere");
}

TEST_F(RestoreJobTest, AnArchiveUnderAnotherNumbersNameIsTreatedAsMissing) {
    SetUpFolders();
    builder.AddTarget("Data", "/data");
    builder.Run(Day(1), {{"Data", "", "(a@" + Time(1) + ":10)"}});
    builder.Run(Day(2), {{"Data", "", "(b@" + Time(2) + ":10)"}});
    builder.Run(Day(3), {{"Data", "", "(a@" + Time(3) + ":11)"}});
    // Archive 1 renamed; a copy of archive 3 stands under its name.
    const std::string first = temp / "set/Job1.TQBak";
    ASSERT_EQ(std::rename(builder.ArchivePath(1).c_str(), first.c_str()), 0);
    test::WriteFile(builder.ArchivePath(1), test::ReadFile(builder.ArchivePath(3)));
    Open(0);

    // Asked for like a missing archive; giving up writes nothing.
    EXPECT_EQ(RestoreAll(out).restore, RestoreResult::Aborted);
    EXPECT_FALSE(platform::PathExists(out + "/a"));
    ASSERT_FALSE(ui.messages.empty());
    EXPECT_EQ(ui.messages.front(), "Error: Job.TQBak is archive 3 of its set, not archive 1: it cannot be used in its place.");
    EXPECT_EQ(ui.chooserRequests, std::vector<std::string>{"Job.TQBak"});
    // A chosen file is checked as well: archive 3 again is refused (Retry), then archive 1 serves.
    ui.messages.clear();
    ui.chosenFiles = {builder.ArchivePath(3), first};
    ui.messageAnswers = {MessageAnswer::Retry};
    ui.directoryAnswers = {DirectoryAnswer::ReplaceExisting};
    EXPECT_TRUE(RestoreAll(out).Completed());
    EXPECT_EQ(test::ReadFile(out + "/a"), EntryContent("Data\\a", 1, 10));
    ASSERT_FALSE(ui.messages.empty());
    EXPECT_EQ(ui.messages.back(), "Error: Job3.TQBak is archive 3 of its set, not archive 1: it cannot be used in its place.");
}

TEST_F(RestoreJobTest, ArchivesAreFoundInTheOpenedFilesSpellingOrIgnoringCase) {
    const std::vector<std::vector<std::string>> spellings = {
        {"JOB.TQBAK", "JOB2.TQBAK", "JOB3.TQBAK"},
        {"job.tqbak", "Job2.tqBAK", "Job3.TQBak"},
    };
    SetUpFolders();
    builder.AddTarget("Data", "/data");
    builder.Run(Day(1), {{"Data", "", "(a@" + Time(1) + ":4)"}});
    builder.Run(Day(2), {{"Data", "", "(b@" + Time(2) + ":5)"}});
    builder.Run(Day(3), {{"Data", "", "(c@" + Time(3) + ":6)"}});
    for (std::size_t i = 0; i < spellings.size(); ++i) {
        const auto& names = spellings[i];
        const std::string folder = temp / ("copy" + std::to_string(i));
        test::MakeFolders(folder);
        for (int n = 1; n <= 3; ++n) test::WriteFile(folder + "/" + names[n - 1], test::ReadFile(builder.ArchivePath(n)));
        ASSERT_TRUE(set.OpenSet(folder + "/" + names[2]));
        set.SelectDate(set.DateCount() - 1);
        EXPECT_EQ(*set.GetArchiveName(2), names[2].substr(0, 3) + "2" + names[2].substr(4)) << i;
        const std::string destination = out + std::to_string(i);
        EXPECT_TRUE(RestoreAll(destination).Completed()) << i;
        EXPECT_EQ(test::ReadFile(destination + "/a"), EntryContent("Data\\a", 1, 4)) << i;
        EXPECT_EQ(test::ReadFile(destination + "/b"), EntryContent("Data\\b", 2, 5)) << i;
        EXPECT_EQ(test::ReadFile(destination + "/c"), EntryContent("Data\\c", 3, 6)) << i;
    }
    EXPECT_TRUE(ui.chooserRequests.empty());
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(RestoreJobTest, EntriesOfArchivesTheRestoreDoesNotVisitAreReportedAndSkipped) {
    SetUpFolders();
    builder.AddTarget("Data", "/data");
    builder.Run(Day(1), {{"Data", "", "(a@" + Time(1) + ":3)"}});
    builder.Run(Day(2), {{"Data", "", "(b@" + Time(2) + ":3)"}});
    Open(0);
    // A tree labelled with archives beyond the selected date's (and beyond the set).
    test::OwnedTree tree("#1(a#1,b#2)[sub#7(c#0)]");
    set.destinationPath = out;
    ASSERT_EQ(set.PrepareDestination(), DestinationResult::Ready);
    set.sourcePath = "Data";
    set.ResetSkippedEntries();
    EXPECT_EQ(set.RestoreTree(tree.head), RestoreResult::Completed);
    EXPECT_EQ(set.SkippedEntries(), 3);
    EXPECT_EQ(ui.messages,
              (std::vector<std::string>{
                  "Error: The entry Data/b is labelled with archive 2, which is not one of archives 1 to 1 of the set: it was "
                  "not restored to " + out + "/b.",
                  "Error: The entry Data/sub is labelled with archive 7, which is not one of archives 1 to 1 of the set: it was "
                  "not restored to " + out + "/sub.",
                  "Error: The entry Data/sub/c is labelled with archive 0, which is not one of archives 1 to 1 of the set: it "
                  "was not restored to " + out + "/sub/c."}));
    EXPECT_EQ(test::ReadFile(out + "/a"), EntryContent("Data\\a", 1, 3));
}

// A symbolic link planted where a folder or file of the restore goes is never followed:
// the answer to the conflict removes the link itself, or keeps it and skips with a notice.
TEST_F(RestoreJobTest, LinksInTheDestinationAreConflictsNeverFollowed) {
    SetUpFolders();
    builder.AddTarget("Data", "/data");
    // "sub" gets files from both archives: its link is met in both passes.
    builder.Run(Day(1), {{"Data", "", "(f@" + Time(1) + ":3)[sub(x@" + Time(1) + ":3)]"}});
    builder.Run(Day(2), {{"Data", "", "[sub(y@" + Time(2) + ":3)]"}});
    Open();
    struct Case {
        const char* link;  // below the destination ("" the destination itself)
        DirectoryAnswer policy;
        std::deque<FileAnswer> fileAnswers;
        bool replaced;  // a real folder or file stands there afterwards
    };
    const Case cases[] = {
        {"sub", DirectoryAnswer::ReplaceExisting, {}, true},
        {"sub", DirectoryAnswer::KeepExisting, {}, false},
        {"sub", DirectoryAnswer::PromptEach, {{FileAnswer::Choice::Replace}}, true},
        {"sub", DirectoryAnswer::PromptEach, {{FileAnswer::Choice::Skip, true}}, false},
        {"f", DirectoryAnswer::ReplaceExisting, {}, true},
        {"f", DirectoryAnswer::KeepExisting, {}, false},
        {"f", DirectoryAnswer::PromptEach, {{FileAnswer::Choice::Skip}}, false},
        {"", DirectoryAnswer::ReplaceExisting, {}, true},
        {"", DirectoryAnswer::KeepExisting, {}, false},
    };
    int n = 0;
    for (const Case& c : cases) {
        const std::string trace = std::string(c.link) + " policy " + std::to_string(static_cast<int>(c.policy)) + " case " + std::to_string(n);
        const std::string destination = temp / ("out" + std::to_string(n));
        const std::string outside = temp / ("outside" + std::to_string(n++));
        test::MakeFolders(outside);
        test::WriteFile(outside + "/f", "outside");
        const std::string linkPath = *c.link == '\0' ? destination : destination + "/" + c.link;
        test::MakeFolders(platform::FolderOfPath(linkPath));
        ASSERT_EQ(::symlink((std::string(c.link) == "f" ? outside + "/f" : outside).c_str(), linkPath.c_str()), 0);
        ui.directoryAnswers = {c.policy};
        ui.fileAnswers = c.fileAnswers;
        ui.messages.clear();
        ui.fileQuestions.clear();
        set.ResetSkippedEntries();
        const RestoreOutcome result = RestoreAll(destination);

        // Nothing was written through the link.
        EXPECT_EQ(test::ReadFile(outside + "/f"), "outside") << trace;
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(outside), std::filesystem::directory_iterator()), 1)
            << trace;
        EXPECT_EQ(std::filesystem::is_symlink(linkPath), !c.replaced) << trace;
        EXPECT_EQ(ui.fileQuestions.size(), c.fileAnswers.size()) << trace;  // asked once, not per archive
        if (c.replaced) {
            EXPECT_TRUE(result.Completed()) << trace;
            EXPECT_EQ(test::ReadFile(destination + "/sub/y"), EntryContent("Data\\sub\\y", 2, 3)) << trace;
            EXPECT_EQ(test::ReadFile(destination + "/f"), EntryContent("Data\\f", 1, 3)) << trace;
            EXPECT_EQ(set.SkippedEntries(), 0) << trace;
        } else {
            EXPECT_EQ(set.SkippedEntries(), 1) << trace;
            ASSERT_FALSE(ui.messages.empty()) << trace;
            const std::string entry = *c.link == '\0' ? std::string("Data") : "Data/" + std::string(c.link);
            EXPECT_EQ(ui.messages.back(), "Skipped: '" + linkPath + "' is a symbolic link: it was kept, and " + entry +
                                              " was not restored through it.")
                << trace;
        }
    }
}

// A set that holds a link and then entries below the link's name (T/evil -> outside, then
// T/evil/x): the link is made, and nothing is written through it or in its place, whatever
// the answer to conflicts.
TEST_F(RestoreJobTest, NothingIsRestoredThroughALinkTheRestoreMade) {
    SetUpFolders();
    const std::string outside = temp / "outside";
    test::MakeFolders(outside);
    builder.AddTarget("Data", "/data");
    builder.links["Data\\evil"] = outside;
    builder.links["Data\\up"] = "..";
    builder.Run(Day(1), {{"Data", "", "(evil@" + Time(1) + ":3,up@" + Time(1) + ":2)[evil(x@" + Time(1) +
                                          ":3)[deep(y@" + Time(1) + ":3)] up(z@" + Time(1) + ":3)]"}});
    Open();
    for (const DirectoryAnswer policy : {DirectoryAnswer::ReplaceExisting, DirectoryAnswer::KeepExisting}) {
        SCOPED_TRACE(static_cast<int>(policy));
        std::filesystem::remove_all(out);
        ui.directoryAnswers = {policy};
        ui.messages.clear();
        set.ResetSkippedEntries();
        EXPECT_TRUE(RestoreAll(out).Completed());
        EXPECT_EQ(std::filesystem::read_symlink(out + "/evil"), outside);
        EXPECT_EQ(std::filesystem::read_symlink(out + "/up"), "..");
        EXPECT_TRUE(std::filesystem::is_empty(outside));
        EXPECT_FALSE(std::filesystem::exists(temp / "z"));
        EXPECT_EQ(set.SkippedEntries(), 2);
        EXPECT_EQ(ui.messages, (std::vector<std::string>{
                                   "Skipped: '" + out + "/evil' is a symbolic link restored from the set: Data/evil was "
                                   "not restored in its place or through it.",
                                   "Skipped: '" + out + "/up' is a symbolic link restored from the set: Data/up was not "
                                   "restored in its place or through it."}));
    }
}

TEST_F(RestoreJobTest, UnreadableArchiveOffersRetryAndCancel) {
    SetUpFolders();
    builder.AddTarget("Data", "/data");
    builder.Run(Day(1), {{"Data", "", "(a@" + Time(1) + ":3)"}});
    builder.Run(Day(2), {{"Data", "", ""}});
    Open();
    test::WriteFile(builder.ArchivePath(1), "damaged beyond repair");
    ui.messageAnswers = {MessageAnswer::Retry, MessageAnswer::Cancel};
    EXPECT_EQ(RestoreAll(out).restore, RestoreResult::Aborted);
    ASSERT_EQ(ui.messages.size(), 2u);
    EXPECT_EQ(ui.messages[0], "Error: Error 18 in archive Job.TQBak: it is not a zip archive, or it has been cut short.");
}

class AbortTest : public RestoreJobTest {
protected:
    static constexpr std::uint64_t kChunk = 65535;
    void SetUp() override {
        RestoreJobTest::SetUp();
        // The one-thread restore, whose progress steps are the chunks of one file.
        set.SetRestoreThreads(1);
        SetUpFolders();
        builder.AddTarget("Data", "/data");
        builder.Run(Day(1), {{"Data", "", "(first@" + Time(1) + ":" + std::to_string(10 * kChunk) + ",second@" +
                                             Time(1) + ":" + std::to_string(10 * kChunk) + ")"}});
        Open();
        set.SetTickSource([this] { return clock; });
        // Every message pump takes one second.
        ui.onPump = [this](test::ScriptedRestoreUi& u) {
            clock += 1000;
            if (++pumps == cancelAt) u.ClickCancel();
        };
    }
    std::uint32_t clock = 0;
    int pumps = 0;
    int cancelAt = -1;
};

TEST_F(AbortTest, CancelStopsWithinOneProgressStep) {
    // The list order is second, first; the pump before the archive opens is the first.
    cancelAt = 4;  // after the third chunk of "second"
    EXPECT_EQ(RestoreAll(out).restore, RestoreResult::Aborted);
    EXPECT_EQ(ui.messages, (std::vector<std::string>{"Quit??: File restoration in progress. Are you sure you want to abort?"}));
    EXPECT_EQ(ui.barPositions.size(), 1u + 3);  // the start, then three chunks: nothing after
    EXPECT_FALSE(platform::PathExists(out + "/second"));
    EXPECT_FALSE(platform::PathExists(out + "/first"));
    // No partial or temporary file is left.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(out), std::filesystem::directory_iterator()), 0);
    EXPECT_EQ(ui.timeTexts.back(), "Aborting...");
}

TEST_F(AbortTest, TimeInTheQuitQuestionDoesNotCountForTheEstimate) {
    cancelAt = 6;  // after the fifth chunk of "second": half of it, a quarter of the whole
    ui.messageAnswers = {MessageAnswer::No};
    ui.onMessage = [this](const std::string&) { clock += 60000; };  // a minute to answer
    EXPECT_TRUE(RestoreAll(out).Completed());
    // 20 chunks of a second each: after chunk k, 20 - k seconds remain (give or take the
    // rounding of the estimate); counting the minute would make it 154 seconds after chunk 6.
    ASSERT_EQ(ui.timeTexts.size(), 20u);
    for (int k = 1; k <= 20; ++k) {
        const int shown = std::stoi(ui.timeTexts[k - 1]);
        EXPECT_LE(std::abs(shown - (20 - k)), 1) << "chunk " << k << ": " << ui.timeTexts[k - 1];
    }
    EXPECT_EQ(ui.barPositions.back(), 1000);
    EXPECT_EQ(ui.barPositions[10], 500);
    EXPECT_EQ(test::ReadFile(out + "/first"), EntryContent("Data\\first", 1, 10 * kChunk));
}

// Links put in place of a folder or a file after the restore looked (here: while it opens the
// archive) are not followed: the file goes into the folder that was checked, over the link.
TEST_F(RestoreJobTest, LinksSwappedInAfterTheCheckAreNotFollowed) {
    SetUpFolders();
    builder.AddTarget("Data", "/data");
    builder.Run(Day(1), {{"Data", "", "[sub(f@" + Time(1) + ":3)]"}});
    Open();
    const std::string outside = temp / "outside";
    test::MakeFolders(outside);
    test::WriteFile(outside + "/f", "outside");
    bool swapped = false;
    ui.onPump = [&](test::ScriptedRestoreUi&) {
        if (swapped || !platform::IsDirectory(out + "/sub")) return;
        swapped = true;
        ASSERT_EQ(std::rename((out + "/sub").c_str(), (out + "/real").c_str()), 0);
        ASSERT_EQ(::symlink(outside.c_str(), (out + "/sub").c_str()), 0);
        ASSERT_EQ(::symlink((outside + "/f").c_str(), (out + "/real/f").c_str()), 0);
    };
    EXPECT_TRUE(RestoreAll(out).Completed());
    ASSERT_TRUE(swapped);
    EXPECT_EQ(test::ReadFile(outside + "/f"), "outside");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(outside), std::filesystem::directory_iterator()), 1);
    EXPECT_FALSE(std::filesystem::is_symlink(out + "/real/f"));
    EXPECT_EQ(test::ReadFile(out + "/real/f"), EntryContent("Data\\sub\\f", 1, 3));
}

// Files are written through descriptors of their folders, opened one component at a time:
// a path longer than the system takes as a whole is still restored, and nothing overruns.
TEST_F(RestoreJobTest, PathsLongerThanTheSystemTakesAreRestoredFolderByFolder) {
    SetUpFolders();
    builder.AddTarget("Data", "/data");
    // 20 levels of 220-character folder names: over 4,400 characters below the destination.
    std::string tree = "(x@" + Time(1) + ":1)";
    for (int level = 0; level < 20; ++level) tree = "[" + std::string(220, static_cast<char>('a' + level)) + tree + "]";
    builder.Run(Day(1), {{"Data", "", tree}});
    Open();
    ui.messageAnswers = std::deque<MessageAnswer>(40, MessageAnswer::Ignore);
    set.ResetSkippedEntries();
    EXPECT_TRUE(RestoreAll(out).Completed());
    EXPECT_TRUE(ui.messages.empty()) << ui.messages.front();
    EXPECT_EQ(set.SkippedEntries(), 0);
    int folder = ::open(out.c_str(), O_RDONLY | O_DIRECTORY);
    std::string entry = "Data";
    for (int level = 19; level >= 0 && folder >= 0; --level) {
        const std::string name(220, static_cast<char>('a' + level));
        entry += "\\" + name;
        const int next = ::openat(folder, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
        ::close(folder);
        folder = next;
    }
    ASSERT_GE(folder, 0);
    const int file = ::openat(folder, "x", O_RDONLY | O_NOFOLLOW);
    ::close(folder);
    ASSERT_GE(file, 0);
    char byte = 0;
    EXPECT_EQ(::read(file, &byte, 1), 1);
    ::close(file);
    EXPECT_EQ(std::string(1, byte), EntryContent(entry + "\\x", 1, 1));
}

TEST_F(RestoreJobTest, SelectionOfEmptyFilesShowsAFullBar) {
    SetUpFolders();
    builder.AddTarget("Data", "/data");
    builder.Run(Day(1), {{"Data", "", "(empty@" + Time(1) + ":0)"}});
    Open();
    EXPECT_TRUE(RestoreAll(out).Completed());
    EXPECT_EQ(ui.barPositions, std::vector<int>{1000});
    EXPECT_EQ(test::ReadFile(out + "/empty"), "");
}

}  // namespace
}  // namespace halvex
