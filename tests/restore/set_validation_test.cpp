// SPDX-License-Identifier: GPL-3.0-or-later
// Damaged and crafted archives: every one is refused as a whole, with no set left open, no
// archive left open and nothing read past an entry.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "common/memory_allowance.h"
#include "common/target_history_reader.h"
#include "restore/archive_set.h"
#include "restore/set_records.h"
#include "tests/restore/set_builder.h"
#include "tests/support/temp_folder.h"
#include "tests/support/tools.h"
#include "tests/zip/zip_test_support.h"

namespace halvex {
namespace {

using namespace std::string_literals;
using test::Day;
using test::HistoryBytes;
using test::RawRecord;
using test::Record;
using test::ToDirsBytes;
using test::TreeBytes;

std::string GoodHistory() { return HistoryBytes("/d", std::vector<Record>{{Day(1), "", "(a.txt@1:1)"}}); }

class SetValidationTest : public ::testing::Test {
protected:
    // Writes an archive of these entries and opens it; checks that a refused open leaves
    // nothing behind.
    bool Open(const std::vector<test::RawEntry>& entries) {
        const std::string path = temp / "Set.TQBak";
        test::WriteArchive(path, entries);
        return OpenPath(path);
    }
    bool OpenPath(const std::string& path) {
        const int descriptors = test::OpenDescriptorCount();
        const bool opened = set.OpenSet(path);
        if (!opened) {
            EXPECT_FALSE(set.IsOpen());
            EXPECT_EQ(set.TargetCount(), 0);
            EXPECT_EQ(set.DateCount(), 0);
            EXPECT_EQ(set.GetArchiveName(1), nullptr);
        }
        EXPECT_EQ(test::OpenDescriptorCount(), descriptors);
        return opened;
    }
    // A one-target set whose history is `history`.
    bool OpenWithHistory(const std::string& history, int earlier = 0) {
        return Open({{"Data.tq", history}, {"ToDirs.tq", ToDirsBytes(earlier, {"Data"}), 0}});
    }

