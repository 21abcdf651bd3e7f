// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Writing and replaying target histories (the byte form: common/target_history_reader.h).
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "backup/run_control.h"
#include "common/file_tree_ptr.h"
#include "common/target_history_reader.h"

namespace halvex {

// Replays a stored history into the state the earlier runs left: the first record's added
// tree, then per further record its removed tree (merge mode 6) and its added tree (mode 1).
// The run's cancellation test follows every merge.
enum class ReplayResult { Done, Cancelled, Damaged, TooLarge };
ReplayResult ReplayTargetHistory(const HistoryBytes& history, RunControl& control, FileTreePtr& state);

// The stored records of a history: its bytes after the source folder's 0 byte (empty when
// there is no 0 byte).
std::size_t HistoryRecordsOffset(const HistoryBytes& history);

// A mapping's new history up to this run's removed tree: `sourceFolder` and its 0 byte, the
// stored history's records unchanged (none for a first or brand-new run), the run time, and
// the removed flag with the removed tree (flag 0 when there is none). The run completes it
// with the added part after copying.
HistoryBytes BuildNewHistory(std::string_view sourceFolder, const HistoryBytes* storedHistory,
                             std::uint64_t runTime, const FileTreeNode* removedTree);

// The added part of this run's record: 1 and the serialized tree, or 0 when there is none.
HistoryBytes BuildAddedPart(const FileTreeNode* addedTree);

}  // namespace halvex
