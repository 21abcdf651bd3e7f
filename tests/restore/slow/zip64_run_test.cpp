// SPDX-License-Identifier: GPL-3.0-or-later
// One run of the real backup program backs up a folder past 65,535 files, and one with a file
// past 4 GiB, into one archive each; the independent zip readers accept both, and the restore
// program gives back the same bytes and times.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "platform/file_attributes.h"
#include "platform/file_time.h"
#include "tests/support/temp_folder.h"
#include "tests/support/tools.h"
#include "zip/zip_archive_file.h"

namespace halvex {
namespace {

namespace fs = std::filesystem;

class Zip64RunTest : public ::testing::Test {
protected:
    void SetUp() override {
        backup = test::BuiltProgram("halvex-backup");
        restore = test::BuiltProgram("halvex-restore");
        ASSERT_TRUE(platform::IsRegularFile(backup) && platform::IsRegularFile(restore));
        test::MakeFolders(src);
        test::MakeFolders(temp / "program");
        test::WriteFile(temp / "program/backup.ini",
                        "[Home]\r\n\tdir:\"" + src + "\"\r\n\tto:\"Data\"\r\n\tzip:\"" + temp.path() + "\"\r\n");
    }

    // One run, then the archive as unzip, 7z and Python test it, as --verify reads it (when
    // asked: the restore reads every entry with its CRC too), and restored into a fresh folder.
    void BackUpCheckAndRestore(bool verify) {
        auto r = test::RunCommand({backup, "--run", "--dir", temp / "program"});
        ASSERT_EQ(r.exitCode, 0) << r.errors;
        const std::string archive = temp / "Home.TQBak";
        if (test::HasTool("unzip")) {
            r = test::RunCommand({"unzip", "-tqq", archive});
            EXPECT_EQ(r.exitCode, 0) << r.output.substr(0, 2000) << r.errors;
        }
        if (test::HasTool("7z")) {
            r = test::RunCommand({"7z", "t", archive});
            EXPECT_EQ(r.exitCode, 0) << r.output.substr(0, 2000) << r.errors;
        }
        if (test::HasTool("python3")) {
            r = test::RunCommand(
                {"python3", "-c", "import sys, zipfile; print(zipfile.ZipFile(sys.argv[1]).testzip())", archive});
            EXPECT_EQ(r.exitCode, 0) << r.errors;
            EXPECT_EQ(r.output, "None\n");
        }
        if (verify) {
            r = test::RunCommand({restore, "--verify", archive, "--set"});
            EXPECT_EQ(r.exitCode, 0) << r.errors;
        }
        r = test::RunCommand({restore, "--restore", archive, "--to", temp / "out"});
        ASSERT_EQ(r.exitCode, 0) << r.errors;
    }

    // Every file below src is below out/Data with the same bytes and last-write time.
    void ExpectRestoredAsBackedUp(std::size_t expectedFiles) {
        std::size_t files = 0;
        std::vector<char> a(1 << 20), b(1 << 20);
        for (const auto& entry : fs::recursive_directory_iterator(src)) {
            if (!entry.is_regular_file()) continue;
            ++files;
            const std::string from = entry.path().string();
            const std::string to = (temp / "out/Data/") + fs::relative(entry.path(), src).string();
            platform::FileTime t1 = 0, t2 = 0;
            ASSERT_TRUE(platform::GetLastWriteTime(to, t2)) << to;
            platform::GetLastWriteTime(from, t1);
            EXPECT_EQ(t1, t2) << to;
            int f1 = ::open(from.c_str(), O_RDONLY), f2 = ::open(to.c_str(), O_RDONLY);
            ASSERT_GE(f1, 0);
            ASSERT_GE(f2, 0);
            bool same = fs::file_size(entry.path()) == fs::file_size(to);
            for (ssize_t n1 = 1; same && n1 > 0;) {
                n1 = ::read(f1, a.data(), a.size());
                ssize_t n2 = ::read(f2, b.data(), b.size());
                same = n1 == n2 && std::equal(a.begin(), a.begin() + std::max<ssize_t>(n1, 0), b.begin());
            }
            ::close(f1);
            ::close(f2);
            EXPECT_TRUE(same) << to;
        }
        EXPECT_EQ(files, expectedFiles);
    }

    test::TempFolder temp;
    const std::string src = temp / "src";
    std::string backup, restore;
};

TEST_F(Zip64RunTest, HundredThousandFilesGoIntoOneArchive) {
    constexpr int kFolders = 100, kPerFolder = 1000;
    for (int f = 0; f < kFolders; ++f) {
        const std::string folder = src + "/d" + std::to_string(f);
        test::MakeFolders(folder);
        for (int i = 0; i < kPerFolder; ++i) {
            const std::string path = folder + "/f" + std::to_string(i) + ".txt";
            test::WriteFile(path, "file " + std::to_string(f * kPerFolder + i) + "\n");
            test::SetMtime(path, 1672531200 + i, 1000 * f);
        }
    }
    ASSERT_NO_FATAL_FAILURE(BackUpCheckAndRestore(true));
    ZipArchiveFile zip;
    zip.Open(temp / "Home.TQBak", ZipOpenReadOnly);
    // The files, their folders and the root, a history, backup.ini, ToDirs.tq, the run log.
    EXPECT_EQ(zip.GetEntryCount(), kFolders * kPerFolder + kFolders + 1 + 4);
    zip.Close();
    ExpectRestoredAsBackedUp(kFolders * kPerFolder);
}

TEST_F(Zip64RunTest, AFilePast4GiBGoesIntoOneArchive) {
    // Sparse, with marks at the start, across the 4 GiB border and at the end; just past the
    // border is enough for every 64-bit field, and each reader of the test reads it all.
    constexpr std::uint64_t kSize = (4ull << 30) + (64ull << 20);
    const std::string path = src + "/big.bin";
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(kSize)), 0);
    for (std::uint64_t at : {std::uint64_t{0}, (std::uint64_t{4} << 30) - 3, kSize - 5}) {
        ASSERT_EQ(::pwrite(fd, "marks", 5, static_cast<off_t>(at)), 5);
    }
    ::close(fd);
    test::SetMtime(path, 1700000000, 5);
    test::WriteFile(src + "/small.txt", "small");
    ASSERT_NO_FATAL_FAILURE(BackUpCheckAndRestore(false));
    // --files prints the whole size.
    auto r = test::RunCommand({restore, "--files", temp / "Home.TQBak"});
    EXPECT_NE(r.output.find("\t4362076160\t"), std::string::npos) << r.output;
    ExpectRestoredAsBackedUp(2);
}

}  // namespace
}  // namespace halvex
