// SPDX-License-Identifier: GPL-3.0-or-later
// Kinds of files through the real programs: symbolic links are kept as links (never
// followed), fifos and sockets are passed over without failing the run, and what the archive
// holds reads back as links with Info-ZIP's unzip and Python's zipfile as with our restore.
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

enum class Kind { Link, Fifo, Socket };

struct KindCase {
    const char* name;
    Kind kind;
    const char* target;  // of a link
};

// Link targets as the source holds them: to a file, to a folder, to nothing, to itself, and
// one that leaves the source folder.
const KindCase kCases[] = {
    {"to-file", Kind::Link, "f.txt"},    {"to-folder", Kind::Link, "sub"},
    {"dangling", Kind::Link, "nowhere/x"}, {"loop", Kind::Link, "loop"},
    {"outward", Kind::Link, "../../etc"},  {"fifo", Kind::Fifo, nullptr},
    {"sock", Kind::Socket, nullptr},
};

void MakeSocket(const std::string& path) {
    // A socket's path must fit sockaddr_un: it is bound in a short folder and moved in place.
    char folder[] = "/tmp/hxsockXXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    const std::string bound = std::string(folder) + "/s";
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    bound.copy(address.sun_path, sizeof address.sun_path - 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ::close(fd);
    ASSERT_EQ(::rename(bound.c_str(), path.c_str()), 0);
    ::rmdir(folder);
}

class FileKindsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(fs::is_regular_file(backup)) << backup << " is not built";
        test::MakeFolders(data + "/sub");
        test::MakeFolders(temp / "program");
        test::WriteFile(data + "/f.txt", "the file's own content");
        test::WriteFile(data + "/sub/g", "below the linked folder");
        for (const KindCase& c : kCases) {
            const std::string path = data + "/" + c.name;
            switch (c.kind) {
                case Kind::Link: ASSERT_EQ(::symlink(c.target, path.c_str()), 0) << c.name; break;
                case Kind::Fifo: ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0); break;
                case Kind::Socket: MakeSocket(path); break;
            }
        }
        test::WriteFile(temp / "program/backup.ini",
                        "[Home]\r\n\tdir:\"" + data + "\"\r\n\tto:\"T\"\r\n\tzip:\"" + temp / "sets" + "\"\r\n");
    }
    test::CommandResult BackUp() { return test::RunCommand({backup, "--run", "--dir", temp / "program"}); }

    // Every link of the table at `folder`, exactly as it was made, and nothing for the rest.
    void ExpectLinksAt(const std::string& folder) {
        for (const KindCase& c : kCases) {
            const fs::path path = folder + "/" + c.name;
            if (c.kind != Kind::Link) {
                EXPECT_FALSE(fs::exists(fs::symlink_status(path))) << path;
                continue;
            }
            ASSERT_TRUE(fs::is_symlink(fs::symlink_status(path))) << path;
            EXPECT_EQ(fs::read_symlink(path).string(), c.target) << path;
        }
        EXPECT_EQ(test::ReadFile(folder + "/f.txt"), "the file's own content");
        EXPECT_EQ(test::ReadFile(folder + "/sub/g"), "below the linked folder");
    }

    test::TempFolder temp;
    const std::string data = temp / "data";
    const std::string backup = test::BuiltProgram("halvex-backup");
    const std::string restore = test::BuiltProgram("halvex-restore");
};

