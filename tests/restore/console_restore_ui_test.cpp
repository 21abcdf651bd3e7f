// SPDX-License-Identifier: GPL-3.0-or-later
// The console's questions: fixed answers without a terminal, typed answers with one.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "platform/process.h"
#include "restore/console_restore_ui.h"
#include "tests/support/temp_folder.h"

namespace halvex {
namespace {

DirectoryQuestion Question(const std::string& folder, DirectoryQuestion::Rename rename = DirectoryQuestion::Rename::Folder) {
    DirectoryQuestion question;
    question.folder = folder;
    question.rename = rename;
    if (rename == DirectoryQuestion::Rename::NotOffered) {
        question.renameRefusal = "it is your home folder";
        question.preselected = 3;
        question.unattended = 1;
    }
    return question;
}

TEST(ConsoleRestoreUiTest, FixedAnswersWithoutATerminalArePrinted) {
    std::istringstream in;
    std::ostringstream err;
    ConsoleRestoreUi ui(in, err, false);
    EXPECT_EQ(ui.AskDirectoryExists(Question("/d")), 4);
    EXPECT_EQ(ui.AskDirectoryExists(Question("/d", DirectoryQuestion::Rename::Items)), 4);
    EXPECT_EQ(ui.AskDirectoryExists(Question("/home/me", DirectoryQuestion::Rename::NotOffered)), 1);
    ui.SetDirectoryAnswer(1);
    EXPECT_EQ(ui.AskDirectoryExists(Question("/d")), 1);
    EXPECT_EQ(ui.AskFileExists("/d/f"), 1);
    EXPECT_EQ(ui.ShowMessage("bad entry", "Error", MessageButtons::AbortRetryIgnore, MessageOwner::ProgressWindow),
              MessageAnswer::Ignore);
    EXPECT_EQ(ui.ShowMessage("bad archive", "Error", MessageButtons::RetryCancel, MessageOwner::MainWindow),
              MessageAnswer::Cancel);
    EXPECT_EQ(ui.ShowMessage("Are you sure you want to abort?", "Abort?", MessageButtons::YesNo,
                             MessageOwner::MainWindow),
              MessageAnswer::Yes);
    EXPECT_EQ(ui.ChooseArchiveFile("Job.TQBak"), std::nullopt);
    EXPECT_EQ(err.str(),
              "Directory Exists...: The following directory already exists: /d\n  -> Rename destination folder\n"
              "Directory Exists...: The following directory already exists: /d\n  -> Rename existing items to .bak\n"
              "Directory Exists...: The following directory already exists: /home/me\n"
              "(It is not renamed: it is your home folder.)\n  -> Do not replace existing files\n"
              "Directory Exists...: The following directory already exists: /d\n  -> Do not replace existing files\n"
              "File Exists...: The following file already exists: /d/f\n  -> Skip\n"
              "Error: bad entry\n  -> Ignore\n"
              "Error: bad archive\n  -> Cancel\n"
              "Abort?: Are you sure you want to abort?\n  -> Yes\n"
              "Open: The archive Job.TQBak was not found.\n  -> Cancel\n");
}

TEST(ConsoleRestoreUiTest, TypedAnswersOnATerminal) {
    test::TempFolder temp;
    test::WriteFile(temp / "Job.TQBak", "x");
    const std::string start = platform::CurrentFolder();
    const std::string relative = std::filesystem::relative(temp / "Job.TQBak", start).string();
    // Directory: an unknown answer, then replace; where rename is not offered, "r" is asked
    // again and an empty line takes the preselected answer. File: stop, not confirmed, then
    // replace all; stop confirmed. Message: retry. Chooser: a missing file, then one relative
    // to the start.
    std::istringstream in("x\np\nr\n\nt\nn\na\nt\ny\nr\nnone\n" + relative + "\n");
    std::ostringstream err;
    ConsoleRestoreUi ui(in, err, true);
    EXPECT_EQ(ui.AskDirectoryExists(Question("/d")), 2);
    EXPECT_EQ(ui.AskDirectoryExists(Question("/", DirectoryQuestion::Rename::NotOffered)), 3);
    EXPECT_EQ(ui.AskFileExists("/d/f"), -2);
    EXPECT_EQ(ui.AskFileExists("/d/g"), 0);
    EXPECT_EQ(ui.ShowMessage("bad", "Error", MessageButtons::AbortRetryIgnore, MessageOwner::ProgressWindow),
              MessageAnswer::Retry);
    EXPECT_EQ(ui.ChooseArchiveFile("Job.TQBak"), start + "/" + relative);
    // At the end of the input the chooser gives up and questions take their safe answer.
    EXPECT_EQ(ui.ChooseArchiveFile("Job.TQBak"), std::nullopt);
    EXPECT_EQ(ui.AskDirectoryExists(Question("/d")), 0);
}

TEST(ConsoleRestoreUiTest, ASignalActsAsTheCancelButtonWhileTheProgressIsOpen) {
    std::istringstream in;
    std::ostringstream err;
    ConsoleRestoreUi ui(in, err, false);
    int requests = 0;
    ui.OpenProgress([&] { ++requests; });
    ui.PumpMessages();
    EXPECT_EQ(requests, 0);
    ui.RequestCancel();
    ui.PumpMessages();
    ui.PumpMessages();
    EXPECT_EQ(requests, 1);
    ui.CloseProgress();
    EXPECT_EQ(err.str(), "");  // no progress line without a terminal
}

}  // namespace
}  // namespace halvex
