// SPDX-License-Identifier: GPL-3.0-or-later
// The real programs against what does not answer: a fifo, socket or folder where a regular
// file is expected is refused at once and named, and a run stuck in a call that never returns
// still ends on SIGTERM, leaving the set and the store as they were. Every program run here
// is bounded (timeout, or a kill after a deadline), so a regression fails instead of hanging.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "platform/file_attributes.h"
#include "tests/backup/run_fixture.h"
#include "tests/support/tools.h"

using namespace halvex;
using namespace halvex::backuptest;
using halvex::test::ReadFile;
using halvex::test::WriteFile;

namespace {

enum class Kind { Fifo, Socket, Folder };

void PutNonRegular(const std::string& path, Kind kind) {
    std::filesystem::remove_all(path);
    switch (kind) {
        case Kind::Fifo: ASSERT_EQ(mkfifo(path.c_str(), 0600), 0) << path; break;
        case Kind::Folder: test::MakeFolders(path); break;
        case Kind::Socket: {
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            ASSERT_LT(path.size(), sizeof address.sun_path) << path;
            path.copy(address.sun_path, path.size());
            const int s = socket(AF_UNIX, SOCK_STREAM, 0);
            ASSERT_EQ(bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0) << path;
            close(s);
            break;
        }
    }
}

class HostileFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        program = dir / "p";
        test::MakeFolders(program);
        test::MakeFolders(dir / "src");
        WriteFile(program + "/backup.ini", "[Job]\r\ndir:\"" + (dir / "src") + "\"\r\nto:\"Data\"\r\n");
    }
    // At most a minute: a program that waits on a fifo is killed and the case fails.
    test::CommandResult Run(const std::string& name, std::vector<std::string> args) {
        args.insert(args.begin(), {"timeout", "-s", "KILL", "60", test::BuiltProgram(name)});
        return test::RunCommand(args);
    }
    // Job.TQBak, Job2.TQBak, Job3.TQBak, each with a file of its own.
    void MakeSet() {
        for (int n = 1; n <= 3; ++n) {
            WriteFile(dir / ("src/f" + std::to_string(n) + ".txt"), std::string(n, 'x'));
            ASSERT_EQ(Run("halvex-backup", {"--run", "--dir", program}).exitCode, 0);
        }
    }

    test::TempFolder dir;
    std::string program;
};

}  // namespace

TEST_F(HostileFilesTest, NonRegularFilesAreRefusedAtEveryPlace) {
    struct Case {
        const char* file;  // in the program folder, where the archives are too
        Kind kind;
        const char* program;
        std::vector<std::string> args;
        int exitCode;
        std::string says;  // a part of standard error
        const char* keptAs = nullptr;  // where the non-regular file is afterwards
    };
    const std::string p = program + "/";
    const std::vector<std::string> run{"--run", "--dir", program};
    const std::string notRegular = "': not a regular file.";
    const Case cases[] = {
        {"Job2.TQBak", Kind::Fifo, "halvex-restore", {"--restore", p + "Job3.TQBak", "--date", "1", "--to", dir / "out"},
         1, "Could not open 'Job2.TQBak" + notRegular},
        {"Job2.TQBak", Kind::Fifo, "halvex-restore", {"--verify", p + "Job3.TQBak", "--set"}, 1,
         "Could not open 'Job2.TQBak" + notRegular},
        {"Job3.TQBak", Kind::Fifo, "halvex-restore", {"--list", p + "Job3.TQBak"}, 2,
         "Error openning archive.\nCould not open '" + p + "Job3.TQBak" + notRegular},
        {"Job3.TQBak", Kind::Socket, "halvex-restore", {"--list", p + "Job3.TQBak"}, 2, p + "Job3.TQBak" + notRegular},
        {"Job3.TQBak", Kind::Folder, "halvex-restore", {"--verify", p + "Job3.TQBak"}, 1, p + "Job3.TQBak" + notRegular,
         "Job3.TQBak"},
        // A part of a split archive (Split.000, ..., Split.zip).
        {"Split.000", Kind::Fifo, "halvex-restore", {"--list", p + "Split.zip"}, 2,
         "Error openning archive.\nCould not open '" + p + "Split.000" + notRegular},
        {"Job4.TQBak", Kind::Fifo, "halvex-backup", run, 4,
         "The archive name 'Job4.TQBak' is taken by something that is not a regular file, skipping Job 'Job'.",
         "Job4.TQBak"},
        {"FileLists.tq", Kind::Fifo, "halvex-backup", run, 0,
         "FileLists.tq is damaged. It has been kept as 'FileLists.tq.damaged-1'", "FileLists.tq.damaged-1"},
        {"FileLists.bak", Kind::Fifo, "halvex-backup", run, 0, "Done: Backup Successfull!\n"},
        {"FileLists.new", Kind::Socket, "halvex-backup", run, 0, "Done: Backup Successfull!\n"},
        {"backup.ini", Kind::Fifo, "halvex-backup", run, 2, "Error: Couldn't open backup.ini: not a regular file\n",
         "backup.ini"},
        {"backups.log", Kind::Fifo, "halvex-backup", run, 4, "could not be added to backups.log", "backups.log"},
        {"backups.log", Kind::Socket, "halvex-backup", run, 4, "could not be added to backups.log", "backups.log"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " " + c.args[0]);
        test::RemoveTree(program);
        test::RemoveTree(dir / "src");
        test::RemoveTree(dir / "out");
        SetUp();
        MakeSet();
        if (std::string(c.file) == "Split.000") {
            ZipArchiveFile zip;
            zip.Open(p + "Split.zip", ZipCreateSpan, 100);
            ziptest::AddEntry(zip, "ToDirs.tq", std::string(300, 't'), 0);
            zip.Close();
            ASSERT_TRUE(platform::IsRegularFile(p + "Split.000"));
        }
        const std::string store = ReadFile(p + "FileLists.tq");
        PutNonRegular(p + c.file, c.kind);
        WriteFile(dir / "src/new.txt", "new");  // something for a run to back up
        const auto r = Run(c.program, c.args);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.errors;
        EXPECT_NE(r.errors.find(c.says), std::string::npos) << r.errors;
        if (c.keptAs != nullptr) {
            const auto mode = platform::GetMode(p + c.keptAs);
            EXPECT_TRUE(mode && !S_ISREG(*mode)) << c.keptAs;
        }
        // A job left out leaves its store entries as they were.
        if (c.args == run && r.errors.find("Job not backed up: Job") != std::string::npos) {
            EXPECT_EQ(ReadFile(p + "FileLists.tq"), store);
        }
    }
}