TEST_F(FileKindsTest, LinksAreKeptAsLinksAndSpecialFilesPassedOverQuietly) {
    const test::CommandResult run = BackUp();
    ASSERT_EQ(run.exitCode, 0) << run.output << run.errors;
    const std::string terminal = run.output + run.errors;
    EXPECT_NE(terminal.find("2 sockets, fifos or devices were not backed up"), std::string::npos) << terminal;
    EXPECT_EQ(terminal.find(data + "/sock"), std::string::npos) << terminal;  // named in the log only
    const std::string archive = temp / "sets/Home.TQBak";

    const test::CommandResult log = test::RunCommand({restore, "--log", archive});
    EXPECT_NE(log.output.find("Not backed up (socket): " + data + "/sock"), std::string::npos) << log.output;
    EXPECT_NE(log.output.find("Not backed up (fifo): " + data + "/fifo"), std::string::npos) << log.output;

    // Each entry as another reader sees it: Unix mode, method, and a link's data.
    if (test::HasTool("python3")) {
        const test::CommandResult entries = test::RunCommand(
            {"python3", "-c",
             "import sys, zipfile\n"
             "for i in zipfile.ZipFile(sys.argv[1]).infolist():\n"
             "    if i.filename.startswith('T/'):\n"
             "        d = zipfile.ZipFile(sys.argv[1]).read(i) if (i.external_attr >> 28) == 0xA else b''\n"
             "        print(i.filename, oct(i.external_attr >> 16), i.compress_type, d.decode())\n",
             archive});
        ASSERT_EQ(entries.exitCode, 0) << entries.errors;
        for (const KindCase& c : kCases) {
            const std::string line = std::string("T/") + c.name + (c.kind == Kind::Link ? " 0o120777 0 " : " ");
            const bool listed = entries.output.find(line + (c.target ? c.target : "")) != std::string::npos;
            EXPECT_EQ(listed, c.kind == Kind::Link) << c.name << "\n" << entries.output;
        }
        // The linked folder's files are in the archive once, under their own folder only.
        EXPECT_EQ(entries.output.find("T/to-folder/"), std::string::npos) << entries.output;
    }
    if (test::HasTool("unzip")) {
        const std::string out = temp / "unzipped";
        const test::CommandResult unzip = test::RunCommand({"unzip", "-q", archive, "-d", out});
        EXPECT_EQ(unzip.exitCode, 0) << unzip.output << unzip.errors;
        ExpectLinksAt(out + "/T");
    }

    const std::string out = temp / "restored";
    const test::CommandResult restored = test::RunCommand({restore, "--restore", archive, "--to", out});
    ASSERT_EQ(restored.exitCode, 0) << restored.output << restored.errors;
    ExpectLinksAt(out + "/T");
    // The link's own time comes back (the link itself, not what it points to).
    struct stat source {}, copy {};
    ASSERT_EQ(::lstat((data + "/dangling").c_str(), &source), 0);
    ASSERT_EQ(::lstat((out + "/T/dangling").c_str(), &copy), 0);
    EXPECT_EQ(copy.st_mtim.tv_sec, source.st_mtim.tv_sec);

    const test::CommandResult json = test::RunCommand({restore, "--files", archive, "--json"});
    EXPECT_NE(json.output.find("\"path\":\"T\\\\to-folder\",\"link\":\"sub\""), std::string::npos) << json.output;
    EXPECT_EQ(json.output.find("\"path\":\"T\\\\f.txt\",\"link\""), std::string::npos) << json.output;
    const test::CommandResult tsv = test::RunCommand({restore, "--files", archive});
    EXPECT_EQ(tsv.output.find("sub\n"), std::string::npos) << tsv.output;  // no field added
}

// A link pointed elsewhere is a changed entry; an unchanged one is not stored again.
TEST_F(FileKindsTest, ARetargetedLinkIsBackedUpAgain) {
    ASSERT_EQ(BackUp().exitCode, 0);
    ASSERT_EQ(BackUp().exitCode, 0);
    EXPECT_FALSE(fs::exists(temp / "sets/Home2.TQBak"));  // nothing changed
    fs::remove(data + "/to-file");
    ASSERT_EQ(::symlink("sub/g", (data + "/to-file").c_str()), 0);
    // A later time, whatever the clock's resolution.
    const timespec later[2] = {{0, UTIME_OMIT}, {2000000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (data + "/to-file").c_str(), later, AT_SYMLINK_NOFOLLOW), 0);
    ASSERT_EQ(BackUp().exitCode, 0);
    const test::CommandResult json = test::RunCommand({restore, "--files", temp / "sets/Home2.TQBak", "--json"});
    EXPECT_NE(json.output.find("{\"archive\":\"Home2.TQBak\",\"size\":5,\"time\":\"2033-05-18T03:33:20Z\","
                               "\"path\":\"T\\\\to-file\",\"link\":\"sub/g\"}"),
              std::string::npos)
        << json.output;
}

}  // namespace
}  // namespace halvex
