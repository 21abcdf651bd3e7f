// SPDX-License-Identifier: GPL-3.0-or-later
// `halvex-backup --run`, the real program: start-up messages, exit statuses, job selection,
// and a SIGTERM in the middle of a run.
#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/file_attributes.h"
#include "platform/folder_lock.h"
#include "tests/backup/run_fixture.h"
#include "tests/support/tools.h"

using namespace halvex;
using namespace halvex::backuptest;
using halvex::test::ReadFile;
using halvex::test::RunCommand;
using halvex::test::WriteFile;

namespace {

class BackupCliTest : public ::testing::Test {
protected:
    void SetUp() override {
        program = dir / "program";
        test::MakeFolders(program);
    }
    void TearDown() override { ExpectEveryArchiveAccepted(dir.path()); }
    test::CommandResult Backup(std::vector<std::string> args) {
        args.insert(args.begin(), test::BuiltProgram("halvex-backup"));
        return RunCommand(args);
    }
    test::CommandResult RunAll(std::vector<std::string> more = {}) {
        std::vector<std::string> args{"--run", "--dir", program};
        args.insert(args.end(), more.begin(), more.end());
        return Backup(args);
    }
    void Ini(const std::string& text) { WriteFile(program + "/backup.ini", text); }
    std::string Job(const std::string& name, const std::string& source) {
        test::MakeFolders(source);
        return "[" + name + "]\r\ndir:\"" + source + "\"\r\nto:\"Data\"\r\n";
    }

    test::TempFolder dir;
    std::string program;
};

}  // namespace

