// SPDX-License-Identifier: GPL-3.0-or-later
// A run of the real program killed at any moment (SIGKILL, as a power cut would end it) must
// leave the earlier archives intact and a store that the next start-up reads or recovers,
// after which the next run produces a consistent set.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "platform/file_attributes.h"
#include "tests/backup/run_fixture.h"
#include "tests/support/tools.h"

namespace fs = std::filesystem;
using namespace halvex;
using namespace halvex::backuptest;
using halvex::test::ReadFile;
using halvex::test::WriteFile;

namespace {

// Runs halvex-backup --run on `program`; killed by HALVEX_TEST_KILL_AT at `killPoint`, or
// with SIGKILL after `killAfter` when it is still running then. Answers the exit status
// (-1 when killed).
int RunProgram(const std::string& program, const std::string& killPoint = {},
               std::chrono::milliseconds killAfter = std::chrono::milliseconds(0)) {
    const std::string binary = test::BuiltProgram("halvex-backup-test-points");
    const pid_t pid = fork();
    if (pid < 0) return -2;
    if (pid == 0) {
        int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
        if (!killPoint.empty()) setenv("HALVEX_TEST_KILL_AT", killPoint.c_str(), 1);
        execl(binary.c_str(), binary.c_str(), "--run", "--dir", program.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    if (killAfter.count() > 0) {
        std::this_thread::sleep_for(killAfter);
        kill(pid, SIGKILL);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Every file below `root`: relative path with '\', size and last-write time, sorted, as a
// history lists them.
std::vector<std::string> SourceFiles(const std::string& root) {
    std::vector<std::string> out;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (!entry.is_regular_file()) continue;
        std::string relative = fs::relative(entry.path(), root).string();
        std::replace(relative.begin(), relative.end(), '/', '\\');
        struct stat st {};
        stat(entry.path().c_str(), &st);
        out.push_back(relative + "|" + std::to_string(st.st_size) + "|" +
                      std::to_string(platform::FileTimeFromTimespec(st.st_mtim)));
    }
    std::sort(out.begin(), out.end());
    return out;
}

// The files the history of an archive's target says exist after its last record.
std::vector<std::string> FilesAfterReplay(const std::string& historyBytes) {
    const HistoryBytes history(historyBytes.begin(), historyBytes.end());
    RunControl control;
    control.Start();
    FileTreePtr state;
    EXPECT_EQ(ReplayTargetHistory(history, control, state), ReplayResult::Done);
    std::vector<std::string> out;
    for (const std::string& path : Paths(state.get(), true))
        if (path.back() != '\\') out.push_back(path);
    return out;
}

// prefix, number, suffix (built by appending: g++ 12 warns wrongly on "text" + std::string).
std::string Numbered(const char* prefix, int number, const char* suffix) {
    std::string name(prefix);
    name += std::to_string(number);
    name += suffix;
    return name;
}

class CrashSafetyTest : public ::testing::Test {
protected:
    void SetUp() override {
        source = dir / "src";
        baseline = dir / "baseline";
        // About 12 MB: text that deflates slowly at level 9, and some random data.
        for (int i = 0; i < 24; ++i)
            Put(Numbered("f", i, ".txt"), ziptest::TextBytes(400000 + static_cast<std::size_t>(i) * 1000));
        for (int i = 0; i < 4; ++i) Put(Numbered("bin/r", i, ".bin"), ziptest::RandomBytes(600000, i + 1));
        test::MakeFolders(baseline);
        WriteFile(baseline + "/backup.ini", "[Job]\r\ndir:\"" + source + "\"\r\nto:\"Data\"\r\n");
        ASSERT_EQ(RunProgram(baseline), 0);
        firstArchive = ReadFile(baseline + "/Job.TQBak");
        // The changes the next runs store: changed, new and deleted files.
        for (int i = 0; i < 12; ++i) Put(Numbered("f", i, ".txt"), ziptest::TextBytes(400000) + "v2", 1600000100);
        for (int i = 0; i < 3; ++i) Put(Numbered("new/n", i, ".txt"), ziptest::TextBytes(200000), 1600000200);
        std::remove((source + "/f23.txt").c_str());
        std::remove((source + "/bin/r3.bin").c_str());
    }

    void Put(const std::string& relative, const std::string& content, std::int64_t seconds = 1600000001) {
        const std::string path = source + "/" + relative;
        test::MakeFolders(path.substr(0, path.rfind('/')));
        WriteFile(path, content);
        test::SetMtime(path, seconds, 500000000);
    }

    std::string Scenario(const std::string& name) {
        const std::string folder = dir / name;
        fs::copy(baseline, folder, fs::copy_options::recursive);
        return folder;
    }

    // What must hold after a kill, and after the run that follows it.
    void CheckAfterKill(const std::string& program, const std::string& what) {
        SCOPED_TRACE(what);
        EXPECT_EQ(ReadFile(program + "/Job.TQBak"), firstArchive);
        // No torn archive under a set name.
        for (const auto& entry : fs::directory_iterator(program)) {
            const std::string name = entry.path().filename().string();
            if (name.size() > 6 && name.substr(name.size() - 6) == ".TQBak") {
                ziptest::PyArchive py = ziptest::InspectWithPython(entry.path().string());
                EXPECT_TRUE(py.ran) << name << py.errors;
                EXPECT_EQ(py.testzip, "None") << name;
            }
        }
        ASSERT_EQ(RunProgram(program), 0);
        EXPECT_EQ(ReadFile(program + "/Job.TQBak"), firstArchive);
        const std::string newest = program + "/Job2.TQBak";
        ASSERT_TRUE(platform::PathExists(newest));
        ExpectReadersAccept(newest);
        const auto entries = ReadArchive(newest);
        const ArchiveEntry* history = FindEntry(entries, "Data.tq");
        ASSERT_NE(history, nullptr);
        EXPECT_EQ(FilesAfterReplay(history->data), SourceFiles(source));
        EXPECT_FALSE(platform::PathExists(program + "/Job3.TQBak"));

        // The store agrees with the set.
        FileListStore store(program);
        ASSERT_TRUE(store.OpenForRun());
        EXPECT_EQ(store.ReadArchiveNumber("Job", false), 2);
        HistoryBytes stored;
        ASSERT_EQ(store.ReadTargetHistory("Job\\Data.tq", stored), FileListStore::Read::Found);
        EXPECT_EQ(std::string(stored.begin(), stored.end()), history->data);
    }

    test::TempFolder dir;
    std::string source, baseline, firstArchive;
};

}  // namespace

TEST_F(CrashSafetyTest, KilledAtNamedPoints) {
    for (const char* point : {"archive-written", "store-written", "store-replaced"}) {
        const std::string program = Scenario(std::string("at-") + point);
        EXPECT_EQ(RunProgram(program, point), -1) << point;
        CheckAfterKill(program, point);
    }
}

TEST_F(CrashSafetyTest, KilledAfterAnyDelay) {
    // A full run of the changes lasts a few hundred milliseconds here; the kills fall before,
    // during and after the copying.
    for (int ms : {5, 30, 60, 100, 150, 220, 300, 450, 700}) {
        const std::string program = Scenario("after-" + std::to_string(ms));
        RunProgram(program, {}, std::chrono::milliseconds(ms));
        CheckAfterKill(program, "killed after " + std::to_string(ms) + " ms");
    }
}

TEST_F(CrashSafetyTest, DamagedStoreIsRecoveredAndTheSetStaysConsistent) {
    const std::string program = Scenario("damaged");
    ASSERT_EQ(RunProgram(program), 0);  // archive 2; FileLists.bak holds the store of run 1
    WriteFile(program + "/FileLists.tq", "no longer a zip archive");
    // Run 3 keeps the damaged store aside and takes the job's entries from archive 2, which
    // holds everything: archive 2 is never written again.
    const std::string second = ReadFile(program + "/Job2.TQBak");
    CheckAfterKill(program, "damaged store");
    EXPECT_EQ(ReadFile(program + "/Job2.TQBak"), second);
    EXPECT_EQ(ReadFile(program + "/FileLists.tq.damaged-1"), "no longer a zip archive");
}
