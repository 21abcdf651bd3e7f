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

#include "restore/backup_target.h"

namespace halvex {

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

// A name that can stand as one path component below a destination folder: not empty, not "."
// or "..", without '/', '\' or a 0 byte.
bool IsSafeName(std::string_view name);

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
bool ParseTargetHistory(std::span<const unsigned char> bytes, int archiveCount, BackupTarget& target);

}  // namespace halvex
