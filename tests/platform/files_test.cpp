// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <cerrno>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/directory_listing.h"
#include "platform/file.h"
#include "platform/file_attributes.h"
#include "platform/file_error.h"
#include "platform/file_operations.h"
#include "platform/process.h"
#include "tests/support/temp_folder.h"

using namespace halvex::platform;
using halvex::test::ReadFile;
using halvex::test::TempFolder;
using halvex::test::WriteFile;

TEST(File, ReadWriteSeekTruncateAndErrors) {
    TempFolder dir;
    File f(dir / "data.bin", File::Mode::CreateTruncate);
    f.Write("hello world", 11);
    EXPECT_EQ(f.Length(), 11u);
    f.Seek(6);
    char buf[16] = {};
    EXPECT_EQ(f.Read(buf, sizeof buf), 5u);  // short only at the end
    EXPECT_EQ(std::string(buf, 5), "world");
    f.SetLength(5);
    EXPECT_EQ(f.Length(), 5u);
    f.Sync();
    f.Close();
    EXPECT_EQ(ReadFile(dir / "data.bin"), "hello");

    try {
        File missing(dir / "nope", File::Mode::Read);
        FAIL() << "opening a missing file must throw";
    } catch (const FileError& e) {
        EXPECT_EQ(e.osError(), ENOENT);
        EXPECT_EQ(e.path(), dir / "nope");
    }
    File folder;
    EXPECT_FALSE(folder.TryOpen(dir.path(), File::Mode::Read));  // a folder is not a file
}

TEST(File, AppendCreatesAndAppends) {
    TempFolder dir;
    {
        File f(dir / "log", File::Mode::Append);
        f.Write("a", 1);
    }
    {
        File f(dir / "log", File::Mode::Append);
        f.Write("b", 1);
    }
    EXPECT_EQ(ReadFile(dir / "log"), "ab");
}

TEST(File, EveryModeRefusesWhatIsNotARegularFileWithoutWaiting) {
    TempFolder dir;
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0644), 0);
    ASSERT_EQ(symlink((dir / "fifo").c_str(), (dir / "link").c_str()), 0);
    File f;
    alarm(20);  // a blocking open of the fifo would wait for a writer (or a reader) for ever
    for (File::Mode mode : {File::Mode::Read, File::Mode::ReadWrite, File::Mode::CreateTruncate, File::Mode::Append}) {
        for (const std::string& path : {dir / "fifo", dir / "link", dir.path(), std::string("/dev/null")}) {
            SCOPED_TRACE(path + " mode " + std::to_string(static_cast<int>(mode)));
            EXPECT_FALSE(f.TryOpen(path, mode, File::Access::OwnerOnly));
            EXPECT_EQ(errno, kNotRegularFile);
            EXPECT_EQ(FileError("open", path, errno).what(), "open '" + path + "': not a regular file");
        }
    }
    alarm(0);
    struct stat st {};
    ASSERT_EQ(stat((dir / "fifo").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);  // refused before it was narrowed to the owner
}

TEST(Attributes, MappedFromModes) {
    TempFolder dir;
    WriteFile(dir / "f", "x");
    EXPECT_EQ(*GetAttributes(dir / "f"), kAttrArchive);
    EXPECT_EQ(*GetAttributes(dir.path()), kAttrDirectory);
    ASSERT_TRUE(SetAttributes(dir / "f", kAttrArchive | kAttrReadOnly));
    struct stat st {};
    stat((dir / "f").c_str(), &st);
    EXPECT_EQ(st.st_mode & 0222, 0u);
    EXPECT_EQ(*GetAttributes(dir / "f"), kAttrArchive | kAttrReadOnly);
    EXPECT_FALSE(GetAttributes(dir / "missing").has_value());
}

