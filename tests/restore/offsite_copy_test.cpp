// SPDX-License-Identifier: GPL-3.0-or-later
// Off-site copies with the real rclone: a folder as the remote, and an SFTP server that rclone
// serves on 127.0.0.1 for the test. The backup program copies each run's set there; the
// restore program fetches it back and restores from the fetched copy.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <netinet/in.h>
#include <random>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "platform/file_attributes.h"
#include "tests/support/temp_folder.h"
#include "tests/support/tools.h"

namespace halvex {
namespace {

namespace fs = std::filesystem;

std::string RandomBytes(std::size_t size, unsigned seed) {
    std::mt19937 generator(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(generator());
    return bytes;
}

// A free TCP port on 127.0.0.1, as the system hands one out.
int FreePort() {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(s);
    return port;
}

bool Accepts(int port) {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool connected = ::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(s);
    return connected;
}

// `rclone serve sftp` on a folder, with a throw-away user and password, while it lives.
class SftpServer {
public:
    SftpServer(const std::string& folder, const std::string& cache, int port) : port_(port) {
        const std::string address = "127.0.0.1:" + std::to_string(port);
        pid_ = ::fork();
        if (pid_ == 0) {
            const int null = ::open("/dev/null", O_RDWR);
            ::dup2(null, 0);
            ::dup2(null, 1);
            ::dup2(null, 2);
            ::execlp("rclone", "rclone", "serve", "sftp", folder.c_str(), "--addr", address.c_str(), "--user", "tester",
                     "--pass", "throwaway", "--cache-dir", cache.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        for (int i = 0; i < 100 && !Accepts(port_); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ~SftpServer() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
    SftpServer(const SftpServer&) = delete;
    SftpServer& operator=(const SftpServer&) = delete;
    bool Running() const { return pid_ > 0 && Accepts(port_); }

private:
    int port_;
    pid_t pid_ = -1;
};

class OffsiteCopyTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test::HasTool("rclone")) GTEST_SKIP() << "rclone is not installed: off-site copies are not tested";
        backup_ = test::BuiltProgram("halvex-backup");
        restore_ = test::BuiltProgram("halvex-restore");
        ASSERT_TRUE(platform::IsRegularFile(backup_) && platform::IsRegularFile(restore_));
        test::MakeFolders(temp_ / "src");
        test::MakeFolders(temp_ / "program");
        // rclone's configuration is the test's own, never the user's.
        test::WriteFile(temp_ / "rclone.conf", "");
        ::setenv("RCLONE_CONFIG", (temp_ / "rclone.conf").c_str(), 1);
        ::unsetenv(kRclone);
    }
    void TearDown() override { ::unsetenv("RCLONE_CONFIG"); }

    void UseRemote(const std::string& remote) {
        test::WriteFile(temp_ / "program/backup.ini", "[Docs]\r\ndir:\"" + temp_ / "src" + "\"\r\nto:\"Data\"\r\nzip:\"" +
                                                          temp_ / "sets" + "\"\r\ncopyto:\"" + remote + "\"\r\n");
    }
    // A new version of the source file, so that the next run writes an archive.
    void ChangeSource(std::size_t size) {
        content_ = RandomBytes(size, ++seed_);
        test::WriteFile(temp_ / "src/file.bin", content_);
        test::SetMtime(temp_ / "src/file.bin", 1700000000 + seed_);
    }
    test::CommandResult Backup() { return test::RunCommand({backup_, "--run", "--dir", temp_ / "program"}); }
    std::string Archive(int number) const {
        return temp_ / (number == 1 ? "sets/Docs.TQBak" : "sets/Docs" + std::to_string(number) + ".TQBak");
    }
    // Every archive of the local set is in `folder` with the same bytes, and no partial copy.
    void ExpectCopiedTo(const std::string& folder, int archives) {
        for (int n = 1; n <= archives; ++n)
            EXPECT_EQ(test::ReadFile(folder + "/" + fs::path(Archive(n)).filename().string()), test::ReadFile(Archive(n)))
                << "archive " << n;
        for (const auto& entry : fs::directory_iterator(folder))
            EXPECT_EQ(entry.path().extension(), ".TQBak") << entry.path();
    }
    // Fetches into `folder` and restores the newest archive from there.
    void ExpectFetchAndRestore(const std::string& remote, const std::string& folder) {
        const test::CommandResult fetched = test::RunCommand({restore_, "--fetch", remote, folder});
        ASSERT_EQ(fetched.exitCode, 0) << fetched.errors;
        EXPECT_EQ(fetched.output, folder + "/" + fs::path(Archive(archives_)).filename().string() + "\n");
        const test::CommandResult restored =
            test::RunCommand({restore_, "--restore", fetched.output.substr(0, fetched.output.size() - 1), "--to", temp_ / "restored"});
        ASSERT_EQ(restored.exitCode, 0) << restored.errors;
        EXPECT_EQ(test::ReadFile(temp_ / "restored/Data/file.bin"), content_);
    }

    static constexpr const char* kRclone = "HALVEX_RCLONE";
    test::TempFolder temp_;
    std::string backup_;
    std::string restore_;
    std::string content_;
    unsigned seed_ = 0;
    int archives_ = 0;
};

TEST_F(OffsiteCopyTest, FolderRemoteCopiesCatchesUpAndFetches) {
    const std::string remote = temp_ / "offsite";
    UseRemote(remote);
    // Each step: what happens to the source and the remote before the run.
    struct Step {
        const char* what;
        bool change;
        std::function<void()> remoteChange;
        int exitCode;
    };
    const Step steps[] = {
        {"first copy", true, [] {}, 0},
        {"a remote archive of another size is copied again", true,
         [&] { test::WriteFile(remote + "/Docs.TQBak", test::ReadFile(Archive(1)) + "x"); }, 0},
        {"a run without a new archive copies what is missing", false,
         [&] { fs::remove(remote + "/Docs2.TQBak"); }, 0},
        {"rclone missing", true, [] { ::setenv(kRclone, "/nonexistent/rclone", 1); }, 4},
        {"catch-up after rclone came back", false, [] { ::unsetenv(kRclone); }, 0},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        if (step.change) {
            ChangeSource(40000);
            ++archives_;
        }
        step.remoteChange();
        const test::CommandResult run = Backup();
        EXPECT_EQ(run.exitCode, step.exitCode) << run.errors;
        if (step.exitCode == 0) ExpectCopiedTo(remote, archives_);
        else EXPECT_NE(run.errors.find("Job not copied off-site: Docs: rclone could not be started"), std::string::npos)
                 << run.errors;
    }
    ExpectFetchAndRestore(remote, temp_ / "fetched");

    // A local archive that differs from the remote's at the same size fails the check and stays.
    std::string altered = test::ReadFile(Archive(1));
    altered[altered.size() / 2] ^= 1;
    test::MakeFolders(temp_ / "altered");
    test::WriteFile(temp_ / "altered/Docs.TQBak", altered);
    const test::CommandResult fetch = test::RunCommand({restore_, "--fetch", remote, temp_ / "altered"});
    EXPECT_EQ(fetch.exitCode, 1);
    EXPECT_NE(fetch.errors.find("check failed: Docs.TQBak differs"), std::string::npos) << fetch.errors;
    EXPECT_EQ(test::ReadFile(temp_ / "altered/Docs.TQBak"), altered);
}

TEST_F(OffsiteCopyTest, SftpRemoteOutageCatchUpAndCheck) {
    const int port = FreePort();
    ASSERT_GT(port, 0);
    const test::CommandResult obscured = test::RunCommand({"rclone", "obscure", "throwaway"});
    ASSERT_EQ(obscured.exitCode, 0);
    test::WriteFile(temp_ / "rclone.conf", "[srv]\ntype = sftp\nhost = 127.0.0.1\nport = " + std::to_string(port) +
                                               "\nuser = tester\npass = " + obscured.output + "\n");
    const std::string served = temp_ / "served";
    test::MakeFolders(served);
    UseRemote("srv:sets/Docs");
    auto server = std::make_unique<SftpServer>(served, temp_ / "cache", port);
    ASSERT_TRUE(server->Running());

    ChangeSource(300000);
    archives_ = 1;
    test::CommandResult run = Backup();
    ASSERT_EQ(run.exitCode, 0) << run.errors;
    ExpectCopiedTo(served + "/sets/Docs", 1);

    // The server is down for a run: the backup is saved, the copy reported and logged.
    server.reset();
    ChangeSource(300000);
    archives_ = 2;
    run = Backup();
    EXPECT_EQ(run.exitCode, 4);
    EXPECT_NE(run.errors.find("Job not copied off-site: Docs: cannot list srv:sets/Docs: "), std::string::npos) << run.errors;
    EXPECT_TRUE(platform::IsRegularFile(Archive(2)));
    EXPECT_NE(test::ReadFile(temp_ / "program/backups.log").find("Not copied off-site: cannot list"), std::string::npos);

    // Back up: the next run catches up.
    server = std::make_unique<SftpServer>(served, temp_ / "cache", port);
    ASSERT_TRUE(server->Running());
    run = Backup();
    EXPECT_EQ(run.exitCode, 0) << run.errors;
    ExpectCopiedTo(served + "/sets/Docs", 2);
    ExpectFetchAndRestore("srv:sets/Docs", temp_ / "fetched");

    // An archive altered on the server at the same size: the fetched folder's copy no longer
    // matches the remote's hash.
    std::string altered = test::ReadFile(served + "/sets/Docs/Docs2.TQBak");
    altered[100] ^= 1;
    test::WriteFile(served + "/sets/Docs/Docs2.TQBak", altered);
    const test::CommandResult fetch = test::RunCommand({restore_, "--fetch", "srv:sets/Docs", temp_ / "fetched"});
    EXPECT_EQ(fetch.exitCode, 1);
    EXPECT_NE(fetch.errors.find("check failed: Docs2.TQBak differs (md5 "), std::string::npos) << fetch.errors;
}

TEST_F(OffsiteCopyTest, CancelStopsRcloneAndTheNextRunCatchesUp) {
    const std::string remote = temp_ / "offsite";
    UseRemote(remote);
    ChangeSource(3000000);
    archives_ = 1;
    // rclone reads its flags from the environment too: slow enough to be cancelled midway.
    ::setenv("RCLONE_BWLIMIT", "300k", 1);
    const std::string output = temp_ / "output.txt";
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int out = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(out, 1);
        ::dup2(out, 2);
        ::execl(backup_.c_str(), backup_.c_str(), "--run", "--dir", (temp_ / "program").c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::unsetenv("RCLONE_BWLIMIT");
    const std::string partial = remote + "/Docs.TQBak.partial";
    for (int i = 0; i < 200 && !(platform::IsRegularFile(partial) && fs::file_size(partial) > 0); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    ::kill(pid, SIGTERM);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 4) << test::ReadFile(output);
    EXPECT_NE(test::ReadFile(output).find("Job not copied off-site: Docs: canceled, rclone stopped"), std::string::npos)
        << test::ReadFile(output);
    // rclone has ended with the copy unfinished under its temporary name; the set is saved.
    ASSERT_TRUE(platform::IsRegularFile(partial));
    const auto cutAt = fs::file_size(partial);
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    EXPECT_EQ(fs::file_size(partial), cutAt);
    EXPECT_LT(cutAt, fs::file_size(Archive(1)));
    EXPECT_FALSE(platform::PathExists(remote + "/Docs.TQBak"));

    const test::CommandResult run = Backup();
    EXPECT_EQ(run.exitCode, 0) << run.errors;
    ExpectCopiedTo(remote, 1);
}

}  // namespace
}  // namespace halvex
