// SPDX-License-Identifier: GPL-3.0-or-later
// The target history byte format: reading record by record, replaying into a state, and
// building the new history of a run.
#include <gtest/gtest.h>

#include "backup/target_history.h"
#include "tests/backup/backup_test_support.h"

using namespace halvex;
using namespace halvex::backuptest;
using halvex::test::Describe;

namespace {

// "c:\data", first record (time 100, added a.txt), second (time 200, removed a.txt, added b.txt).
std::string Flag1(const std::string& tree) { return std::string(1, '\1') + tree; }

std::string TwoRecordHistory() {
    std::string h = "/data";
    h += '\0';
    PutLittleEndian(h, 100, 8);
    h += '\0';  // removed flag (first record)
    h += '\1';
    h += Serialized("(a.txt@5:3)");
    PutLittleEndian(h, 200, 8);
    h += '\1';
    h += Serialized("(a.txt@5:3)");
    h += '\1';
    h += Serialized("(b.txt@6:4)");
    return h;
}

}  // namespace

TEST(TargetHistory, ReaderWalksRecordsInOrder) {
    const HistoryBytes bytes = ToBytes(TwoRecordHistory());
    TargetHistoryReader reader(bytes);
    ASSERT_TRUE(reader.Valid());
    EXPECT_EQ(reader.SourceFolder(), "/data");
    BackupRecord record;
    ASSERT_EQ(reader.Next(record, 1), TargetHistoryReader::Step::Record);
    EXPECT_EQ(record.runTime, 100u);
    EXPECT_FALSE(record.removed);
    EXPECT_EQ(Describe(record.added.get()), "#1(a.txt@5:3#1)");
    ASSERT_EQ(reader.Next(record, 2), TargetHistoryReader::Step::Record);
    EXPECT_EQ(record.runTime, 200u);
    EXPECT_EQ(Describe(record.removed.get()), "#2(a.txt@5:3#2)");
    EXPECT_EQ(Describe(record.added.get()), "#2(b.txt@6:4#2)");
    EXPECT_EQ(reader.Next(record), TargetHistoryReader::Step::End);
}

TEST(TargetHistory, FirstRecordRemovedFlagIsNotRead) {
    // A first record's removed flag byte is skipped whatever it holds.
    std::string h = "x";
    h += '\0';
    PutLittleEndian(h, 7, 8);
    h += '\1';
    h += '\0';
    const HistoryBytes bytes = ToBytes(h);
    TargetHistoryReader reader(bytes);
    BackupRecord record;
    EXPECT_EQ(reader.Next(record), TargetHistoryReader::Step::Record);
    EXPECT_FALSE(record.removed);
    EXPECT_FALSE(record.added);
    EXPECT_EQ(reader.Next(record), TargetHistoryReader::Step::End);
}

TEST(TargetHistory, EveryTruncationIsReportedAsDamaged) {
    // Cutting the history anywhere except after a whole record must be noticed, and nothing
    // past the cut may be read (the sanitizer build checks the reads).
    const std::string full = TwoRecordHistory();
    const std::size_t firstRecordEnd = 6 + 8 + 1 + 1 + Serialized("(a.txt@5:3)").size();
    for (std::size_t cut = 0; cut < full.size(); ++cut) {
        HistoryBytes bytes(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(cut));
        bytes.shrink_to_fit();
        TargetHistoryReader reader(bytes);
        BackupRecord record;
        TargetHistoryReader::Step step = TargetHistoryReader::Step::Record;
        int records = 0;
        while ((step = reader.Next(record)) == TargetHistoryReader::Step::Record) ++records;
        if (cut == 6 || cut == firstRecordEnd) {
            EXPECT_EQ(step, TargetHistoryReader::Step::End) << cut;
        } else {
            EXPECT_EQ(step, TargetHistoryReader::Step::Damaged) << cut;
        }
        RunControl control;
        control.Start();
        FileTreePtr state;
        const ReplayResult replay = ReplayTargetHistory(bytes, control, state);
        EXPECT_EQ(replay, step == TargetHistoryReader::Step::End ? ReplayResult::Done : ReplayResult::Damaged) << cut;
        if (replay == ReplayResult::Damaged) {
            EXPECT_FALSE(state) << cut;
        }
    }
}

TEST(TargetHistory, UnknownFlagByteIsDamage) {
    std::string h = TwoRecordHistory();
    h[6 + 8 + 1] = '\2';  // the first record's added flag
    RunControl control;
    control.Start();
    FileTreePtr state;
    EXPECT_EQ(ReplayTargetHistory(ToBytes(h), control, state), ReplayResult::Damaged);
}

TEST(TargetHistory, ReplayAppliesRemovalsThenAdditions) {
    // Run 1 stored a.txt and dir/c.txt; run 2 found a.txt gone and stored b.txt; run 3 found
    // the folder dir gone (an empty leaf) and stored a newer a.txt.
    std::string h = "/src";
    h += '\0';
    PutLittleEndian(h, 1, 8);
    h += '\0';
    h += Flag1(Serialized("(a.txt@5:3)[dir(c.txt@9:1)]"));
    PutLittleEndian(h, 2, 8);
    h += Flag1(Serialized("(a.txt@5:3)"));
    h += Flag1(Serialized("(b.txt@6:4)"));
    PutLittleEndian(h, 3, 8);
    h += Flag1(Serialized("[dir]"));
    h += Flag1(Serialized("(a.txt@8:2)"));
    RunControl control;
    control.Start();
    FileTreePtr state;
    ASSERT_EQ(ReplayTargetHistory(ToBytes(h), control, state), ReplayResult::Done);
    EXPECT_EQ(Paths(state.get(), true), (std::vector<std::string>{"a.txt|2|8", "b.txt|4|6"}));
}

TEST(TargetHistory, ReplayStopsWhenTheRunIsCancelled) {
    RunControl control;  // never started: not running
    FileTreePtr state;
    EXPECT_EQ(ReplayTargetHistory(ToBytes(TwoRecordHistory()), control, state), ReplayResult::Cancelled);
    EXPECT_FALSE(state);
}

TEST(TargetHistory, NewHistoryKeepsStoredRecordsAndReplacesTheFolder) {
    const HistoryBytes stored = ToBytes(TwoRecordHistory());
    test::OwnedTree removed("[gone]");
    const HistoryBytes built = BuildNewHistory("/new/place", &stored, 0x0102030405060708ull, removed.head);
    std::string expected = "/new/place";
    expected += '\0';
    expected += TwoRecordHistory().substr(6);
    PutLittleEndian(expected, 0x0102030405060708ull, 8);
    expected += Flag1(Serialized("[gone]"));
    EXPECT_EQ(std::string(built.begin(), built.end()), expected);

    // A first run: one record with the removed flag 0; completed with its added part it reads back.
    HistoryBytes first = BuildNewHistory("/s", nullptr, 42, nullptr);
    test::OwnedTree added("(f@1:2)");
    const HistoryBytes part = BuildAddedPart(added.head);
    EXPECT_EQ(std::string(part.begin(), part.end()), Flag1(Serialized("(f@1:2)")));
    first.insert(first.end(), part.begin(), part.end());
    std::string expectedFirst = "/s";
    expectedFirst += '\0';
    PutLittleEndian(expectedFirst, 42, 8);
    expectedFirst += '\0';
    expectedFirst += part[0];
    expectedFirst += Serialized("(f@1:2)");
    EXPECT_EQ(std::string(first.begin(), first.end()), expectedFirst);
    EXPECT_EQ(BuildAddedPart(nullptr), HistoryBytes{0});
}