TEST_F(BackupCliTest, StartUpEndingsExitWithTwo) {
    auto r = RunAll();
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.errors,
              "Halvex Backup: An example backup.ini file has been created in the program directory. Please edit "
              "this file to configure the backup utility.\n");
    EXPECT_TRUE(platform::PathExists(program + "/backup.ini"));

    Ini("# a comment before any job\r\n");
    r = RunAll();
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.errors, "Error: Error in ini file on line 1\n");

    Ini("");
    r = RunAll();
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.errors, "Error: No jobs found in ini file.\n");
    EXPECT_TRUE(platform::PathExists(program + "/FileLists.tq"));  // opened even without jobs

    r = Backup({"--run", "--dir", dir / "missing"});
    EXPECT_EQ(r.exitCode, 2);

    r = Backup({"--run", "--bogus"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.errors.rfind("halvex-backup: unknown option '--bogus'\nusage: halvex-backup", 0), 0u);
    r = Backup({"--help"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.output.rfind("usage: halvex-backup", 0), 0u);
}

TEST_F(BackupCliTest, JobSelectionAndExitStatuses) {
    Ini(Job("Alpha", dir / "a") + Job("Beta", dir / "b"));
    WriteFile(dir / "a/x.txt", "x");
    WriteFile(dir / "b/y.txt", "y");
    auto r = RunAll({"--job", "nobody"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.errors, "halvex-backup: backup.ini has no job named 'nobody'\n");

    r = RunAll({"--job", "BETA"});
    EXPECT_EQ(r.exitCode, 0) << r.errors;
    EXPECT_EQ(r.errors,
              "Current Job: Analyzing Files...\nStatus: Backing Up Files...\nCurrent Job: Beta\n"
              "Status: Saving File Lists...\nDone: Backup Successful!\n");
    EXPECT_FALSE(platform::PathExists(program + "/Alpha.TQBak"));
    ExpectReadersAccept(program + "/Beta.TQBak");

    // A fifo is passed over on purpose: done, exit 0, counted on the terminal.
    ASSERT_EQ(mkfifo((dir / "a/pipe").c_str(), 0600), 0);
    r = RunAll();
    EXPECT_EQ(r.exitCode, 0) << r.errors;
    EXPECT_NE(r.errors.find("Done: Backup Successful!\n1 socket, fifo or device was not backed up (named in the run log).\n"),
              std::string::npos)
        << r.errors;
    // Something that cannot be backed up: done, but exit 4, and the skip is named.
    WriteFile(dir / "a/back\\slash", "b");
    r = RunAll();
    EXPECT_EQ(r.exitCode, 4) << r.errors;
    EXPECT_NE(r.errors.find("Skipped (Name contains a backslash): " + (dir / "a/back\\slash") + "\n"), std::string::npos)
        << r.errors;
    EXPECT_TRUE(platform::PathExists(program + "/Alpha.TQBak"));

    // A store that cannot be opened for the run: exit 3.
    std::remove((program + "/FileLists.tq").c_str());
    test::MakeFolders(program + "/FileLists.tq");
    WriteFile(dir / "b/z.txt", "z");
    r = RunAll({"--job", "beta"});
    EXPECT_EQ(r.exitCode, 3) << r.errors;
    EXPECT_NE(r.errors.find("Error: Error Opening FileLists.tq\n"), std::string::npos);
    EXPECT_FALSE(platform::PathExists(program + "/Beta2.TQBak"));
}

TEST_F(BackupCliTest, SigtermDuringTheRunCancelsIt) {
    Ini(Job("Big", dir / "src"));
    WriteFile(dir / "src/small.txt", "s");
    ASSERT_EQ(RunAll().exitCode, 0);
    const std::string store = ReadFile(program + "/FileLists.tq");
    WriteFile(dir / "src/big.bin", ziptest::RandomBytes(48 << 20, 3));

    int errPipe[2];
    ASSERT_EQ(pipe(errPipe), 0);
    const std::string binary = test::BuiltProgram("halvex-backup");
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        dup2(errPipe[1], 2);
        close(errPipe[0]);
        execl(binary.c_str(), binary.c_str(), "--run", "--dir", program.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(errPipe[1]);
    std::string errors;
    bool signalled = false;
    char buffer[4096];
    ssize_t n;
    while ((n = read(errPipe[0], buffer, sizeof buffer)) > 0) {
        errors.append(buffer, static_cast<std::size_t>(n));
        if (!signalled && errors.find("Current Job: Big\n") != std::string::npos) {
            // Twice: the second must not end the program early.
            kill(pid, SIGTERM);
            kill(pid, SIGTERM);
            signalled = true;
        }
    }
    close(errPipe[0]);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(signalled) << errors;
    ASSERT_TRUE(WIFEXITED(status)) << errors;
    EXPECT_EQ(WEXITSTATUS(status), 1) << errors;
    EXPECT_NE(errors.find("Quit??: File copy in progress. Are you sure you want to abort?\nAnswer: Yes\n"),
              std::string::npos)
        << errors;
    EXPECT_NE(errors.find("Canceled.: Backup Canceled\n"), std::string::npos) << errors;
    EXPECT_FALSE(platform::PathExists(program + "/Big2.TQBak"));
    EXPECT_FALSE(platform::PathExists(program + "/Big2.TQBak.partial"));
    EXPECT_EQ(ReadFile(program + "/FileLists.tq"), store);
}

TEST_F(BackupCliTest, FaultsEndWithTheirExitStatus) {
    struct Case {
        const char* what;
        std::function<void()> prepare;
        std::vector<std::string> before;  // words put before the program (a shell, env)
        int exitCode;
        std::string errors;  // a part of standard error
    };
    std::unique_ptr<platform::FolderLock> otherRun;
    const Case cases[] = {
        // Writing the archive fails (here: past the file size limit): the run ends, naming the
        // file and the system's reason.
        {"archive cannot be written",
         [&] { WriteFile(dir / "src/big.bin", ziptest::RandomBytes(2 << 20, 7)); },
         {"sh", "-c", "trap '' XFSZ; ulimit -f 400; exec \"$0\" \"$@\""},
         5,
         "Error: Error Reading/Writing File\n\nCould not write 'Job.TQBak.partial': File too large.\n"},
        {"backups.log cannot be written", [&] { test::MakeFolders(program + "/backups.log"); }, {}, 4,
         "Error: The backup is complete, but its log could not be added to backups.log.\n"},
        {"another run holds the program folder",
         [&] {
             otherRun = std::make_unique<platform::FolderLock>();
             ASSERT_TRUE(otherRun->TryLock(program));
         },
         {}, 3,
         "Error: Error Opening FileLists.tq\n\nAnother backup run is in progress in this program folder.\n"},
        // The shipped program has no test points: the variable means nothing to it.
        {"test kill point asked for", [] {}, {"env", "HALVEX_TEST_KILL_AT=archive-written"}, 0,
         "Done: Backup Successful!\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::RemoveTree(program);
        test::RemoveTree(dir / "src");
        test::MakeFolders(program);
        Ini(Job("Job", dir / "src"));
        WriteFile(dir / "src/a.txt", "a");
        c.prepare();
        std::vector<std::string> args = c.before;
        for (const std::string& arg : {test::BuiltProgram("halvex-backup"), std::string("--run"), std::string("--dir"), program})
            args.push_back(arg);
        const auto r = RunCommand(args);
        otherRun.reset();
        EXPECT_EQ(r.exitCode, c.exitCode) << r.errors;
        EXPECT_NE(r.errors.find(c.errors), std::string::npos) << r.errors;
        EXPECT_FALSE(platform::PathExists(program + "/Job.TQBak.partial"));
        EXPECT_EQ(platform::PathExists(program + "/Job.TQBak"), c.exitCode == 0 || c.exitCode == 4);
    }
}

TEST_F(BackupCliTest, FoldersThatCannotBeListedKeepTheirStoredState) {
    // Permissions do not stop root: the program then runs as nobody.
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
    ASSERT_EQ(chmod(program.c_str(), 0777), 0);
    auto runUnprivileged = [&](std::string& errors) {
        const std::string errorFile = dir / "errors.txt";
        const std::string binary = test::BuiltProgram("halvex-backup");
        const pid_t pid = fork();
        if (pid == 0) {
            const int null = open("/dev/null", O_RDWR);
            const int err = open(errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
            if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)) _exit(126);
            dup2(null, 0);
            dup2(null, 1);
            dup2(err, 2);
            execl(binary.c_str(), binary.c_str(), "--run", "--dir", program.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        errors = ReadFile(errorFile);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    struct Case {
        const char* what;
        std::string locked;  // the folder that cannot be listed in the second run
    };
    const Case cases[] = {{"a folder below the source", dir / "one/locked"}, {"the source folder itself", dir / "one"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::RemoveTree(dir / "one");
        test::RemoveTree(dir / "two");
        for (const char* name : {"FileLists.tq", "FileLists.bak", "backups.log", "Job.TQBak", "Job2.TQBak"})
            std::remove((program + "/" + name).c_str());
        // The second folder always changes, so the job always makes an archive.
        Ini("[Job]\r\ndir:\"" + (dir / "one") + "\"\r\nto:\"One\"\r\ndir:\"" + (dir / "two") + "\"\r\nto:\"Two\"\r\n");
        test::MakeFolders(dir / "one/locked");
        test::MakeFolders(dir / "two");
        WriteFile(dir / "one/top.txt", "t");
        WriteFile(dir / "one/locked/inner.txt", "i");
        WriteFile(dir / "two/x.txt", "1");
        std::string errors;
        ASSERT_EQ(runUnprivileged(errors), 0) << errors;

        WriteFile(dir / "two/y.txt", "2");
        ASSERT_EQ(chmod(c.locked.c_str(), 0), 0);
        EXPECT_EQ(runUnprivileged(errors), 4) << errors;
        ASSERT_EQ(chmod(c.locked.c_str(), 0755), 0);
        EXPECT_NE(errors.find("Skipped Directory (Could not list): " + c.locked + "\n"), std::string::npos) << errors;
        // Not seen is not gone: the second record removes nothing, the state keeps every file.
        const auto records = HistoryRecords(FindEntry(ReadArchive(program + "/Job2.TQBak"), "One.tq")->data);
        ASSERT_EQ(records.size(), 2u);
        EXPECT_EQ(records[1].removed, std::vector<std::string>{});
    }
}
