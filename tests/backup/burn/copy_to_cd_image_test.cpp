// End to end: halvex-backup --run --disc-ready with HALVEX_BURN_DRIVE=stdio:IMAGE puts the
// job's archives, halvex-restore and autorun.sh into an ISO image and removes the archives;
// a second run adds a session; the set extracted from the image restores every date.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "platform/file_attributes.h"
#include "tests/backup/burn/burn_test_support.h"
#include "tests/backup/run_fixture.h"

using namespace halvex;
using namespace halvex::burntest;
using halvex::test::ReadFile;
using halvex::test::RunCommand;
using halvex::test::WriteFile;

namespace {

std::int64_t MtimeOf(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? st.st_mtim.tv_sec : -1;
}

}  // namespace

TEST(CopyToCdImage, RunsBurnIntoAnImageFileAndTheSetRestoresFromIt) {
    if (!RealLibraryInstalled() || !test::HasTool("xorriso")) GTEST_SKIP() << "libisoburn or xorriso missing";
    test::TempFolder dir;
    const std::string program = dir / "program", backups = dir / "backups", image = dir / "disc.iso";
    test::MakeFolders(program);
    test::MakeFolders(backups);
    test::MakeFolders(dir / "src");
    WriteFile(program + "/backup.ini", "[Home]\r\nCDName:\"Home Disc\"\r\nzip:\"" + backups + "\"\r\ndir:\"" +
                                           (dir / "src") + "\"\r\nto:\"Data\"\r\n");
    auto put = [&](const std::string& name, const std::string& content, std::int64_t time) {
        WriteFile(dir / ("src/" + name), content);
        test::SetMtime(dir / ("src/" + name), time, 0);
    };
    ScopedEnv drive(kBurnDriveVariable, "stdio:" + image);
    ScopedEnv library(kBurnLibraryVariable, std::nullopt);
    const std::string backup = test::BuiltProgram("halvex-backup");

    // Without a terminal and without --disc-ready the disc copy is skipped.
    put("a.txt", "first", 1600000000);
    test::CommandResult r = RunCommand({backup, "--run", "--dir", program});
    EXPECT_EQ(r.exitCode, 4) << r.errors;
    EXPECT_TRUE(platform::PathExists(backups + "/Home.TQBak"));
    EXPECT_FALSE(platform::PathExists(image));

    r = RunCommand({backup, "--run", "--dir", program, "--disc-ready"});
    // Archive 1 was kept by the run before, so this run has nothing new and copies it alone.
    EXPECT_EQ(r.exitCode, 0) << r.errors;
    put("a.txt", "second", 1600000100);
    put("b.txt", "added", 1600000200);
    r = RunCommand({backup, "--run", "--dir", program, "--disc-ready"});
    EXPECT_EQ(r.exitCode, 0) << r.errors;
    EXPECT_FALSE(platform::PathExists(backups + "/Home.TQBak"));
    EXPECT_FALSE(platform::PathExists(backups + "/Home2.TQBak"));

    std::string log;
    ASSERT_TRUE(ExtractImage(image, dir / "disc", &log)) << log;
    EXPECT_EQ(XorrisoVolumeId(image), "Home Disc");
    EXPECT_EQ(ReadFile(dir / "disc/halvex-restore"), ReadFile(test::BuiltProgram("halvex-restore")));
    EXPECT_TRUE(access((dir / "disc/halvex-restore").c_str(), X_OK) == 0);
    EXPECT_EQ(ReadFile(dir / "disc/autorun.sh"), ReadFile(test::BuiltProgram("autorun.sh")));

    // Every date of the set read back from the disc restores as it was backed up.
    const std::string restore = test::BuiltProgram("halvex-restore");
    r = RunCommand({restore, "--list", dir / "disc/Home2.TQBak"});
    ASSERT_EQ(r.exitCode, 0) << r.errors;
    EXPECT_EQ(r.output.rfind("set\tHome2.TQBak\t2\n", 0), 0u) << r.output;
    struct Date {
        std::string label;
        std::map<std::string, std::pair<std::string, std::int64_t>> files;
    };
    // Menu labels: the newest date is 1, the first 0.
    const Date dates[] = {{"1", {{"a.txt", {"second", 1600000100}}, {"b.txt", {"added", 1600000200}}}},
                          {"0", {{"a.txt", {"first", 1600000000}}}}};
    for (const Date& date : dates) {
        SCOPED_TRACE(date.label);
        const std::string to = dir / ("restored" + date.label);
        r = RunCommand({restore, "--restore", dir / "disc/Home2.TQBak", "--date", date.label, "--to", to});
        ASSERT_EQ(r.exitCode, 0) << r.errors;
        for (const auto& [name, file] : date.files) {
            EXPECT_EQ(ReadFile(to + "/Data/" + name), file.first) << name;
            EXPECT_EQ(MtimeOf(to + "/Data/" + name), file.second) << name;
        }
        EXPECT_EQ(platform::PathExists(to + "/Data/b.txt"), date.files.count("b.txt") == 1);
    }
}