TEST(DirectoryListing, ReportsKindsSizesAndLinks) {
    TempFolder dir;
    WriteFile(dir / "file.txt", "12345");
    halvex::test::MakeFolders(dir / "sub");
    ASSERT_EQ(symlink("file.txt", (dir / "link-to-file").c_str()), 0);
    ASSERT_EQ(symlink("sub", (dir / "link-to-dir").c_str()), 0);
    ASSERT_EQ(symlink("gone", (dir / "dangling").c_str()), 0);
    ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0600), 0);

    DirectoryListing list;
    ASSERT_TRUE(list.Open(dir.path()));
    std::set<std::string> seen;
    DirEntry e;
    while (list.Next(e)) {
        seen.insert(e.name);
        if (e.name == "file.txt") {
            EXPECT_EQ(e.kind, EntryKind::RegularFile);
            EXPECT_FALSE(e.isSymlink);
            EXPECT_EQ(e.size, 5u);
            EXPECT_NE(e.lastWriteTime, 0u);
        } else if (e.name == "sub") {
            EXPECT_EQ(e.kind, EntryKind::Directory);
            EXPECT_EQ(e.attributes, kAttrDirectory);
        } else if (e.name == "link-to-file") {
            EXPECT_EQ(e.kind, EntryKind::RegularFile);
            EXPECT_TRUE(e.isSymlink);
            EXPECT_EQ(e.linkSize, 8u);  // "file.txt"
        } else if (e.name == "link-to-dir") {
            EXPECT_EQ(e.kind, EntryKind::Directory);
            EXPECT_TRUE(e.isSymlink);
        } else if (e.name == "dangling") {
            EXPECT_EQ(e.kind, EntryKind::Unreadable);
            EXPECT_TRUE(e.isSymlink);
            EXPECT_EQ(e.linkSize, 4u);  // "gone"
            EXPECT_NE(e.linkTime, 0u);
        } else if (e.name == "pipe") {
            EXPECT_EQ(e.kind, EntryKind::Other);
            EXPECT_EQ(e.special, SpecialKind::Fifo);
        }
    }
    EXPECT_EQ(seen, (std::set<std::string>{"file.txt", "sub", "link-to-file", "link-to-dir",
                                           "dangling", "pipe"}));
    EXPECT_FALSE(DirectoryListing().Open(dir / "missing"));
}

TEST(FileOperations, CopyReplacesAndKeepsTime) {
    TempFolder dir;
    WriteFile(dir / "src", "new content");
    halvex::test::SetMtime(dir / "src", 1500000000, 5000);
    WriteFile(dir / "dst", "old");
    ASSERT_TRUE(CopyFileReplace(dir / "src", dir / "dst"));
    EXPECT_EQ(ReadFile(dir / "dst"), "new content");
    struct stat st {};
    stat((dir / "dst").c_str(), &st);
    EXPECT_EQ(st.st_mtim.tv_sec, 1500000000);
    EXPECT_FALSE(PathExists(dir / "dst.halvex-copy"));
    EXPECT_FALSE(CopyFileReplace(dir / "missing", dir / "dst"));
    EXPECT_EQ(ReadFile(dir / "dst"), "new content");  // a failed copy leaves the target alone
}

TEST(FileOperations, MoveNeverReplaces) {
    TempFolder dir;
    WriteFile(dir / "a", "a");
    WriteFile(dir / "b", "b");
    EXPECT_FALSE(MovePath(dir / "a", dir / "b"));
    EXPECT_EQ(ReadFile(dir / "b"), "b");
    EXPECT_TRUE(MovePath(dir / "a", dir / "c"));
    EXPECT_EQ(ReadFile(dir / "c"), "a");
    EXPECT_TRUE(DeleteFile(dir / "c"));
    EXPECT_FALSE(PathExists(dir / "c"));
    EXPECT_TRUE(CreateFolder(dir / "new"));
    EXPECT_FALSE(CreateFolder(dir / "new"));
    EXPECT_TRUE(IsDirectory(dir / "new"));
}

TEST(FileOperations, PathParts) {
    EXPECT_EQ(FolderOfPath("/a/b/c.txt"), "/a/b");
    EXPECT_EQ(FolderOfPath("c.txt"), ".");
    EXPECT_EQ(FolderOfPath("/c.txt"), "/");
    EXPECT_EQ(NameOfPath("/a/b/c.txt"), "c.txt");
}

TEST(Process, ExecutableAndCurrentFolder) {
    std::string exe = ExecutablePath();
    EXPECT_NE(exe.find("test_platform"), std::string::npos);
    char real[4096];
    ASSERT_NE(realpath(".", real), nullptr);
    EXPECT_EQ(CurrentFolder(), std::string(real));
}
