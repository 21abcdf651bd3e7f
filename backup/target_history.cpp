// SPDX-License-Identifier: GPL-3.0-or-later
#include "backup/target_history.h"

#include <cstring>

#include "common/memory_allowance.h"

namespace halvex {
namespace {

constexpr std::size_t kRunTimeSize = 8;

void AppendLittleEndian64(HistoryBytes& out, std::uint64_t value) {
    for (int i = 0; i < 8; ++i) out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

// Appends a flag byte and, when there is a tree, its serialized form.
void AppendTreePart(HistoryBytes& out, const FileTreeNode* tree) {
    if (tree == nullptr) {
        out.push_back(0);
        return;
    }
    out.push_back(1);
    const std::size_t start = out.size();
    out.resize(start + FileTreeSerializedSize64(tree));
    unsigned char* cursor = out.data() + start;
    SaveFileTree(tree, cursor);
}

}  // namespace

ReplayResult ReplayTargetHistory(const HistoryBytes& history, RunControl& control, FileTreePtr& state) {
    state.reset();
    // Every record's trees count, as a restore of the set holds them all at once; the state
    // built from them takes at most as much again.
    MemoryAllowance allowance(MemoryLimitBytes() / 2);
    TargetHistoryReader reader(history);
    BackupRecord record;
    MergeIndex index;  // each record costs what it touches, however large the state
    for (;;) {
        switch (reader.Next(record)) {
            case TargetHistoryReader::Step::End: return ReplayResult::Done;
            case TargetHistoryReader::Step::Damaged:
                state.reset();
                return allowance.Exceeded() ? ReplayResult::TooLarge : ReplayResult::Damaged;
            case TargetHistoryReader::Step::Record: break;
        }
        for (FileTreePtr* part : {&record.removed, &record.added}) {
            if (!*part) continue;
            MergeFileTrees(state, *part, part == &record.removed ? MergeMode::RemoveConsuming : MergeMode::AddRecord,
                           kPlatformNameCase, &index);
            if (!control.KeepGoing()) {
                state.reset();
                return ReplayResult::Cancelled;
            }
        }
    }
}

std::size_t HistoryRecordsOffset(const HistoryBytes& history) {
    const void* zero = history.empty() ? nullptr : std::memchr(history.data(), 0, history.size());
    if (zero == nullptr) return history.size();
    return static_cast<std::size_t>(static_cast<const unsigned char*>(zero) - history.data()) + 1;
}

HistoryBytes BuildNewHistory(std::string_view sourceFolder, const HistoryBytes* storedHistory,
                             std::uint64_t runTime, const FileTreeNode* removedTree) {
    const std::size_t recordsStart = storedHistory ? HistoryRecordsOffset(*storedHistory) : 0;
    const std::size_t recordsSize = storedHistory ? storedHistory->size() - recordsStart : 0;
    HistoryBytes out;
    out.reserve(sourceFolder.size() + 1 + recordsSize + kRunTimeSize + 1 +
                static_cast<std::size_t>(FileTreeSerializedSize64(removedTree)));
    out.insert(out.end(), sourceFolder.begin(), sourceFolder.end());
    out.push_back(0);
    if (recordsSize > 0)
        out.insert(out.end(), storedHistory->begin() + static_cast<std::ptrdiff_t>(recordsStart), storedHistory->end());
    AppendLittleEndian64(out, runTime);
    AppendTreePart(out, removedTree);
    return out;
}

HistoryBytes BuildAddedPart(const FileTreeNode* addedTree) {
    HistoryBytes out;
    AppendTreePart(out, addedTree);
    return out;
}

}  // namespace halvex
