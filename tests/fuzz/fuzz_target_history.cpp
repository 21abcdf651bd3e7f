// SPDX-License-Identifier: GPL-3.0-or-later
// Arbitrary bytes as a stored target history: the reader and the replay must end (Done or
// Damaged) without reading past the bytes, and a history that replays must also extend: the
// new history built from it reads back with one more record.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "backup/target_history.h"

using namespace halvex;

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const HistoryBytes history(data, data + size);
    RunControl control;
    control.Start();
    FileTreePtr state;
    const ReplayResult replay = ReplayTargetHistory(history, control, state);
    TargetHistoryReader reader(history);
    BackupRecord record;
    std::size_t records = 0;
    TargetHistoryReader::Step step;
    while ((step = reader.Next(record)) == TargetHistoryReader::Step::Record) ++records;
    Check((step == TargetHistoryReader::Step::End) == (replay == ReplayResult::Done));
    if (replay != ReplayResult::Done) return 0;

    HistoryBytes extended = BuildNewHistory("/source", &history, 42, state.get());
    const HistoryBytes added = BuildAddedPart(nullptr);
    extended.insert(extended.end(), added.begin(), added.end());
    TargetHistoryReader again(extended);
    Check(again.SourceFolder() == "/source");
    std::size_t count = 0;
    while ((step = again.Next(record)) == TargetHistoryReader::Step::Record) ++count;
    Check(step == TargetHistoryReader::Step::End && count == records + 1);
    return 0;
}
