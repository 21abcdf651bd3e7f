// SPDX-License-Identifier: GPL-3.0-or-later
// Sets written by the backup program itself, when it is built beside this test: a target that
// joins the job later has its backups in the newest archives.
#include <gtest/gtest.h>

#include <sstream>

#include "platform/file_attributes.h"
#include "restore/archive_set.h"
#include "restore/restore_cli.h"
#include "restore/restore_selection.h"
#include "tests/restore/scripted_restore_ui.h"
#include "tests/restore/set_builder.h"
#include "tests/support/temp_folder.h"
#include "tests/support/tools.h"

namespace halvex {
namespace {

const FileTreeFile* FileNamed(const FileTreeNode* folder, const std::string& name) {
    for (const FileTreeFile* file = folder != nullptr ? folder->files : nullptr; file != nullptr; file = file->next)
        if (name == file->name) return file;
    return nullptr;
}

TEST(BackupProgramSetTest, TargetAddedLaterLiesInTheNewestArchives) {
    const std::string program = test::BuiltProgram("halvex-backup");
    ASSERT_TRUE(platform::IsRegularFile(program)) << program << " is not built";
    test::KeepCurrentFolder keep;
    test::TempFolder temp;
    test::MakeFolders(temp / "data");
    test::MakeFolders(temp / "late");
    test::MakeFolders(temp / "program");
    const std::string data = "\tdir:\"" + temp / "data" + "\"\r\n\tto:\"Data\"\r\n";
    const std::string late = "\tdir:\"" + temp / "late" + "\"\r\n\tto:\"Late\"\r\n";
    const std::string zip = "\tzip:\"" + temp / "sets" + "\"\r\n";
    auto backUp = [&](const std::string& mappings) {
        test::WriteFile(temp / "program/backup.ini", "[Home]\r\n" + mappings + zip);
        const test::CommandResult r = test::RunCommand({program, "--run", "--dir", temp / "program"});
        ASSERT_EQ(r.exitCode, 0) << r.errors;
    };
    test::WriteFile(temp / "data/a.txt", "one");
    test::SetMtime(temp / "data/a.txt", 1700000001);
    backUp(data);
    test::WriteFile(temp / "data/a.txt", "two");
    test::SetMtime(temp / "data/a.txt", 1700000003);
    backUp(data);
    test::WriteFile(temp / "late/x.txt", "late");
    test::SetMtime(temp / "late/x.txt", 1700000005);
    backUp(data + late);

    ArchiveSet set;
    ASSERT_TRUE(set.OpenSet(temp / "sets/Home3.TQBak"));
    ASSERT_EQ(set.TargetCount(), 2);
    EXPECT_EQ(set.GetTarget(0).backupCount, 3);
    EXPECT_EQ(set.GetTarget(1).backupCount, 1);
    EXPECT_EQ(set.DateCount(), 3);
    set.SelectDate(1);
    EXPECT_EQ(set.GetTargetTree(1), nullptr);  // Late had no backup yet
    set.SelectDate(2);
    ASSERT_NE(FileNamed(set.GetTargetTree(0), "a.txt"), nullptr);
    EXPECT_EQ(FileNamed(set.GetTargetTree(0), "a.txt")->archiveNumber, 2);
    ASSERT_NE(FileNamed(set.GetTargetTree(1), "x.txt"), nullptr);
    EXPECT_EQ(FileNamed(set.GetTargetTree(1), "x.txt")->archiveNumber, 3);

    test::ScriptedRestoreUi ui;
    set.SetUi(&ui);
    EXPECT_EQ(RestoreTargets(set, {0, 1}, temp / "out"), 0);
    EXPECT_EQ(test::ReadFile(temp / "out/Data/a.txt"), "two");
    EXPECT_EQ(test::ReadFile(temp / "out/Late/x.txt"), "late");

    std::istringstream in;
    std::ostringstream out, err;
    ASSERT_EQ(RunRestoreCommandLine({"--files", temp / "sets/Home3.TQBak"}, RestoreCliStreams{in, out, err, false}), 0);
    EXPECT_EQ(out.str(),
              "Home2.TQBak\t3\t2023-11-14 22:13:23\tData\\a.txt\n"
              "Home3.TQBak\t4\t2023-11-14 22:13:25\tLate\\x.txt\n");
    std::ostringstream verify;
    EXPECT_EQ(RunRestoreCommandLine({"--verify", temp / "sets/Home3.TQBak", "--set"},
                                    RestoreCliStreams{in, verify, err, false}),
              0)
        << verify.str();
}

}  // namespace
}  // namespace halvex