TEST_F(HostileFilesTest, SigtermEndsARunWhoseThreadIsStuck) {
    // The test build's run stops for good at the named point, as in a read from a disk that
    // never answers: SIGTERM must still end it, with nothing of the run left behind.
    for (const char* point : {"chunk-written", "archive-written"}) {
        SCOPED_TRACE(point);
        test::RemoveTree(program);
        test::RemoveTree(dir / "src");
        SetUp();
        MakeSet();
        const std::string store = ReadFile(program + "/FileLists.tq");
        WriteFile(dir / "src/big.bin", ziptest::RandomBytes(1 << 20, 5));

        int errPipe[2];
        ASSERT_EQ(pipe(errPipe), 0);
        const std::string binary = test::BuiltProgram("halvex-backup-test-points");
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            const int null = open("/dev/null", O_RDWR);
            dup2(null, 0);
            dup2(null, 1);
            dup2(errPipe[1], 2);
            close(errPipe[0]);
            setenv("HALVEX_TEST_STALL_AT", point, 1);
            alarm(60);  // never outlives the test by much, whatever happens
            execl(binary.c_str(), binary.c_str(), "--run", "--dir", program.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        close(errPipe[1]);
        std::string errors;
        char buffer[4096];
        ssize_t n;
        bool signalled = false;
        while ((n = read(errPipe[0], buffer, sizeof buffer)) > 0) {
            errors.append(buffer, static_cast<std::size_t>(n));
            if (!signalled && errors.find(std::string("stalled at ") + point) != std::string::npos) {
                kill(pid, SIGTERM);
                signalled = true;
            }
        }
        close(errPipe[0]);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(signalled) << errors;
        ASSERT_TRUE(WIFEXITED(status)) << errors;  // not the alarm
        EXPECT_EQ(WEXITSTATUS(status), 1) << errors;
        EXPECT_NE(errors.find("Backup Canceled: the run did not stop"), std::string::npos) << errors;
        EXPECT_FALSE(platform::PathExists(program + "/Job4.TQBak"));
        EXPECT_FALSE(platform::PathExists(program + "/Job4.TQBak.partial"));
        EXPECT_FALSE(platform::PathExists(program + "/FileLists.new"));
        EXPECT_EQ(ReadFile(program + "/FileLists.tq"), store);
        // The folder's lock went with the process: the next run is not refused.
        const auto next = Run("halvex-backup", {"--run", "--dir", program});
        EXPECT_EQ(next.exitCode, 0) << next.errors;
        EXPECT_TRUE(platform::IsRegularFile(program + "/Job4.TQBak"));
    }
}