    test::TempFolder temp;
    ArchiveSet set;
};

TEST_F(SetValidationTest, TheWellFormedBaseCaseOpens) { EXPECT_TRUE(OpenWithHistory(GoodHistory())); }

TEST_F(SetValidationTest, DamagedToDirsIsRefused) {
    EXPECT_FALSE(Open({{"Data.tq", GoodHistory()}, {"ToDirs.tq", std::string("\0\0\0", 3), 0}}));
    EXPECT_FALSE(Open({{"Data.tq", GoodHistory()}, {"ToDirs.tq", ToDirsBytes(-1, {"Data"}), 0}}));
    // N = 65,535 would make 65,536 archives; 65,534 is the largest set.
    EXPECT_FALSE(Open({{"Data.tq", GoodHistory()}, {"ToDirs.tq", ToDirsBytes(65535, {"Data"}), 0}}));
    EXPECT_TRUE(Open({{"Data.tq", GoodHistory()}, {"ToDirs.tq", ToDirsBytes(65534, {"Data"}), 0}}));
    EXPECT_EQ(set.ArchiveCount(), 65535);
    // The last name must end with its 0 byte at the very end.
    std::string unterminated = ToDirsBytes(0, {"Data"});
    unterminated.pop_back();
    EXPECT_FALSE(Open({{"Data.tq", GoodHistory()}, {"ToDirs.tq", unterminated, 0}}));
    EXPECT_FALSE(Open({{"Data.tq", GoodHistory()}}));
}

TEST_F(SetValidationTest, UnsafeOrRepeatedTargetNamesAreRefused) {
    for (const std::string& name : {std::string(""), std::string("."), std::string(".."), std::string("a/b"),
                                    std::string("a\\b")}) {
        std::string historyName = name;
        historyName.append(".tq");
        EXPECT_FALSE(Open({{historyName, GoodHistory()}, {"ToDirs.tq", ToDirsBytes(0, {name}), 0}})) << name;
    }
    EXPECT_FALSE(Open({{"Data.tq", GoodHistory()}, {"ToDirs.tq", ToDirsBytes(0, {"Data", "DATA"}), 0}}));
    // More names than the archive has entries: some history must be missing.
    std::vector<std::string> many;
    for (int i = 0; i < 100; ++i) many.push_back(std::string("t").append(std::to_string(i)));
    EXPECT_FALSE(Open({{"t0.tq", GoodHistory()}, {"ToDirs.tq", ToDirsBytes(0, many), 0}}));
}

TEST_F(SetValidationTest, MissingHistoryIsRefused) {
    EXPECT_FALSE(Open({{"Data.tq", GoodHistory()}, {"ToDirs.tq", ToDirsBytes(0, {"Data", "Other"}), 0}}));
}

TEST_F(SetValidationTest, HistoryStructureDamageIsRefused) {
    // More records than the set has archives.
    EXPECT_FALSE(OpenWithHistory(HistoryBytes("/d", std::vector<Record>{{Day(1), "", "(a@1:1)"}, {Day(2), "", ""}}), 0));
    EXPECT_TRUE(OpenWithHistory(HistoryBytes("/d", std::vector<Record>{{Day(1), "", "(a@1:1)"}, {Day(2), "", ""}}), 1));
    // A first record with a removed tree.
    EXPECT_FALSE(OpenWithHistory(HistoryBytes("/d", std::vector<RawRecord>{{Day(1), 1, TreeBytes("(a@1:1)"), 0, ""}})));
    // Flags other than 0 and 1.
    EXPECT_FALSE(OpenWithHistory(HistoryBytes("/d", std::vector<RawRecord>{{Day(1), 0, "", 2, TreeBytes("(a@1:1)")}})));
    // A tree that runs past the end of the entry.
    std::string cut = GoodHistory();
    cut.pop_back();
    EXPECT_FALSE(OpenWithHistory(cut));
    // A record cut inside its time.
    EXPECT_FALSE(OpenWithHistory(GoodHistory() + std::string(5, '\1'), 1));
    // A source folder without its 0 byte.
    EXPECT_FALSE(OpenWithHistory("/d"));
    // A history of only its source folder has no backups, and is read as such.
    EXPECT_TRUE(OpenWithHistory(std::string("/d\0", 3)));
    EXPECT_EQ(set.GetTarget(0).backupCount, 0);
}

TEST_F(SetValidationTest, UnsafeNamesInTreesAreRefused) {
    const std::vector<std::string> unsafe = {"(.@1:1)", "(..@1:1)", "[..(a@1:1)]", "[.(a@1:1)]", "[(a@1:1)]",
                                             "[x(..@1:1)]"};
    for (const std::string& tree : unsafe)
        EXPECT_FALSE(OpenWithHistory(HistoryBytes("/d", std::vector<Record>{{Day(1), "", tree}}))) << tree;

    // Names holding a separator cannot be written as tree texts: patch them into the bytes.
    for (const char separator : {'/', '\\'}) {
        std::string bytes = TreeBytes("[sub(aXb@1:1)]");
        bytes[bytes.find('X')] = separator;
        EXPECT_FALSE(OpenWithHistory(HistoryBytes("/d", std::vector<RawRecord>{{Day(1), 0, "", 1, bytes}})))
            << separator;
        bytes = TreeBytes("[aXb(c@1:1)]");
        bytes[bytes.find('X')] = separator;
        EXPECT_FALSE(OpenWithHistory(HistoryBytes("/d", std::vector<RawRecord>{{Day(1), 0, "", 1, bytes}})))
            << separator;
    }
    // The top folder stands for the source folder: it has no name and no sibling.
    EXPECT_FALSE(OpenWithHistory(HistoryBytes("/d", std::vector<Record>{{Day(1), "", "top(a@1:1)"}})));
    EXPECT_FALSE(OpenWithHistory(HistoryBytes("/d", std::vector<Record>{{Day(1), "", "(a@1:1) other(b@1:1)"}})));
    // The same checks hold for removed trees.
    EXPECT_FALSE(OpenWithHistory(HistoryBytes("/d", std::vector<Record>{{Day(1), "", "(a@1:1)"}, {Day(2), "[..]", ""}}), 1));
}

TEST_F(SetValidationTest, DamagedEntryDataIsRefused) {
    const std::string path = temp / "Set.TQBak";
    const std::string history = GoodHistory();
    // Stored (level 0), so the history's bytes can be found and changed in the file.
    test::WriteArchive(path, {{"Data.tq", history, 0}, {"ToDirs.tq", ToDirsBytes(0, {"Data"}), 0}});
    std::string bytes = test::ReadFile(path);
    const std::size_t at = bytes.find(history);
    ASSERT_NE(at, std::string::npos);
    bytes[at + history.size() - 20] ^= 0x01;  // inside the file record: the CRC no longer matches
    test::WriteFile(path, bytes);
    EXPECT_FALSE(OpenPath(path));
}

TEST_F(SetValidationTest, DeclaredSizesBeyondTheLimitAreRefused) {
    const std::string path = temp / "Set.TQBak";
    test::WriteArchive(path, {{"Data.tq", GoodHistory(), 0}, {"ToDirs.tq", ToDirsBytes(0, {"Data"}), 0}});
    // Declare a 4 GB history in the central directory (offset 24 of its record).
    std::string bytes = test::ReadFile(path);
    const std::size_t central = bytes.find(std::string("PK\1\2", 4));
    ASSERT_NE(central, std::string::npos);
    ziptest::Put32(bytes, central + 24, 0xF0000000u);
    test::WriteFile(path, bytes);
    EXPECT_FALSE(OpenPath(path));
}

// Sizes declared in an archive are claims: the memory of the program that lists or reads a
// crafted archive follows the bytes that arrive, not what the headers promise.
TEST_F(SetValidationTest, DeclaredSizesDoNotDriveMemory) {
    struct Case {
        const char* entry;  // whose declared size is raised
        std::uint32_t declared;
        const char* mode;
    };
    const Case cases[] = {
        {"ToDirs.tq", 1000u << 20, "--list"},
        {"Data.tq", 1000u << 20, "--files"},
        {"tqbackup.log", 1000u << 20, "--log"},
    };
    const std::string path = temp / "Crafted.TQBak";
    const auto writeGoodSet = [&] {
        test::WriteArchive(path, {{"Data.tq", GoodHistory()},
                                  {"ToDirs.tq", ToDirsBytes(0, {"Data"})},
                                  {"tqbackup.log", "log"}});
    };
    // What the program takes for a good set of the same size (sanitizers add much of their own).
    writeGoodSet();
    const auto good = test::RunCommand({test::BuiltProgram("halvex-restore"), "--list", path});
    ASSERT_EQ(good.exitCode, 0) << good.errors;
    for (const Case& c : cases) {
        writeGoodSet();
        std::string bytes = test::ReadFile(path);
        for (const char* signature : {"PK\3\4", "PK\1\2"}) {
            const std::size_t sizeField = signature[2] == 3 ? 22 : 24;
            const std::size_t nameField = signature[2] == 3 ? 30 : 46;
            for (std::size_t at = bytes.find(signature); at != std::string::npos; at = bytes.find(signature, at + 4)) {
                if (bytes.compare(at + nameField, std::strlen(c.entry), c.entry) == 0)
                    ziptest::Put32(bytes, at + sizeField, c.declared);
            }
        }
        test::WriteFile(path, bytes);
        const auto r = test::RunCommand({test::BuiltProgram("halvex-restore"), c.mode, path});
        EXPECT_NE(r.exitCode, 0) << c.entry << " " << c.mode;
        EXPECT_LT(r.peakMemoryKb, good.peakMemoryKb + 32 * 1024) << c.entry << " " << c.mode;
    }
}

TEST_F(SetValidationTest, ANewOpenAfterARefusalWorks) {
    EXPECT_FALSE(OpenWithHistory("/d"));
    EXPECT_TRUE(OpenWithHistory(GoodHistory()));
    EXPECT_EQ(set.TargetCount(), 1);
}

// The dates-only read against the building read, over good, damaged, unsafe and deep
// histories within several memory allowances: the same records at the same bytes (any mix of
// skipped and built records reads alike) and the same histories accepted, with the same
// dates, or refused, for the same reason.
TEST(SetRecordsTest, TheDatesOnlyReadAgreesWithTheBuildingRead) {
    const std::string good = HistoryBytes("/d", std::vector<Record>{{Day(1), "", "(a@1:1)[s(b@2:2)[t(c@3:3)]]"},
                                                                    {Day(2), "[s(b@2:2)]", "(d@4:4)"},
                                                                    {Day(3), "", ""}, {Day(4), "(a@1:1)", "[u(e@5:5)]"}});
    const auto raw = [](int removedFlag, const std::string& removed, const std::string& added) {
        return HistoryBytes("/d", std::vector<RawRecord>{{Day(1), 0, "", 1, TreeBytes("(a@1:1)")},
                                                         {Day(2), removedFlag, removed, 1, added}});
    };
    std::string separator = TreeBytes("[sub(aXb@1:1)]"), badLink = TreeBytes("[s(b@1:1)]");
    separator[separator.find('X')] = '/';
    badLink.back() = '\3';
    std::string deep = "\0\0\1"s;  // one level deeper than any tree may be
    for (std::size_t d = 1; d < kFileTreeMaxDepth; ++d) deep += "d\0\0\1"s;
    deep += "d\0\0"s + std::string(kFileTreeMaxDepth, '\0');
    const std::string cases[] = {good, good.substr(0, good.size() - 1), good + std::string(5, '\1'), "/d",
                                 HistoryBytes("/d", std::vector<RawRecord>{{Day(1), 1, TreeBytes("(a@1:1)"), 0, ""}}),
                                 raw(2, TreeBytes("(a@1:1)"), TreeBytes("(b@1:1)")), raw(0, "", TreeBytes("top(b@1:1)")),
                                 raw(0, "", TreeBytes("(b@1:1) other(c@1:1)")), raw(1, TreeBytes("[..]"), TreeBytes("(b@1:1)")),
                                 raw(0, "", separator), raw(0, "", deep), raw(0, "", badLink)};
    for (std::size_t c = 0; c < std::size(cases); ++c) {
        const auto bytes = std::span(reinterpret_cast<const unsigned char*>(cases[c].data()), cases[c].size());
        for (std::size_t skips = 0; skips < 6; ++skips) {
            TargetHistoryReader built(bytes.data(), bytes.size()), mixed(bytes.data(), bytes.size());
            BackupRecord a, b;
            SkippedRecord skipped;
            for (std::size_t i = 0; i < 6; ++i) {
                const auto step = built.Next(a);
                EXPECT_EQ(i < skips ? mixed.Skip(skipped) : mixed.Next(b), step) << c << " " << skips << " " << i;
                EXPECT_EQ(i < skips ? skipped.runTime : b.runTime, a.runTime) << c << " " << i;
            }
        }
        for (const std::uint64_t limit : {std::uint64_t{64}, std::uint64_t{400}, std::uint64_t{1000}, kMaxBookkeepingBytes}) {
            for (const int archives : {3, 4}) {
                BackupTarget whole, dates;
                MemoryAllowance first(limit);
                const bool wholeOk = ParseTargetHistory(bytes, archives, whole);
                MemoryAllowance second(limit);
                EXPECT_EQ(ParseTargetHistory(bytes, archives, dates, HistoryRead::DatesOnly), wholeOk) << c << " " << limit;
                EXPECT_EQ(second.Exceeded(), first.Exceeded()) << c << " " << limit << " " << archives;
                EXPECT_EQ(dates.sourceFolder, whole.sourceFolder) << c;
                EXPECT_EQ(dates.backupTimes, whole.backupTimes) << c << " " << limit << " " << archives;
                EXPECT_EQ(dates.addedTrees, decltype(dates.addedTrees)(dates.backupCount)) << c;  // all null
            }
        }
    }
    // The anchors of the comparison: the good history is read whole, with its four dates.
    BackupTarget target;
    EXPECT_TRUE(ParseTargetHistory(std::span(reinterpret_cast<const unsigned char*>(good.data()), good.size()), 4,
                                   target, HistoryRead::DatesOnly));
    EXPECT_EQ(target.backupTimes, (std::vector<std::uint64_t>{Day(1), Day(2), Day(3), Day(4)}));
}

// The record parsers on their own, for the cases an archive can hardly be made to hold.
TEST(SetRecordsTest, ToDirsParsing) {
    auto bytes = [](const std::string& s) {
        return std::span<const unsigned char>(reinterpret_cast<const unsigned char*>(s.data()), s.size());
    };
    const std::string record = ToDirsBytes(2, {"HardDrive", "dir1"});
    EXPECT_EQ(record.size(), 4u + 10 + 5);
    auto parsed = ParseToDirs(bytes(record), 10);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->archiveCount, 3);
    EXPECT_EQ(parsed->targetNames, (std::vector<std::string>{"HardDrive", "dir1"}));
    EXPECT_FALSE(ParseToDirs(bytes(record), 1));  // more names than allowed
    EXPECT_FALSE(ParseToDirs(bytes(ToDirsBytes(0, {"a", ""})), 10));
}

}  // namespace
}  // namespace halvex
