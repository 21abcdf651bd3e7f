// SPDX-License-Identifier: GPL-3.0-or-later
// End to end: halvex-backup --run --disc-ready with HALVEX_BURN_DRIVE=stdio:IMAGE puts the
// job's archives, halvex-restore and autorun.sh into an ISO image and removes the archives;
// a second run, of the job now encrypted, adds a session; the set read back from the image
// restores every date.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "platform/file_attributes.h"
#include "tests/backup/burn/burn_test_support.h"
#include "tests/support/tools.h"

using namespace halvex;
using namespace halvex::burntest;
using halvex::test::ReadFile;
using halvex::test::RunCommand;

TEST(CopyToCdImage, RunsBurnIntoAnImageFileAndTheSetRestoresFromIt) {
    if (!RealLibraryInstalled()) GTEST_SKIP() << "libisoburn or xorriso is not installed";
    test::TempFolder dir;
    const std::string program = dir / "program", backups = dir / "backups", image = dir / "disc.iso";
    test::MakeFolders(program);
    test::MakeFolders(dir / "src");
    test::WriteFile(program + "/backup.ini", "[Home]\r\nCDName:\"Home Disc\"\r\nzip:\"" + backups + "\"\r\ndir:\"" +
                                                 (dir / "src") + "\"\r\nto:\"Data\"\r\n");
    auto put = [&](const std::string& name, const std::string& content, std::int64_t time) {
        test::WriteFile(dir / ("src/" + name), content);
        test::SetMtime(dir / ("src/" + name), time, 0);
    };
    ScopedEnv drive(kBurnDriveVariable, "stdio:" + image), library(kBurnLibraryVariable, std::nullopt);
    const std::string backup = test::BuiltProgram("halvex-backup"), restore = test::BuiltProgram("halvex-restore");

    // Without a terminal and without --disc-ready the disc copy is skipped (exit 4).
    put("a.txt", "first", 1600000000);
    test::CommandResult r = RunCommand({backup, "--run", "--dir", program});
    EXPECT_EQ(r.exitCode, 4) << r.errors;
    EXPECT_FALSE(platform::PathExists(image));
    // The next run has nothing new but copies the archive that stayed.
    r = RunCommand({backup, "--run", "--dir", program, "--disc-ready"});
    EXPECT_EQ(r.exitCode, 0) << r.errors;
    // The job turns encrypted: the second archive is burned and read back like the first.
    const std::string key = dir / "key";
    test::WriteFile(key, "a password of the user's own choosing\n");
    ASSERT_EQ(chmod(key.c_str(), 0600), 0);
    test::WriteFile(program + "/backup.ini", ReadFile(program + "/backup.ini") + "encrypt:\"" + key + "\"\r\n");
    put("a.txt", "second", 1600000100);
    put("b.txt", "added", 1600000200);
    r = RunCommand({backup, "--run", "--dir", program, "--disc-ready"});
    EXPECT_EQ(r.exitCode, 0) << r.errors;
    EXPECT_FALSE(platform::PathExists(backups + "/Home.TQBak") || platform::PathExists(backups + "/Home2.TQBak"));

    EXPECT_EQ(ExtractImage(image, dir / "disc"), "Home Disc");
    EXPECT_EQ(ReadFile(dir / "disc/halvex-restore"), ReadFile(restore));
    EXPECT_EQ(access((dir / "disc/halvex-restore").c_str(), X_OK), 0);
    // Readable by whoever holds the disc, although the archives are private (600) here.
    for (const auto& [name, mode] : {std::pair{"Home.TQBak", 0444}, {"Home2.TQBak", 0444}, {"halvex-restore", 0555}}) {
        struct stat st {};
        ASSERT_EQ(stat((dir / "disc/" + name).c_str(), &st), 0) << name;
        EXPECT_EQ(st.st_mode & 07777, static_cast<mode_t>(mode)) << name;
    }
    EXPECT_EQ(ReadFile(dir / "disc/autorun.sh"), ReadFile(test::BuiltProgram("autorun.sh")));

    // Every date (menu label 1 the newest, 0 the first) restores as it was backed up.
    r = RunCommand({restore, "--list", dir / "disc/Home2.TQBak"});
    EXPECT_EQ(r.exitCode, 2) << "the burned archive is not encrypted: " << r.output;
    r = RunCommand({restore, "--list", dir / "disc/Home2.TQBak", "--password-file", key});
    EXPECT_EQ(r.output.rfind("set\tHome2.TQBak\t2\n", 0), 0u) << r.output << r.errors;
    const struct {
        const char* label;
        std::vector<std::tuple<const char*, const char*, std::int64_t>> files;
    } dates[] = {{"1", {{"a.txt", "second", 1600000100}, {"b.txt", "added", 1600000200}}},
                 {"0", {{"a.txt", "first", 1600000000}}}};
    for (const auto& date : dates) {
        const std::string to = dir / (std::string("restored") + date.label);
        r = RunCommand({restore, "--restore", dir / "disc/Home2.TQBak", "--date", date.label, "--to", to,
                        "--password-file", key});
        ASSERT_EQ(r.exitCode, 0) << r.errors;
        EXPECT_EQ(platform::PathExists(to + "/Data/b.txt"), date.files.size() == 2) << date.label;
        for (const auto& [name, content, time] : date.files) {
            struct stat st {};
            EXPECT_EQ(ReadFile(to + "/Data/" + name), content) << date.label;
            EXPECT_EQ(stat((to + "/Data/" + name).c_str(), &st) == 0 ? st.st_mtim.tv_sec : 0, time) << date.label;
        }
    }
}

// A job that both burns and copies off-site: the disc step deletes what it burned, so the
// off-site copy must already hold every archive by then.
TEST(CopyToCdImage, OffsiteCopyGetsTheArchivesTheDiscStepRemoves) {
    if (!RealLibraryInstalled()) GTEST_SKIP() << "libisoburn or xorriso is not installed";
    if (!test::HasTool("rclone")) GTEST_SKIP() << "rclone is not installed";
    test::TempFolder dir;
    const std::string program = dir / "program", backups = dir / "backups", remote = dir / "remote";
    test::MakeFolders(program);
    test::MakeFolders(dir / "src");
    test::WriteFile(dir / "src/a.txt", "first");
    test::WriteFile(program + "/backup.ini", "[Home]\r\nCDName:\"Home Disc\"\r\ncopyto:\"" + remote + "\"\r\nzip:\"" +
                                                 backups + "\"\r\ndir:\"" + (dir / "src") + "\"\r\nto:\"Data\"\r\n");
    ScopedEnv drive(kBurnDriveVariable, "stdio:" + (dir / "disc.iso")), library(kBurnLibraryVariable, std::nullopt);
    const test::CommandResult r =
        RunCommand({test::BuiltProgram("halvex-backup"), "--run", "--dir", program, "--disc-ready"});
    EXPECT_EQ(r.exitCode, 0) << r.errors;
    EXPECT_FALSE(platform::PathExists(backups + "/Home.TQBak"));
    EXPECT_EQ(ExtractImage(dir / "disc.iso", dir / "disc"), "Home Disc");
    EXPECT_EQ(ReadFile(remote + "/Home.TQBak"), ReadFile(dir / "disc/Home.TQBak"));
}
