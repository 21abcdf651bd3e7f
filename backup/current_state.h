// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The state a target's next run compares with, as the store keeps it beside the history
// ("<job>\<target>.state"), so that a run reads it instead of replaying every record.
//
// Layout (little-endian): magic "HXS1"; the history it was made from: size (8), CRC-32 (4),
// deflated size (8) and CRC-32 of the deflated bytes (4); the history's source folder and a
// 0 byte; then the serialized state tree, or nothing when the state is empty. Files are
// written in the reverse of their order in memory, so that a load gives the order back.
// An entry whose tag does not match the stored history is stale and is rebuilt by replaying.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "backup/compressed_history.h"
#include "common/file_tree_ptr.h"
#include "common/target_history_reader.h"

namespace halvex {

struct StateTag {
    std::uint64_t historySize = 0;
    std::uint32_t historyCrc = 0;
    std::uint64_t deflatedSize = 0;
    std::uint32_t deflatedCrc = 0;
    bool operator==(const StateTag&) const = default;
};

// The tag of a deflated history (its CRC over the deflated bytes included).
StateTag TagOf(const CompressedHistory& history);
// CRC-32 of any bytes (in pieces zlib's 32-bit lengths can take).
std::uint32_t Crc32Of(std::span<const unsigned char> bytes);

// The serialized form of `state` (empty for no state), in the order a load gives back.
// The tree is left as it was.
HistoryBytes SerializeState(FileTreeNode* state);
// Loads what SerializeState wrote; false when the bytes do not hold exactly one tree.
bool LoadState(std::span<const unsigned char> bytes, FileTreePtr& state);

std::vector<unsigned char> EncodeStateEntry(const StateTag& tag, std::string_view sourceFolder,
                                            std::span<const unsigned char> serializedState);
struct DecodedState {
    StateTag tag;
    std::string_view sourceFolder;
    std::span<const unsigned char> serializedState;  // points into the decoded bytes
};
// False when `bytes` do not follow the layout (the tree itself is checked by LoadState).
bool DecodeStateEntry(std::span<const unsigned char> bytes, DecodedState& out);

// The state after a run: `before` (serialized) with one record applied, given as the bytes
// a history holds for it (run time, removed part, added part). False when they do not follow
// the layout.
bool StateAfterRecord(std::span<const unsigned char> before, std::span<const unsigned char> record,
                      HistoryBytes& after);

// Bytes a record is led by for StateEntryAfterRecord: room for an empty first record.
inline constexpr std::size_t kRecordLead = 1 + 8 + 2;
// The store's next state entry, the same bytes as EncodeStateEntry(tag, sourceFolder, after)
// with `after` from StateAfterRecord, made without a serialized copy of the added tree or of
// the state: `ledRecord` holds kRecordLead bytes of any value, then the record up to its added
// flag, which is 0; `added` is the record's added tree (none for no added part). The record is
// overwritten and freed once read; `added` is used up. False when the bytes do not follow
// the layout.
bool StateEntryAfterRecord(const StateTag& tag, std::string_view sourceFolder, std::span<const unsigned char> before,
                           HistoryBytes&& ledRecord, FileTreePtr added, std::vector<unsigned char>& entry);

}  // namespace halvex
