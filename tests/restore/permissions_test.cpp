// SPDX-License-Identifier: GPL-3.0-or-later
// Unix permissions through the real programs: the backup program stores them, `--restore`,
// unzip and Python's zipfile find them again; the archives, the store and the log are private
// whatever the umask; sets written before permissions were stored restore as they always did.
#include <gtest/gtest.h>

#include <filesystem>
#include <cstdio>
#include <map>
#include <sstream>
#include <sys/stat.h>

#include "platform/file_attributes.h"
#include "restore/archive_set.h"
#include "restore/restore_selection.h"
#include "tests/restore/scripted_restore_ui.h"
#include "tests/restore/set_builder.h"
#include "tests/support/temp_folder.h"
#include "tests/support/tools.h"

namespace halvex {
namespace {

namespace fs = std::filesystem;

// Parents before their contents.
struct Item {
    const char* path;
    bool folder;
    mode_t mode;
};
constexpr Item kItems[] = {
    {"key", false, 0600},          {"notes.txt", false, 0644},         {"script.sh", false, 0755},
    {"private", true, 0700},       {"private/tool", false, 0700},      {"sealed", true, 0500},
    {"sealed/readme", false, 0444}, {"sealed/inner", true, 0755},      {"sealed/inner/deep", false, 0644},
};

// Lets the temporary folder be removed although it holds folders without write permission.
class OpenUpOnExit {
public:
    explicit OpenUpOnExit(std::string root) : root_(std::move(root)) {}
    ~OpenUpOnExit() {
        std::error_code ec;
        for (auto it = fs::recursive_directory_iterator(root_, ec); !ec && it != fs::recursive_directory_iterator();
             it.increment(ec)) {
            if (it->is_directory(ec) && !it->is_symlink(ec)) ::chmod(it->path().c_str(), 0700);
        }
    }

private:
    std::string root_;
};

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? st.st_mode : 0;
}

// Every item of the table whose mode under `root` differs, as "path: found (expected)" lines.
std::string WrongModes(const std::string& root) {
    std::string wrong;
    for (const Item& item : kItems) {
        const mode_t mode = ModeOf(root + "/" + item.path);
        const mode_t type = item.folder ? S_IFDIR : S_IFREG;
        if (mode != (type | item.mode)) {
            char line[160];
            std::snprintf(line, sizeof line, "%s: %o (expected %o)\n", item.path, mode, type | item.mode);
            wrong += line;
        }
    }
    return wrong;
}

TEST(PermissionsTest, BackupAndRestoreKeepEveryModeAndKeepTheirOwnFilesPrivate) {
    const std::string backup = test::BuiltProgram("halvex-backup");
    const std::string restore = test::BuiltProgram("halvex-restore");
    ASSERT_TRUE(platform::IsRegularFile(backup) && platform::IsRegularFile(restore));
    test::TempFolder temp;
    OpenUpOnExit openUp(temp.path());
    test::UmaskFor umask(0);  // nothing may rely on the umask to keep files private
    const std::string src = temp / "src";
    test::MakeFolders(src);
    for (const Item& item : kItems) {
        const std::string path = src + "/" + item.path;
        if (item.folder) test::MakeFolders(path);
        else test::WriteFile(path, std::string("content of ") + item.path);
    }
    test::WriteFile(src + "/private/gone", "removed before the second run");
    for (auto it = std::rbegin(kItems); it != std::rend(kItems); ++it)
        ASSERT_EQ(::chmod((src + "/" + it->path).c_str(), it->mode), 0) << it->path;
    test::MakeFolders(temp / "program");
    test::WriteFile(temp / "program/backup.ini",
                    "[Home]\r\n\tdir:\"" + src + "\"\r\n\tto:\"Data\"\r\n\tzip:\"" + temp / "sets" + "\"\r\n");
    test::WriteFile(temp / "program/backups.log", "written by an older version\r\n");
    ASSERT_EQ(::chmod((temp / "program/backups.log").c_str(), 0644), 0);
    auto backUp = [&] {
        const test::CommandResult r = test::RunCommand({backup, "--run", "--dir", temp / "program"});
        ASSERT_EQ(r.exitCode, 0) << r.errors;
    };
    backUp();
    // The second run stores one file and renumbers "private" (a file of it went) without
    // storing its folder entry again: its mode must still be found in the first archive.
    test::WriteFile(src + "/notes.txt", "changed");
    test::SetMtime(src + "/notes.txt", 1900000000);
    ASSERT_EQ(::unlink((src + "/private/gone").c_str()), 0);
    backUp();

    for (const std::string name : {"sets/Home.TQBak", "sets/Home2.TQBak", "program/FileLists.tq",
                                   "program/FileLists.bak", "program/backups.log"})
        EXPECT_EQ(ModeOf(temp / name), S_IFREG | 0600) << name << " " << std::oct << ModeOf(temp / name);
    EXPECT_FALSE(platform::PathExists(temp / "program/FileLists.new"));

    // The whole target, and a selection of one folder.
    test::CommandResult r = test::RunCommand({restore, "--restore", temp / "sets/Home2.TQBak", "--to", temp / "out"});
    ASSERT_EQ(r.exitCode, 0) << r.errors;
    EXPECT_EQ(WrongModes(temp / "out/Data"), "");
    EXPECT_EQ(test::ReadFile(temp / "out/Data/notes.txt"), "changed");
    EXPECT_EQ(test::ReadFile(temp / "out/Data/sealed/inner/deep"), "content of sealed/inner/deep");
    r = test::RunCommand(
        {restore, "--restore", temp / "sets/Home2.TQBak", "--path", "Data\\sealed", "--to", temp / "selection"});
    ASSERT_EQ(r.exitCode, 0) << r.errors;
    EXPECT_EQ(ModeOf(temp / "selection/sealed"), S_IFDIR | 0500);
    EXPECT_EQ(ModeOf(temp / "selection/sealed/readme"), S_IFREG | 0444);

    // Aborted once "private" is made, before its file comes from the first archive: what was
    // made still gets its permissions.
    {
        ArchiveSet set;
        ASSERT_TRUE(set.OpenSet(temp / "sets/Home2.TQBak"));
        set.SelectDate(set.DateCount() - 1);
        test::ScriptedRestoreUi ui;
        ui.onPump = [&](test::ScriptedRestoreUi& u) {
            if (platform::IsDirectory(temp / "aborted/Data/private")) u.ClickCancel();
        };
        set.SetUi(&ui);
        EXPECT_NE(RestoreTargets(set, {0}, temp / "aborted"), 0);
        EXPECT_EQ(ModeOf(temp / "aborted/Data/private"), S_IFDIR | 0700);
        EXPECT_FALSE(platform::PathExists(temp / "aborted/Data/private/tool"));
    }

    // Other tools: the first archive holds every item.
    if (test::HasTool("unzip")) {
        r = test::RunCommand({"unzip", "-q", temp / "sets/Home.TQBak", "-d", temp / "unzip"});
        ASSERT_EQ(r.exitCode, 0) << r.output << r.errors;
        EXPECT_EQ(WrongModes(temp / "unzip/Data"), "");
        EXPECT_EQ(ModeOf(temp / "unzip/tqbackup.log"), S_IFREG | 0600);
    }
    if (test::HasTool("python3")) {
        // Python's zipfile (3.11) leaves permissions to its caller: they are the high 16 bits.
        r = test::RunCommand({"python3", "-c",
                              "import sys,zipfile\n"
                              "for i in zipfile.ZipFile(sys.argv[1]).infolist():\n"
                              "    print('%s %o' % (i.filename.rstrip('/'), i.external_attr >> 16))\n",
                              temp / "sets/Home.TQBak"});
        ASSERT_EQ(r.exitCode, 0) << r.errors;
        std::map<std::string, std::string> found;
        std::istringstream lines(r.output);
        for (std::string name, mode; lines >> name >> mode;) found[name] = mode;
        for (const Item& item : kItems) {
            char mode[16];
            std::snprintf(mode, sizeof mode, "%o", (item.folder ? S_IFDIR : S_IFREG) | item.mode);
            EXPECT_EQ(found["Data/" + std::string(item.path)], mode) << item.path;
        }
    }
}

TEST(PermissionsTest, SetsWithoutPermissionsRestoreAsTheyAlwaysDid) {
    test::TempFolder temp;
    test::UmaskFor umask(022);
    test::MakeFolders(temp / "sets");
    test::SetBuilder builder(temp / "sets", "Old");
    builder.AddTarget("Data", "/home/someone/data");
    const std::string t = std::to_string(test::Day(1));
    const std::string archive = builder.Run(test::Day(1), {{"Data", "", "(a.txt@" + t + ":5)[sub(b.txt@" + t + ":3)]"}});
    ArchiveSet set;
    ASSERT_TRUE(set.OpenSet(archive));
    set.SelectDate(set.DateCount() - 1);
    test::ScriptedRestoreUi ui;
    set.SetUi(&ui);
    ASSERT_EQ(RestoreTargets(set, {0}, temp / "out"), 0);
    // Made as any new file and folder: as the umask allows.
    EXPECT_EQ(ModeOf(temp / "out/Data/a.txt"), S_IFREG | 0644);
    EXPECT_EQ(ModeOf(temp / "out/Data/sub"), S_IFDIR | 0755);
    EXPECT_EQ(ModeOf(temp / "out/Data/sub/b.txt"), S_IFREG | 0644);
}

}  // namespace
}  // namespace halvex
