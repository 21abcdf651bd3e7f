// SPDX-License-Identifier: GPL-3.0-or-later
// The real programs against what does not answer: a fifo, socket or folder where a regular
// file is expected is refused at once and named; a run stuck in a call that never returns
// still ends on SIGTERM. Every program run is bounded by timeout, so a regression fails
// instead of hanging.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "platform/file_attributes.h"
#include "tests/backup/run_fixture.h"
#include "tests/support/tools.h"

using namespace halvex;
using halvex::test::ReadFile;
using halvex::test::WriteFile;

namespace {

class HostileFilesTest : public ::testing::Test {
protected:
    // A fresh program folder with a set of three archives: Job.TQBak, Job2.TQBak, Job3.TQBak.
    void MakeSet() {
        test::RemoveTree(p);
        test::RemoveTree(dir / "src");
        test::MakeFolders(p);
        test::MakeFolders(dir / "src");
        WriteFile(p + "backup.ini", "[Job]\r\ndir:\"" + (dir / "src") + "\"\r\nto:\"Data\"\r\n");
        for (int n = 1; n <= 3; ++n) {
            WriteFile(dir / ("src/f" + std::to_string(n)), std::string(n, 'x'));
            ASSERT_EQ(Run("halvex-backup", backup).exitCode, 0);
        }
        WriteFile(dir / "src/new", "something for a further run");
    }
    test::CommandResult Run(const std::string& name, std::vector<std::string> args) {
        args.insert(args.begin(), {"timeout", "-s", "KILL", "60", test::BuiltProgram(name)});
        return test::RunCommand(args);
    }

    test::TempFolder dir;
    const std::string p = dir / "p/";
    const std::vector<std::string> backup{"--run", "--dir", p};
};

}  // namespace

TEST_F(HostileFilesTest, NonRegularFilesAreRefusedAtEveryPlace) {
    enum Kind { Fifo, Socket, Folder };
    struct Case {
        const char* file;  // in the program folder, which holds the archives
        Kind kind;
        const char* program;
        std::vector<std::string> args;
        int exitCode;
        std::string says;  // a part of standard error
        bool stays;        // the non-regular file is still there afterwards
    };
    const std::string no = "': not a regular file.";
    const Case cases[] = {
        {"Job2.TQBak", Fifo, "halvex-restore", {"--restore", p + "Job3.TQBak", "--date", "1", "--to", dir / "out"}, 1,
         "Could not open 'Job2.TQBak" + no, true},
        {"Job2.TQBak", Fifo, "halvex-restore", {"--verify", p + "Job3.TQBak", "--set"}, 1, "'Job2.TQBak" + no, true},
        {"Job3.TQBak", Fifo, "halvex-restore", {"--list", p + "Job3.TQBak"}, 2,
         "Error opening archive.\nCould not open '" + p + "Job3.TQBak" + no, true},
        {"Job3.TQBak", Socket, "halvex-restore", {"--list", p + "Job3.TQBak"}, 2, p + "Job3.TQBak" + no, true},
        {"Job3.TQBak", Folder, "halvex-restore", {"--verify", p + "Job3.TQBak"}, 1, p + "Job3.TQBak" + no, true},
        // A part of a split archive (Split.000, ..., Split.zip).
        {"Split.000", Fifo, "halvex-restore", {"--list", p + "Split.zip"}, 2, p + "Split.000" + no, true},
        {"Job4.TQBak", Fifo, "halvex-backup", backup, 4,
         "The archive name 'Job4.TQBak' is taken by something that is not a regular file, skipping Job 'Job'.", true},
        // A damaged store: kept aside, the job rebuilt from its archives.
        {"FileLists.tq", Fifo, "halvex-backup", backup, 0, "It has been kept as 'FileLists.tq.damaged-1'", false},
        {"FileLists.bak", Fifo, "halvex-backup", backup, 0, "Done: Backup Successful!\n", false},
        {"FileLists.new", Socket, "halvex-backup", backup, 0, "Done: Backup Successful!\n", false},
        {"backup.ini", Fifo, "halvex-backup", backup, 2, "Error: Couldn't open backup.ini: not a regular file\n", true},
        {"backups.log", Fifo, "halvex-backup", backup, 4, "could not be added to backups.log", true},
        {"backups.log", Socket, "halvex-backup", backup, 4, "could not be added to backups.log", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " " + c.args[0]);
        MakeSet();
        if (c.file == std::string("Split.000")) {
            ZipArchiveFile zip;
            zip.Open(p + "Split.zip", ZipCreateSpan, 100);
            ziptest::AddEntry(zip, "ToDirs.tq", std::string(300, 't'), 0);
            zip.Close();
        }
        const std::string path = p + c.file, store = ReadFile(p + "FileLists.tq");
        std::filesystem::remove_all(path);
        if (c.kind == Fifo) {
            ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
        } else if (c.kind == Folder) {
            test::MakeFolders(path);
        } else {
            sockaddr_un address{AF_UNIX, {}};
            ASSERT_LT(path.copy(address.sun_path, sizeof address.sun_path - 1), sizeof address.sun_path - 1);
            const int s = socket(AF_UNIX, SOCK_STREAM, 0);
            ASSERT_EQ(bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
            close(s);
        }
        const auto r = Run(c.program, c.args);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.errors;
        EXPECT_NE(r.errors.find(c.says), std::string::npos) << r.errors;
        const auto mode = platform::GetMode(path);
        EXPECT_EQ(mode && !S_ISREG(*mode), c.stays);
        if (c.file == std::string("Job4.TQBak")) {
            EXPECT_EQ(ReadFile(p + "FileLists.tq"), store);  // the job was left out
        }
    }
}

TEST_F(HostileFilesTest, SigtermEndsARunWhoseThreadIsStuck) {
    // The test build stops the run's thread for good at the named point, as a read from a
    // disk that never answers would: SIGTERM must still end the run, leaving nothing of it.
    for (const char* point : {"chunk-written", "archive-written"}) {
        SCOPED_TRACE(point);
        MakeSet();
        WriteFile(dir / "src/big", ziptest::RandomBytes(1 << 20, 5));
        const std::string store = ReadFile(p + "FileLists.tq");
        const std::string script =
            "timeout -s KILL 60 \"$0\" --run --dir \"$1\" 2>\"$1/err\" & run=$!; "
            "for i in $(seq 600); do grep -q 'stalled at' \"$1/err\" && break; sleep 0.1; done; "
            "kill -TERM $run; wait $run; status=$?; cat \"$1/err\" >&2; exit $status";
        const auto r = test::RunCommand({"env", std::string("HALVEX_TEST_STALL_AT=") + point, "timeout", "-s", "KILL",
                                         "90", "sh", "-c", script, test::BuiltProgram("halvex-backup-test-points"), p});
        ASSERT_NE(r.errors.find(std::string("stalled at ") + point), std::string::npos) << r.errors;
        EXPECT_EQ(r.exitCode, 1) << r.errors;
        EXPECT_NE(r.errors.find("Backup Canceled: the run did not stop"), std::string::npos) << r.errors;
        EXPECT_FALSE(platform::PathExists(p + "Job4.TQBak"));
        EXPECT_FALSE(platform::PathExists(p + "Job4.TQBak.partial"));
        EXPECT_FALSE(platform::PathExists(p + "FileLists.new"));
        EXPECT_EQ(ReadFile(p + "FileLists.tq"), store);
        // The folder's lock went with the process: the next run is not refused.
        EXPECT_EQ(Run("halvex-backup", backup).exitCode, 0);
        EXPECT_TRUE(platform::IsRegularFile(p + "Job4.TQBak"));
    }
}
