// SPDX-License-Identifier: GPL-3.0-or-later
// The -AUTORUN start: it ends while the backup program runs or when no archive lies in the
// folder, and otherwise opens the newest archive (the first by name on equal times).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/process_list.h"
#include "restore/autorun.h"
#include "tests/support/temp_folder.h"

namespace halvex {
namespace {

struct Archive {
    std::string name;
    std::int64_t mtime;
};

struct Case {
    const char* what;
    bool backupRunning;
    std::vector<Archive> files;
    std::optional<std::string> opened;
};

TEST(AutorunTest, WhichArchiveIsOpened) {
    const Case cases[] = {
        {"nothing beside the program", false, {}, std::nullopt},
        {"other files only", false, {{"notes.txt", 10}, {"Job.TQBak.old", 20}}, std::nullopt},
        {"the backup program runs", true, {{"Job.TQBak", 10}}, std::nullopt},
        {"the later of two", false, {{"Job.TQBak", 10}, {"Job2.TQBak", 30}, {"Other.TQBak", 20}}, "Job2.TQBak"},
        {"equal times: the first listed", false, {{"b.TQBak", 10}, {"a.tqbak", 10}}, "a.tqbak"},
    };
    for (const Case& c : cases) {
        test::TempFolder folder;
        for (const Archive& file : c.files) {
            test::WriteFile(folder / file.name, "x");
            test::SetMtime(folder / file.name, 1700000000 + file.mtime);
        }
        const auto opened = AutorunArchive([&] { return c.backupRunning; }, folder.path());
        EXPECT_EQ(opened, c.opened ? std::optional<std::string>(folder / *c.opened) : std::nullopt) << c.what;
    }
}

TEST(AutorunTest, ProcessListFindsRunningProgramsIgnoringCase) {
    int id = 0;
    EXPECT_TRUE(platform::IsProcessRunning("TEST_RESTORE", &id));  // this test program
    EXPECT_GT(id, 0);
    EXPECT_FALSE(platform::IsProcessRunning("no-such-program-halvex"));
}

}  // namespace
}  // namespace halvex
