// SPDX-License-Identifier: GPL-3.0-or-later
// Sets written by the backup program itself, when it is built beside this test: a target that
// joins the job later has its backups in the newest archives.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
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

// Folders and files below `root` ("dir/" for a folder), sorted; none when it is missing.
std::vector<std::string> TreeOnDisk(const std::string& root) {
    std::vector<std::string> entries;
    std::error_code error;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root, error)) {
        const std::string path = std::filesystem::relative(entry.path(), root).string();
        entries.push_back(entry.is_directory() ? path + "/" : path);
    }
    std::sort(entries.begin(), entries.end());
    return entries;
}

// Each layout is backed up, changed and backed up again; the later date must show exactly what
// was on disk then: no folder deleted before it, in the listing or in a whole restore.
TEST(BackupProgramSetTest, FoldersDeletedBeforeADateStayAbsentAtIt) {
    struct Shape {
        const char* name;
        std::vector<std::string> first;    // made before the first run ("dir/" a folder)
        std::vector<std::string> removed;  // removed with everything below before the second
        std::vector<std::string> added;    // made before the second run
    };
    const std::vector<Shape> shapes = {
        {"nested, alone", {"proj/src/m0/deep/deeper/f.cpp", "proj/src/m1/deep/deeper/f.cpp"}, {"proj"}, {}},
        {"beside kept ones", {"a/x", "b/y", "c/z", "d/w"}, {"b", "d"}, {}},
        {"beside a kept changed one", {"a/x", "b/sub/y", "c/z"}, {"b"}, {"a/new"}},
        {"several depths", {"x/y/z/f", "x/y2/f2", "w/v/f3", "k/f4"}, {"x/y/z", "w/v"}, {}},
        {"only empty folders", {"q/e1/e2/", "q/e3/", "keep/"}, {"q"}, {}},
        {"deleted and made again", {"d/sub/f", "d/g"}, {"d"}, {"d/n.txt"}},
        {"emptied, kept", {"e/f1", "e/sub/f2", "o/f3"}, {"e/f1", "e/sub"}, {}},
        {"emptied, kept, alone", {"e/f1", "e/sub/f2"}, {"e/f1", "e/sub/f2"}, {}},
        {"everything", {"a/b/c", "d/e"}, {"a", "d"}, {}},
        {"files only", {"top1", "top2", "s/f"}, {"top1", "s/f"}, {}},
    };
    const std::string backup = test::BuiltProgram("halvex-backup");
    const std::string restore = test::BuiltProgram("halvex-restore");
    ASSERT_TRUE(platform::IsRegularFile(backup)) << backup << " is not built";
    ASSERT_TRUE(platform::IsRegularFile(restore)) << restore << " is not built";
    for (const Shape& shape : shapes) {
        SCOPED_TRACE(shape.name);
        test::TempFolder temp;
        const std::string data = temp / "data";
        auto make = [&](const std::string& path, std::int64_t time) {
            if (path.back() == '/') return test::MakeFolders(data + "/" + path);
            test::MakeFolders(std::filesystem::path(data + "/" + path).parent_path().string());
            test::WriteFile(data + "/" + path, path);
            test::SetMtime(data + "/" + path, time);
        };
        test::MakeFolders(data);
        test::MakeFolders(temp / "program");
        test::WriteFile(temp / "program/backup.ini", "[Job]\r\n\tdir:\"" + data + "\"\r\n\tto:\"T\"\r\n\tzip:\"" +
                                                         temp / "sets" + "\"\r\n");
        auto run = [&] {
            const test::CommandResult r = test::RunCommand({backup, "--run", "--dir", temp / "program"});
            ASSERT_EQ(r.exitCode, 0) << r.errors;
        };
        // A changed file in every run: a run that only finds deletions writes no archive.
        make("changed.txt", 1700000000);
        for (const std::string& path : shape.first) make(path, 1700000000);
        run();
        for (const std::string& path : shape.removed) test::RemoveTree(data + "/" + path);
        for (const std::string& path : shape.added) make(path, 1700000100);
        make("changed.txt", 1700000100);
        run();

        const std::vector<std::string> expected = TreeOnDisk(data);
        std::vector<std::string> expectedFiles;
        for (const std::string& entry : expected)
            if (entry.back() != '/') expectedFiles.push_back("T\\" + entry);
        for (std::string& file : expectedFiles) std::replace(file.begin(), file.end(), '/', '\\');

        const test::CommandResult files = test::RunCommand({restore, "--files", temp / "sets/Job2.TQBak"});
        ASSERT_EQ(files.exitCode, 0) << files.errors;
        std::vector<std::string> listed;
        std::istringstream lines(files.output);
        for (std::string line; std::getline(lines, line);) listed.push_back(line.substr(line.rfind('\t') + 1));
        std::sort(listed.begin(), listed.end());
        EXPECT_EQ(listed, expectedFiles);

        const test::CommandResult restored =
            test::RunCommand({restore, "--restore", temp / "sets/Job2.TQBak", "--to", temp / "out"});
        ASSERT_EQ(restored.exitCode, 0) << restored.output << restored.errors;
        EXPECT_EQ(TreeOnDisk(temp / "out/T"), expected);
    }
}

}  // namespace
}  // namespace halvex
