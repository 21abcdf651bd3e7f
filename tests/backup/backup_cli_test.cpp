// `halvex-backup --run`, the real program: start-up messages, exit statuses, job selection,
// and a SIGTERM in the middle of a run.
#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/file_attributes.h"
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
              "Status: Saving File Lists...\nDone: Backup Successfull!\n");
    EXPECT_FALSE(platform::PathExists(program + "/Alpha.TQBak"));
    ExpectReadersAccept(program + "/Beta.TQBak");

    // Something that cannot be backed up: done, but exit 4, and the skip is named.
    ASSERT_EQ(mkfifo((dir / "a/pipe").c_str(), 0600), 0);
    r = RunAll();
    EXPECT_EQ(r.exitCode, 4) << r.errors;
    EXPECT_NE(r.errors.find("Done: Backup Successfull!\nSkipped File (Not a regular file): " + (dir / "a/pipe") + "\n"),
              std::string::npos)
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
