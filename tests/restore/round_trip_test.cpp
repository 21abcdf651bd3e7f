// SPDX-License-Identifier: GPL-3.0-or-later
// Backs a changing folder up over six runs of the backup program, then restores every date into
// a fresh folder and compares it with what the folder held at that run: the same files with the same bytes and
// last-write times, nothing more, and every folder. (A folder removed together with all its
// files may come back empty: the removal record lists its files, not the folder, when the
// scan found no sub-folders beside it.)
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "platform/file_attributes.h"
#include "platform/file_operations.h"
#include "platform/file_time.h"
#include "restore/archive_set.h"
#include "restore/restore_selection.h"
#include "tests/restore/scripted_restore_ui.h"
#include "tests/restore/set_builder.h"
#include "tests/support/temp_folder.h"
#include "tests/support/tools.h"

namespace halvex {
namespace {

namespace fs = std::filesystem;

struct Item {
    bool folder = false;
    std::string content;
    platform::FileTime time = 0;
    bool operator==(const Item&) const = default;
};
using Snapshot = std::map<std::string, Item>;

// The files alone, or the folders alone.
Snapshot Only(const Snapshot& snapshot, bool folders) {
    Snapshot part;
    for (const auto& [path, item] : snapshot)
        if (item.folder == folders) part[path] = item;
    return part;
}

Snapshot Take(const std::string& root) {
    Snapshot snapshot;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const std::string relative = fs::relative(entry.path(), root).string();
        Item item;
        item.folder = entry.is_directory();
        if (!item.folder) {
            item.content = test::ReadFile(entry.path().string());
            platform::GetLastWriteTime(entry.path().string(), item.time);
        }
        snapshot[relative] = item;
    }
    return snapshot;
}

std::string Describe(const Snapshot& snapshot) {
    std::string text;
    for (const auto& [path, item] : snapshot) {
        text += path;
        if (item.folder) {
            text += "/\n";
            continue;
        }
        text += ' ';
        text += std::to_string(item.content.size());
        text += "b @";
        text += std::to_string(item.time);
        text += '\n';
    }
    return text;
}

class RoundTripTest : public ::testing::Test {
protected:
    void SetUp() override {
        program = test::BuiltProgram("halvex-backup");
        ASSERT_TRUE(platform::IsRegularFile(program)) << program << " is not built";
        test::MakeFolders(temp / "program");
        test::WriteFile(temp / "program/backup.ini",
                        "[Home]\r\n\tdir:\"" + src + "\"\r\n\tto:\"Data\"\r\n\tzip:\"" + temp.path() + "\"\r\n");
    }
    // One backup run.
    void BackUp() {
        const test::CommandResult r = test::RunCommand({program, "--run", "--dir", temp / "program"});
        ASSERT_EQ(r.exitCode, 0) << r.errors;
    }

    // Writes a file with its own time: `second` seconds into day `day`, plus some nanoseconds.
    void Write(const std::string& relative, const std::string& content, int day, int second) {
        const std::string path = src + "/" + relative;
        test::MakeFolders(platform::FolderOfPath(path));
        test::WriteFile(path, content);
        test::SetMtime(path, 1672531200 + day * 86400 + second, 123456700);
    }
    void Remove(const std::string& relative) { fs::remove_all(src + "/" + relative); }

    test::TempFolder temp;
    const std::string src = temp / "src";
    std::string program;
};

TEST_F(RoundTripTest, EveryDateComesBackAsItWas) {
    std::vector<Snapshot> snapshots;
    auto run = [&] {
        BackUp();
        snapshots.push_back(Take(src));
    };
    test::MakeFolders(src);
    Write("a.txt", "first a", 1, 1);
    Write("b.txt", std::string(200000, 'b'), 1, 2);
    Write("empty.txt", "", 1, 3);
    Write("sub/c.txt", "c", 1, 4);
    Write("sub/deep/d.txt", "d", 1, 5);
    Write("gone/x.txt", "x", 1, 6);
    Write("Makefile", "upper", 1, 7);
    Write("makefile", "lower", 1, 8);
    run();

    Write("a.txt", "second a, longer", 2, 1);  // changed
    Write("new.txt", "new", 2, 2);              // added
    Remove("b.txt");                            // removed
    run();

    ASSERT_EQ(std::rename((src + "/sub/c.txt").c_str(), (src + "/sub/c2.txt").c_str()), 0);  // renamed
    Remove("gone");                                                                         // folder removed
    Write("b.txt", "b is back", 3, 1);                                                      // added again
    run();

    Write("a.txt", "older a", 0, 9);  // changed back to an older time
    Write("Makefile", "UPPER", 4, 1);  // only one of the case twins
    run();

    Remove("sub/deep/d.txt");  // its folder stays, empty
    Write("empty.txt", "no longer empty", 5, 1);
    run();

    Remove("sub");  // a folder with its files and sub-folder
    Write("late.txt", "late", 6, 1);  // a run that only removes stores nothing
    run();

    ArchiveSet set;
    test::ScriptedRestoreUi ui;
    set.SetUi(&ui);
    ASSERT_TRUE(set.OpenSet(temp / "Home6.TQBak"));
    ASSERT_EQ(set.DateCount(), 6);
    for (int date = 0; date < 6; ++date) {
        set.SelectDate(date);
        const std::string out = temp / ("out" + std::to_string(date));
        ASSERT_EQ(RestoreTargets(set, {0}, out), 0) << "date " << date;
        const Snapshot restored = Take(out + "/Data");
        EXPECT_EQ(Describe(Only(restored, false)), Describe(Only(snapshots[date], false))) << "date " << date;
        EXPECT_EQ(Only(restored, false), Only(snapshots[date], false)) << "date " << date;
        for (const auto& [path, item] : Only(snapshots[date], true))
            EXPECT_TRUE(restored.count(path) == 1 && restored.at(path).folder) << path << " at date " << date;
    }
    EXPECT_EQ(ui.progressOpened, ui.progressClosed);
    EXPECT_TRUE(ui.directoryQuestions.empty());
}

}  // namespace
}  // namespace halvex
