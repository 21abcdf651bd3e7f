// SPDX-License-Identifier: GPL-3.0-or-later
// What halvex-restore does with a destination that already holds things, without a terminal:
// selections move aside only the restored items that are in the way; whole targets move the
// destination folder aside, except where that folder is the home folder, a mount point or holds
// the set. Then a restore onto a full disk, which must name what it left out.
#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <sys/mount.h>
#include <unistd.h>

#include "platform/file_attributes.h"
#include "platform/file_operations.h"
#include "platform/process.h"
#include "restore/archive_set.h"
#include "tests/restore/set_builder.h"
#include "tests/support/temp_folder.h"
#include "tests/support/tools.h"

namespace halvex {
namespace {

using test::Day;
using test::EntryContent;

// A small tmpfs mounted for the length of a test (root only); Mounted() is false otherwise.
class TmpfsMount {
public:
    TmpfsMount(const std::string& folder, const char* size) : folder_(folder) {
        test::MakeFolders(folder);
        mounted_ = ::geteuid() == 0 && ::mount("tmpfs", folder.c_str(), "tmpfs", 0, size) == 0;
    }
    ~TmpfsMount() {
        if (mounted_) ::umount2(folder_.c_str(), MNT_DETACH);
    }
    TmpfsMount(const TmpfsMount&) = delete;
    TmpfsMount& operator=(const TmpfsMount&) = delete;
    bool Mounted() const { return mounted_; }

private:
    std::string folder_;
    bool mounted_ = false;
};

enum class Where { Plain, Home, HomeInside, SetInside, MountPoint };

struct ConflictCase {
    const char* name;
    Where where;
    std::vector<std::string> paths;  // --path entries; none: the whole target to its source folder
    std::vector<std::string> extra;  // more arguments
    int exitCode;
    // Relative to the destination D ("../D.bak/..." for beside it): the content expected, "new"
    // for the restored version, "-" for nothing there.
    std::vector<std::pair<std::string, std::string>> expected;
    const char* told;  // in the program's messages ("" for nothing)
};

TEST(RestoreConflictTest, SelectionsMoveOnlyTheirItemsWholeTargetsTheFolderWhereThatIsSafe) {
    const std::vector<ConflictCase> cases = {
        {"file", Where::Plain, {"Data\\f.txt"}, {}, 0,
         {{"f.txt", "new"}, {"f.txt.bak", "old f"}, {"other.txt", "other"}, {"sub/old.txt", "old sub"}, {"../D.bak", "-"}},
         "Rename existing items to .bak"},
        {"file with a backup name taken", Where::Plain, {"Data\\f.txt"}, {}, 0,
         {{"f.txt", "new"}, {"f.txt.bak", "older"}, {"f.txt.bak2", "old f"}, {"../D.bak", "-"}}, ""},
        {"folder and a file not in the way", Where::Plain, {"Data\\sub", "Data\\new.txt"}, {}, 0,
         {{"sub/s.txt", "new"}, {"sub.bak/old.txt", "old sub"}, {"new.txt", "new"}, {"f.txt", "old f"}, {"../D.bak", "-"}},
         ""},
        {"nothing in the way asks nothing", Where::Plain, {"Data\\new.txt"}, {}, 0,
         {{"new.txt", "new"}, {"f.txt", "old f"}, {"f.txt.bak", "-"}}, "!Directory Exists"},
        {"file into the home folder", Where::Home, {"Data\\f.txt"}, {}, 0,
         {{"f.txt", "new"}, {"f.txt.bak", "old f"}, {"other.txt", "other"}, {"../D.bak", "-"}}, ""},
        {"folder that is the home folder", Where::HomeInside, {"Data\\sub"}, {}, 0,
         {{"sub/old.txt", "old sub"}, {"sub/s.txt", "new"}, {"sub.bak", "-"}}, "(It is not renamed: sub is your home folder.)"},
        {"whole target", Where::Plain, {}, {}, 0,
         {{"f.txt", "new"}, {"other.txt", "-"}, {"../D.bak/f.txt", "old f"}, {"../D.bak/other.txt", "other"}},
         "Rename destination folder"},
        {"whole target in the home folder", Where::Home, {}, {}, 0,
         {{"f.txt", "old f"}, {"new.txt", "new"}, {"other.txt", "other"}, {"../D.bak", "-"}},
         "it is your home folder.)\n  -> Do not replace existing files"},
        {"whole target holding the set", Where::SetInside, {}, {}, 0,
         {{"f.txt", "old f"}, {"sub/s.txt", "new"}, {"../D.bak", "-"}}, "it holds the archive set being read"},
        {"whole target on a mount point", Where::MountPoint, {}, {}, 0,
         {{"f.txt", "old f"}, {"new.txt", "new"}, {"../D.bak", "-"}}, "it is a mount point"},
        {"rename asked for the home folder", Where::Home, {}, {"--existing", "rename"}, 1,
         {{"f.txt", "old f"}, {"new.txt", "-"}, {"../D.bak", "-"}}, "is not renamed: it is your home folder"},
        {"replace in the home folder", Where::Home, {}, {"--existing", "replace"}, 0,
         {{"f.txt", "new"}, {"other.txt", "other"}, {"../D.bak", "-"}}, ""},
    };
    const std::string program = test::BuiltProgram("halvex-restore");
    for (const ConflictCase& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempFolder temp;
        const std::string d = temp / "D";
        std::optional<TmpfsMount> mount;
        if (c.where == Where::MountPoint) mount.emplace(d, "size=1m");
        if (mount && !mount->Mounted()) {
            std::printf("[ SKIPPED  ] %s: needs root to mount a tmpfs\n", c.name);
            continue;
        }
        test::MakeFolders(d + "/sub");
        test::WriteFile(d + "/f.txt", "old f");
        test::WriteFile(d + "/other.txt", "other");
        test::WriteFile(d + "/sub/old.txt", "old sub");
        if (std::string(c.name).find("backup name taken") != std::string::npos) test::WriteFile(d + "/f.txt.bak", "older");

        const std::string setFolder = c.where == Where::SetInside ? d + "/sets" : temp / "sets";
        test::MakeFolders(setFolder);
        test::SetBuilder builder(setFolder, "Job");
        builder.AddTarget("Data", d);
        const std::string t = std::to_string(Day(1));
        const std::string archive =
            builder.Run(Day(1), {{"Data", "", "(f.txt@" + t + ":5,new.txt@" + t + ":4)[sub(s.txt@" + t + ":3)]"}});

        const std::string home = c.where == Where::Home ? d : c.where == Where::HomeInside ? d + "/sub" : temp / "home";
        std::vector<std::string> argv = {"env", "HOME=" + home, program, "--restore", archive};
        for (const std::string& path : c.paths) argv.insert(argv.end(), {"--path", path});
        if (!c.paths.empty()) argv.insert(argv.end(), {"--to", d});
        argv.insert(argv.end(), c.extra.begin(), c.extra.end());
        const test::CommandResult r = test::RunCommand(argv);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.errors;

        for (const auto& [relative, content] : c.expected) {
            const std::string path = relative.rfind("../", 0) == 0 ? temp / relative.substr(3) : d + "/" + relative;
            if (content == "-") {
                EXPECT_FALSE(platform::PathExists(path)) << relative;
            } else if (content == "new") {
                const std::string entry = "Data\\" + (relative.rfind("sub/", 0) == 0 ? "sub\\" + relative.substr(4) : relative);
                const std::uint64_t size = relative == "f.txt" ? 5 : relative == "new.txt" ? 4 : 3;
                EXPECT_EQ(test::ReadFile(path), EntryContent(entry, 1, size)) << relative;
            } else {
                EXPECT_EQ(test::ReadFile(path), content) << relative;
            }
        }
        const std::string told = c.told;
        if (!told.empty() && told[0] == '!') {
            EXPECT_EQ(r.errors.find(told.substr(1)), std::string::npos) << r.errors;
        } else if (!told.empty()) {
            EXPECT_NE(r.errors.find(told), std::string::npos) << r.errors;
        }
    }
}

TEST(RestoreConflictTest, RenameIsNotOfferedForTheRootOrAFolderHoldingTheProgram) {
    ArchiveSet set;
    EXPECT_EQ(set.RenameRefusal("/"), "it is the root folder");
    const std::string programFolder = platform::FolderOfPath(platform::ExecutablePath());
    EXPECT_EQ(set.RenameRefusal(platform::FolderOfPath(programFolder)), "it holds the program folder");
    test::TempFolder temp;
    test::MakeFolders(temp / "plain");
    EXPECT_EQ(set.RenameRefusal(temp / "plain"), "");
}

TEST(RestoreConflictTest, ARestoreOntoAFullDiskNamesWhatItLeftOut) {
    test::TempFolder temp;
    TmpfsMount disk(temp / "full", "size=64k");
    if (!disk.Mounted()) GTEST_SKIP() << "needs root to mount a small tmpfs";
    test::SetBuilder builder(temp / "sets", "Job");
    test::MakeFolders(temp / "sets");
    builder.AddTarget("Data", "/src/data");
    const std::string t = std::to_string(Day(1));
    std::string files = "big.bin@" + t + ":300000";
    for (int i = 0; i < 30; ++i) files += ",f" + std::to_string(i) + ".txt@" + t + ":3000";
    const std::string archive = builder.Run(Day(1), {{"Data", "", "(" + files + ")"}});

    const test::CommandResult r =
        test::RunCommand({test::BuiltProgram("halvex-restore"), "--restore", archive, "--to", temp / "full"});
    EXPECT_EQ(r.exitCode, 4) << r.errors;
    EXPECT_EQ(r.errors.find(".halvex-extract"), std::string::npos) << r.errors;
    EXPECT_EQ(r.errors.find("Restoration Complete"), std::string::npos) << r.errors;
    // Every error names the entry and where it was to go; the end counts them.
    int errors = 0;
    for (std::size_t at = r.errors.find("Error: "); at != std::string::npos; at = r.errors.find("Error: ", at + 1)) {
        const std::string line = r.errors.substr(at, r.errors.find('\n', at) - at);
        EXPECT_EQ(line.rfind("Error: Could not restore Data/", 0), 0u) << line;
        EXPECT_NE(line.find(" to " + temp / "full/Data/"), std::string::npos) << line;
        ++errors;
    }
    EXPECT_GE(errors, 1);
    EXPECT_NE(r.errors.find("Data/big.bin to " + temp / "full/Data/big.bin: No space left on device."), std::string::npos)
        << r.errors;
    EXPECT_NE(r.errors.find("Incomplete: Restoration Incomplete: " + std::to_string(errors) +
                            (errors == 1 ? " item" : " items") + " could not be restored\n"),
              std::string::npos)
        << r.errors;
}

}  // namespace
}  // namespace halvex
