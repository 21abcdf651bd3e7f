// SPDX-License-Identifier: GPL-3.0-or-later
// The listing modes of halvex-restore: exact output, errors and exit status.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <sstream>

#include "platform/file_attributes.h"
#include "platform/process.h"
#include "restore/restore_cli.h"
#include "tests/restore/set_builder.h"
#include "tests/support/temp_folder.h"
#include "tests/support/tools.h"

namespace halvex {
namespace {

using test::Day;

std::string Crc(const std::string& data) {
    char hex[9];
    std::snprintf(hex, sizeof hex, "%08lx",
                  crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
    return hex;
}

struct CliResult {
    int status = -1;
    std::string out;
    std::string err;
};

class RestoreCliTest : public ::testing::Test {
protected:
    void SetUp() override {
        builder.AddTarget("Data", "/src/data");
        builder.AddTarget("Docs", "/src/docs");
        builder.Run(Day(1), {{"Data", "", "(a.txt@" + T1 + ":5)[sub(b.txt@" + T1 + ":3)]"}, {"Docs", "", "(d.doc@" + T1 + ":2)"}});
        builder.Run(Day(2), {{"Data", "", "(a.txt@" + T2 + ":6)"}, {"Docs", "", ""}});
        builder.Run(Day(3), {{"Data", "[sub]", ""}, {"Docs", "", ""}});
        archive = builder.ArchivePath(3);
    }

    CliResult Run(std::vector<std::string> args, const std::string& input = {}) {
        std::istringstream in(input);
        std::ostringstream out, err;
        CliResult result;
        auto status = RunRestoreCommandLine(args, RestoreCliStreams{in, out, err, false});
        result.status = status.value_or(-1);
        result.out = out.str();
        result.err = err.str();
        return result;
    }

    const std::string T1 = std::to_string(Day(0));       // 2023-01-01 12:00:00
    const std::string T2 = std::to_string(Day(1, 30));   // 2023-01-02 12:00:30
    test::TempFolder temp;
    test::SetBuilder builder{temp.path(), "Job"};
    std::string archive;
};

TEST_F(RestoreCliTest, ListShowsTheSetItsDatesAndTargets) {
    const CliResult r = Run({"--list", archive});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "set\tJob3.TQBak\t3\n"
              "date\t2\tJanuary 04, 2023\n"
              "date\t1\tJanuary 03, 2023\n"
              "date\t0\tJanuary 02, 2023\n"
              "target\tData\t/src/data\n"
              "target\tDocs\t/src/docs\n");
}

TEST_F(RestoreCliTest, FilesListsEveryTreeAtTheDate) {
    CliResult r = Run({"--files", archive});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "Job2.TQBak\t6\t2023-01-02 12:00:30\tData\\a.txt\n"
              "Job.TQBak\t2\t2023-01-01 12:00:00\tDocs\\d.doc\n");
    r = Run({"--files", archive, "--date", "0"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "Job.TQBak\t5\t2023-01-01 12:00:00\tData\\a.txt\n"
              "Job.TQBak\t3\t2023-01-01 12:00:00\tData\\sub\\b.txt\n"
              "Job.TQBak\t2\t2023-01-01 12:00:00\tDocs\\d.doc\n");
    r = Run({"--files", archive, "--date", "3"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "halvex-restore: no backup date is labelled 3\n");
}

TEST_F(RestoreCliTest, SearchFindsWhatTheSearchPageFinds) {
    CliResult r = Run({"--search", archive, "*.TXT", "--all"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "Job.TQBak\t5\t2023-01-01 12:00:00\tData\\a.txt\n"
              "Job.TQBak\t3\t2023-01-01 12:00:00\tData\\sub\\b.txt\n"
              "Job2.TQBak\t6\t2023-01-02 12:00:30\tData\\a.txt\n");
    r = Run({"--search", archive, "*", "--look-in", "data/sub", "--date", "0"});
    EXPECT_EQ(r.out, "Job.TQBak\t3\t2023-01-01 12:00:00\tData\\sub\\b.txt\n");
    r = Run({"--search", archive, "*", "--look-in", "Data/sub"});  // gone at the newest date
    EXPECT_EQ(r.out, "");
    r = Run({"--search", archive, "*", "--look-in", "<all dirs>"});
    EXPECT_EQ(r.out.size(), Run({"--files", archive}).out.size());
}

TEST_F(RestoreCliTest, VersionsListsEveryStoredVersionNewestFirst) {
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string out;
        std::string err;
    };
    const std::string usage = RestoreUsage();
    const Case cases[] = {
        // Two versions of a.txt, each at its archive's date; the fields follow those of --files.
        {{"--versions", archive, "Data\\a.txt"},
         0,
         "January 03, 2023\tJob2.TQBak\t6\t2023-01-02 12:00:30\tData\\a.txt\n"
         "January 02, 2023\tJob.TQBak\t5\t2023-01-01 12:00:00\tData\\a.txt\n",
         ""},
        // '/' and another letter case name the same file, shown as stored; a file gone by the
        // newest date still has its version.
        {{"--versions", archive, "data/SUB/B.TXT"}, 0, "January 02, 2023\tJob.TQBak\t3\t2023-01-01 12:00:00\tData\\sub\\b.txt\n", ""},
        {{"--versions", archive, "Docs/d.doc", "--json"},
         0,
         "{\"date\":\"January 02, 2023\",\"archive\":\"Job.TQBak\",\"size\":2,\"time\":\"2023-01-01T12:00:00Z\","
         "\"path\":\"Docs\\\\d.doc\"}\n",
         ""},
        {{"--versions", archive, "Data/sub"}, 2, "", "halvex-restore: Data\\sub is not a file of the set\n"},
        {{"--versions", archive, "Nope/a.txt"}, 2, "", "halvex-restore: Nope\\a.txt is not a file of the set\n"},
        {{"--versions", archive}, 2, "", "halvex-restore: --versions needs ARCHIVE and ENTRY\n" + usage},
        {{"--versions", archive, "Data/a.txt", "--date", "1"}, 2, "", "halvex-restore: --date cannot be used with --versions\n" + usage},
    };
    for (const Case& c : cases) {
        const CliResult r = Run(c.args);
        EXPECT_EQ(r.status, c.status) << c.args.back();
        EXPECT_EQ(r.out, c.out) << c.args.back();
        EXPECT_EQ(r.err, c.err) << c.args.back();
    }
}

TEST_F(RestoreCliTest, LogPrintsTheLogOfAnArchive) {
    CliResult r = Run({"--log", archive});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "Log of archive 3\r\n");
    r = Run({"--log", archive, "--archive", "1"});
    EXPECT_EQ(r.out, "Log of archive 1\r\n");
    r = Run({"--log", archive, "--archive", "4"});
    EXPECT_EQ(r.status, 2);

    std::remove(builder.ArchivePath(1).c_str());
    r = Run({"--log", archive, "--archive", "1"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    // The missing archive is given up on without a terminal.
    EXPECT_EQ(r.err,
              "Open: The archive Job.TQBak was not found.\n  -> Cancel\n"
              "Abort?: Are you sure you want to abort?\n  -> Yes\n"
              "Unable to retrieve error log.\n");
}

TEST_F(RestoreCliTest, VerifyReadsEveryEntry) {
    CliResult r = Run({"--verify", builder.ArchivePath(1)});
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string content = test::EntryContent("Data\\a.txt", 1, 5);
    EXPECT_NE(r.out.find("ok\t0\tJob.TQBak\tData\\a.txt\t5\t" + Crc(content) + "\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.rfind("ok\t0\tJob.TQBak\tData\\\t0\t00000000\n", 0), 0u) << r.out;  // a folder entry
    EXPECT_EQ(r.err, "Verified 11 entries in 1 archive: all ok.\n");

    // Any zip archive can be verified, also one of no set; stored data with one byte changed.
    const std::string path = temp / "Other.zip";
    test::WriteArchive(path, {{"x", "hello world", 0}, {"y", "second", 0}});
    std::string bytes = test::ReadFile(path);
    bytes[bytes.find("hello world")] = 'j';
    test::WriteFile(path, bytes);
    r = Run({"--verify", path});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out,
              "error\t11\tOther.zip\tx\t11\t" + Crc("hello world") + "\n"
              "ok\t0\tOther.zip\ty\t6\t" + Crc("second") + "\n");
    EXPECT_EQ(r.err, "Verified 2 entries in 1 archive: 1 problem.\n");

    r = Run({"--verify", temp / "none.zip"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "open-failed\t0\tnone.zip\t\t\n");
}

TEST_F(RestoreCliTest, VerifyReportsEntriesThatCannotBeRead) {
    const std::string path = temp / "Odd.zip";
    test::WriteArchive(path, {{"locked", "secret", 0}, {"cut", "0123456789", 0}});
    std::string bytes = test::ReadFile(path);
    // "locked": the encryption flag in its local and central headers.
    const std::size_t local = 0, central = bytes.find(std::string("PK\1\2", 4));
    bytes[local + 6] |= 1;
    bytes[central + 8] |= 1;
    // "cut": both headers declare 20 bytes where 10 are stored.
    const std::size_t cutLocal = bytes.find(std::string("PK\3\4", 4), 1);
    const std::size_t cutCentral = bytes.find(std::string("PK\1\2", 4), central + 1);
    bytes[cutLocal + 22] = 20;
    bytes[cutCentral + 24] = 20;
    test::WriteFile(path, bytes);

    const CliResult r = Run({"--verify", path});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out,
              "refused\t0\tOdd.zip\tlocked\t6\t" + Crc("secret") + "\n"
              "short\t0\tOdd.zip\tcut\t20\t" + Crc("0123456789") + "\n");
}

TEST_F(RestoreCliTest, VerifySetChecksEveryArchiveAgainstTheHistories) {
    test::TempFolder other;
    test::SetBuilder set(other.path(), "Job");
    set.AddTarget("Data", "/src/data");
    set.omit.insert("Data\\b.txt");
    set.Run(Day(1), {{"Data", "", "(a.txt@1:1,b.txt@1:2)"}});
    set.omit.clear();
    set.Run(Day(2), {{"Data", "", "(c.txt@1:1)"}});
    const std::string last = set.Run(Day(3), {{"Data", "", ""}});
    CliResult r = Run({"--verify", last, "--set"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("missing\t0\tJob.TQBak\tData\\b.txt\t\t\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.err, "Verified 17 entries in 3 archives: 1 problem.\n");

    std::remove(set.ArchivePath(2).c_str());
    r = Run({"--verify", last, "--set"});
    EXPECT_NE(r.out.find("open-failed\t0\tJob2.TQBak\t\t\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.err, "Verified 11 entries in 3 archives: 2 problems.\n");
}

TEST_F(RestoreCliTest, AnArchiveStandingInForAnotherNumberIsNeitherVerifiedNorRestored) {
    // A copy of archive 3 under archive 1's name.
    test::WriteFile(builder.ArchivePath(1), test::ReadFile(builder.ArchivePath(3)));
    CliResult r = Run({"--verify", archive, "--set"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out.find("open-failed\t0\tJob.TQBak\t\t\n"), 0u) << r.out;
    EXPECT_EQ(r.err.find("Job.TQBak is archive 3 of its set, not archive 1: it was not read.\n"), 0u) << r.err;
    // Date 0 needs archive 1: treated as missing, and given up without a terminal.
    r = Run({"--restore", archive, "--date", "0", "--to", temp / "out"});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("The archive Job.TQBak was not found."), std::string::npos) << r.err;
    EXPECT_FALSE(platform::PathExists(temp / "out/Data/a.txt"));
    EXPECT_FALSE(platform::PathExists(temp / "out/Docs/d.doc"));
}

TEST_F(RestoreCliTest, BadArgumentsAndArchives) {
    CliResult r = Run({"--list", temp / "none.TQBak"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "halvex-restore: Error opening archive.\n");
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--list"}, {"--list", archive, "--date", "1"}, {"--files", archive, "--date"},
          {"--files", archive, "--date", "x"}, {"--list", archive, "--bogus"}, {"--list", "--files", archive},
          {"--search", archive}, {"--list", archive, "extra"}, {"--verify", archive, "--all"}, {"stray", "--bogus"}}) {
        r = Run(args);
        EXPECT_EQ(r.status, 2) << args.back();
        EXPECT_NE(r.err.find("usage: halvex-restore"), std::string::npos) << args.back();
    }
    r = Run({"--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("usage: halvex-restore", 0), 0u);
    EXPECT_EQ(Run({}).status, -1);  // no mode: the window
    EXPECT_EQ(Run({"-autorun"}).status, -1);
    EXPECT_EQ(Run({"stray", "x-AutoRun"}).status, -1);  // words without "--" are the window's
    // Only a whole argument is the switch: an archive whose path holds it is just an archive.
    EXPECT_FALSE(HasAutorunSwitch({"stray", "x-AutoRun"}));
    EXPECT_FALSE(HasAutorunSwitch({"/media/my-autorun-disk/Job.TQBak"}));
    EXPECT_FALSE(HasAutorunSwitch({"stray", "-AUTO", "RUN"}));
    EXPECT_TRUE(HasAutorunSwitch({"/sets/Job.TQBak", "-AutoRun"}));
    EXPECT_EQ(WindowArchiveArgument({"-autorun", "/sets/Job3.TQBak", "other"}), "/sets/Job3.TQBak");
    EXPECT_EQ(WindowArchiveArgument({"-AUTORUN"}), std::nullopt);
}

TEST_F(RestoreCliTest, RestoreWholeTargetsBelowAFolder) {
    // Relative to where it started.
    const std::string start = platform::CurrentFolder();
    const std::string out = start + "/" + std::filesystem::relative(temp / "out", start).string();
    CliResult r = Run({"--restore", archive, "--to", std::filesystem::relative(temp / "out", start).string()});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "Restoring Data to " + out + "/Data\n" + "Restoring Docs to " + out + "/Docs\n" +
                         "Success: Restoration Complete\n");
    EXPECT_EQ(test::ReadFile(temp / "out/Data/a.txt"), test::EntryContent("Data\\a.txt", 2, 6));
    EXPECT_EQ(test::ReadFile(temp / "out/Docs/d.doc"), test::EntryContent("Docs\\d.doc", 1, 2));
    EXPECT_FALSE(platform::PathExists(temp / "out/Data/sub"));

    // Without a terminal an existing destination is renamed; --existing answers otherwise.
    r = Run({"--restore", archive, "--to", temp / "out", "--target", "docs", "--date", "0"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(platform::PathExists(temp / "out/Docs.bak/d.doc"));
    r = Run({"--restore", archive, "--to", temp / "out", "--target", "Data", "--date", "0", "--existing", "keep"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(test::ReadFile(temp / "out/Data/a.txt"), test::EntryContent("Data\\a.txt", 2, 6));  // kept
    EXPECT_TRUE(platform::PathExists(temp / "out/Data/sub/b.txt"));
    EXPECT_FALSE(platform::PathExists(temp / "out/Data.bak"));
}

TEST_F(RestoreCliTest, RestoreSelectedEntries) {
    CliResult r = Run({"--restore", archive, "--date", "0", "--path", "Data/sub", "--path", "Data\\a.txt", "--to",
                       temp / "pick"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(test::ReadFile(temp / "pick/a.txt"), test::EntryContent("Data\\a.txt", 1, 5));
    EXPECT_EQ(test::ReadFile(temp / "pick/sub/b.txt"), test::EntryContent("Data\\sub\\b.txt", 1, 3));

    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--restore", archive, "--path", "Data\\a.txt"},
          {"--restore", archive, "--path", "Data\\nothing", "--to", temp / "x"},
          {"--restore", archive, "--path", "Data", "--target", "Data", "--to", temp / "x"},
          {"--restore", archive, "--target", "Nope", "--to", temp / "x"},
          {"--restore", archive, "--existing", "maybe"}}) {
        EXPECT_EQ(Run(args).status, 2) << args[2];
    }
    EXPECT_FALSE(platform::PathExists(temp / "x"));
}

TEST_F(RestoreCliTest, RestoreStatusTellsAbortsAndSkips) {
    // Archive 1 holds the sub-folder's file at date 0; without it the restore is given up.
    std::rename(builder.ArchivePath(1).c_str(), (temp / "moved.TQBak").c_str());
    CliResult r = Run({"--restore", archive, "--date", "0", "--target", "Docs", "--to", temp / "out"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Aborted: Restoration Aborted\n"), std::string::npos) << r.err;

    std::rename((temp / "moved.TQBak").c_str(), builder.ArchivePath(1).c_str());
    test::TempFolder other;
    test::SetBuilder set(other.path(), "Job");
    set.AddTarget("Data", "/src/data");
    set.omit.insert("Data\\b");
    const std::string last = set.Run(Day(1), {{"Data", "", "(a@1:1,b@1:1)"}});
    r = Run({"--restore", last, "--to", temp / "skips"});
    EXPECT_EQ(r.status, 4);
    EXPECT_NE(r.err.find("Error: The file Data/b is missing from archive Job.TQBak: it could not be restored to " +
                         temp / "skips/Data/b.\n  -> Ignore\n"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("Incomplete: Restoration Incomplete: 1 item could not be restored\n"), std::string::npos) << r.err;

    // A target named but not backed up by the date is named, and the restore is incomplete.
    test::TempFolder late;
    test::SetBuilder two(late.path(), "Job");
    two.AddTarget("Data", "/src/data");
    two.AddTarget("Late", "/src/late");
    two.Run(Day(1), {{"Data", "", "(a@1:1)"}});
    const std::string second = two.Run(Day(2), {{"Data", "", ""}, {"Late", "", "(l@1:1)"}});
    r = Run({"--restore", second, "--date", "0", "--target", "Data", "--target", "Late", "--to", temp / "late"});
    EXPECT_EQ(r.status, 4) << r.err;
    EXPECT_NE(r.err.find("Error: Late has no backup on or before the selected date: it was not restored to " +
                         temp / "late/Late.\n"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("Restoration Incomplete: 1 item could not be restored"), std::string::npos) << r.err;
    EXPECT_TRUE(platform::PathExists(temp / "late/Data/a"));
    EXPECT_TRUE(platform::PathExists(temp / "skips/Data/a"));
}

TEST_F(RestoreCliTest, WithoutAFolderToGoToTargetsReturnToTheirSourceFolders) {
    test::TempFolder other;
    test::SetBuilder set(other.path(), "Job");
    set.AddTarget("Data", other / "source");
    std::string last = set.Run(Day(1), {{"Data", "", "(a@1:1)"}});
    CliResult r = Run({"--restore", last});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(test::ReadFile(other / "source/a"), test::EntryContent("Data\\a", 1, 1));

    // A source folder of another system cannot be restored to.
    test::SetBuilder windows(other.path(), "Win");
    windows.AddTarget("Data", "C:\\data");
    last = windows.Run(Day(1), {{"Data", "", "(a@1:1)"}});
    r = Run({"--restore", last});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("restore it with --to DIR"), std::string::npos) << r.err;
}

TEST_F(RestoreCliTest, TheProgramRunsTheModes) {
    const std::string program = test::BuiltProgram("halvex-restore");
    test::CommandResult r = test::RunCommand({program, "--list", archive});
    EXPECT_EQ(r.exitCode, 0) << r.errors;
    EXPECT_EQ(r.output, Run({"--list", archive}).out);
    // The window program: with -AUTORUN and no archive beside the program it ends at once,
    // without a word.
    r = test::RunCommand({program, "start", "-autorun"});
    EXPECT_EQ(r.exitCode, 0) << r.errors;
    EXPECT_EQ(r.output + r.errors, "");
}

}  // namespace
}  // namespace halvex
