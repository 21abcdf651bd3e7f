// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Reading the two bookkeeping records every archive of a set carries: "ToDirs.tq" (the
// archive's place in the set and the target names) and each target's history (target name +
// ".tq"). The archives may come from a damaged disc or be crafted: every check that keeps a
// restore inside its destination folder and every read inside its buffer is made here.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/safe_name.h"  // IsSafeName
#include "restore/backup_target.h"

namespace halvex {

class ZipArchiveFile;

// Largest set: archive numbers are 16-bit.
inline constexpr int kMaxArchiveCount = 65535;
// Most bookkeeping bytes read into memory for one set, all entries together (the history of a
// target of a million files is some 40 MB). The trees built from them take up to some twenty
// times as much memory.
inline constexpr std::uint64_t kMaxBookkeepingBytes = std::uint64_t{1} << 30;

struct ToDirsRecord {
    int archiveCount = 0;                 // the archives before this one, plus one
    std::vector<std::string> targetNames;  // in file order
};

// Parses ToDirs.tq: a 4-byte little-endian count N of earlier archives, then the target names,
// each ended by a 0 byte, filling the rest exactly. Nothing when the record is shorter than 4
// bytes, N is negative or gives more than kMaxArchiveCount archives, the last name is not ended
// at the very end, a name is not a safe name (IsSafeName), or two names are equal ignoring case
// (each target needs a history entry of its own), or there are more than `maxTargets` names.
std::optional<ToDirsRecord> ParseToDirs(std::span<const unsigned char> bytes, std::size_t maxTargets);

// Whether a tree read from a history can be restored safely: its top folder has the empty name
// and no sibling (it stands for the source folder), and every other folder and file name is a
// safe name.
bool HasSafeNames(const FileTreeNode* root);

// Parses a target history into `target` (sourceFolder, backupCount, times and trees; the
// name is left alone): the source folder ended by a 0 byte, then per backup an 8-byte time, a
// removed flag (0 or 1) and tree, an added flag (0 or 1) and tree, oldest first, the last
// record ending exactly at the end. Backup k's trees carry archive number k + 1. False, with
// `target`'s history emptied, when: the source folder is not ended, a record runs past the
// end, a flag is neither 0 nor 1, the first record has a removed tree, there are more than
// `archiveCount` records, or a tree is damaged or has unsafe names.
// With HistoryRead::DatesOnly no tree is built (every tree slot stays null), for a reader of the
// dates and targets alone; the same histories are refused, for the same memory.
enum class HistoryRead { Trees, DatesOnly };
bool ParseTargetHistory(std::span<const unsigned char> bytes, int archiveCount, BackupTarget& target,
                        HistoryRead read = HistoryRead::Trees);

// Index of the bookkeeping entry `name` in the open archive: the exact name first, then
// ignoring case; -1 when there is none.
int FindBookkeepingEntry(const ZipArchiveFile& zip, const std::string& name);

// Entry `index` of the open archive whole, its CRC checked, its size taken from `budget`.
// Nothing when its declared size passes the budget or (with `checkRatio`) inflates past what
// real bookkeeping does (see ReadWholeEntry), or when it cannot be opened or is short.
// Memory grows with the bytes that really arrive.
// Damage found while reading throws, as the zip layer does (the entry is released first).
std::optional<std::vector<unsigned char>> ReadBookkeepingEntry(ZipArchiveFile& zip, int index,
                                                               std::uint64_t& budget, bool checkRatio = true);

// The number that the open archive's own ToDirs.tq gives it in its set (earlier archives + 1);
// nothing when it has no readable, well-formed ToDirs.tq. Never throws for damage.
std::optional<int> ReadOwnArchiveNumber(ZipArchiveFile& zip);

}  // namespace halvex
