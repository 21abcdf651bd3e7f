// SPDX-License-Identifier: GPL-3.0-or-later
// Kinds of files through the real programs: links are kept as links, fifos and sockets are
// passed over without failing the run, and the archive's links read back as links with
// Python's zipfile, Info-ZIP's unzip and our restore.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "tests/support/temp_folder.h"
#include "tests/support/tools.h"

namespace halvex {
namespace {

namespace fs = std::filesystem;

// Links (to a file, a folder, nothing, itself, out of the source) and their targets; a
// fifo and a socket have none.
const std::pair<const char*, const char*> kKinds[] = {
    {"to-file", "f.txt"}, {"to-folder", "sub"},    {"dangling", "nowhere/x"}, {"loop", "loop"},
    {"outward", "../../etc"}, {"fifo", nullptr}, {"sock", nullptr},
};

void ExpectLinksAt(const std::string& folder) {
    for (const auto& [name, target] : kKinds) {
        const fs::path path = folder + "/" + name;
        std::error_code error;
        EXPECT_EQ(fs::read_symlink(path, error).string(), target ? target : "") << path;
        EXPECT_EQ(fs::exists(fs::symlink_status(path)), target != nullptr) << path;
    }
    EXPECT_EQ(test::ReadFile(folder + "/sub/g"), "below the linked folder");
}

TEST(FileKindsTest, LinksAreKeptAsLinksAndSpecialFilesPassedOverQuietly) {
    const std::string backup = test::BuiltProgram("halvex-backup"), restore = test::BuiltProgram("halvex-restore");
    test::TempFolder temp;
    const std::string data = temp / "data", archive = temp / "sets/Home.TQBak";
    test::MakeFolders(data + "/sub");
    test::MakeFolders(temp / "program");
    test::WriteFile(data + "/f.txt", "content");
    test::WriteFile(data + "/sub/g", "below the linked folder");
    for (const auto& [name, target] : kKinds) {
        if (target != nullptr) {
            ASSERT_EQ(::symlink(target, (data + "/" + name).c_str()), 0);
        }
    }
    ASSERT_EQ(::mkfifo((data + "/fifo").c_str(), 0600), 0);
    // A socket's path must fit sockaddr_un: bound under a short name, then moved in place.
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string bound = "/tmp/halvex-sock-" + std::to_string(::getpid());
    bound.copy(address.sun_path, sizeof address.sun_path - 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ::close(fd);
    ASSERT_EQ(::rename(bound.c_str(), (data + "/sock").c_str()), 0);
    test::WriteFile(temp / "program/backup.ini", "[Home]\r\n\tdir:\"" + data + "\"\r\n\tto:\"T\"\r\n\tzip:\"" +
                                                      temp / "sets" + "\"\r\n");
    const auto backUp = [&] { return test::RunCommand({backup, "--run", "--dir", temp / "program"}); };

    const test::CommandResult run = backUp();
    ASSERT_EQ(run.exitCode, 0) << run.errors;
    EXPECT_NE(run.errors.find("\n2 sockets, fifos or devices were not backed up"), std::string::npos) << run.errors;
    EXPECT_EQ(run.errors.find(data + "/sock"), std::string::npos) << run.errors;  // named in the log only
    const std::string log = test::RunCommand({restore, "--log", archive}).output;
    EXPECT_NE(log.find("Not backed up (socket): " + data + "/sock"), std::string::npos) << log;
    EXPECT_NE(log.find("Not backed up (fifo): " + data + "/fifo"), std::string::npos) << log;

    if (test::HasTool("python3")) {  // mode, method and data of each entry as another reader sees them
        const test::CommandResult entries = test::RunCommand(
            {"python3", "-c",
             "import sys, zipfile\nz = zipfile.ZipFile(sys.argv[1])\nfor i in z.infolist():\n"
             "    print(i.filename, oct(i.external_attr >> 16), i.compress_type, z.read(i).decode(errors='replace'))",
             archive});
        for (const auto& [name, target] : kKinds) {
            const std::string line = std::string("\nT/") + name + " 0o120777 0 " + (target ? target : "") + "\n";
            EXPECT_EQ(entries.output.find(line) != std::string::npos, target != nullptr) << name << entries.output;
        }
        EXPECT_EQ(entries.output.find("T/to-folder/"), std::string::npos) << entries.output;  // never descended
    }
    if (test::HasTool("unzip")) {
        const test::CommandResult unzip = test::RunCommand({"unzip", "-q", archive, "-d", temp / "unzipped"});
        EXPECT_EQ(unzip.exitCode, 0) << unzip.errors;
        ExpectLinksAt(temp / "unzipped/T");
    }
    const test::CommandResult restored = test::RunCommand({restore, "--restore", archive, "--to", temp / "restored"});
    ASSERT_EQ(restored.exitCode, 0) << restored.errors;
    ExpectLinksAt(temp / "restored/T");
    struct stat source {}, copy {};  // the link's own time, not its target's
    ASSERT_EQ(::lstat((data + "/dangling").c_str(), &source), 0);
    ASSERT_EQ(::lstat((temp / "restored/T/dangling").c_str(), &copy), 0);
    EXPECT_EQ(copy.st_mtim.tv_sec, source.st_mtim.tv_sec);

    // A link pointed elsewhere (with its own new time) is a changed entry of the next run.
    fs::remove(data + "/to-file");
    ASSERT_EQ(::symlink("sub/g", (data + "/to-file").c_str()), 0);
    const timespec later[2] = {{0, UTIME_OMIT}, {2000000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (data + "/to-file").c_str(), later, AT_SYMLINK_NOFOLLOW), 0);
    ASSERT_EQ(backUp().exitCode, 0);
    const std::string json = test::RunCommand({restore, "--files", temp / "sets/Home2.TQBak", "--json"}).output;
    EXPECT_NE(json.find("{\"archive\":\"Home2.TQBak\",\"size\":5,\"time\":\"2033-05-18T03:33:20Z\",\"path\":"
                        "\"T\\\\to-file\",\"link\":\"sub/g\"}\n"),
              std::string::npos)
        << json;
    EXPECT_NE(json.find("\"path\":\"T\\\\f.txt\"}\n"), std::string::npos) << json;  // a file has no link
    const std::string tsv = test::RunCommand({restore, "--files", temp / "sets/Home2.TQBak"}).output;
    EXPECT_NE(tsv.find("\tT\\to-file\n"), std::string::npos) << tsv;  // no field added
}

}  // namespace
}  // namespace halvex
