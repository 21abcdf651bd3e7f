// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Reading a bookkeeping entry (a target history, ToDirs.tq, the file-list store's entries)
// whole into memory. Such entries may come from a damaged disc or be crafted: their declared
// size is checked against a budget and against what real bookkeeping deflates to before any
// memory is taken.
#include <cstdint>
#include <optional>
#include <vector>

namespace halvex {

class ZipArchiveFile;
class ZipEntryHeader;

// Real histories deflate 2-20:1; one that inflates past this many times its compressed size
// (plus the allowance, for tiny entries) is damage, never opened.
inline constexpr std::uint64_t kMaxBookkeepingRatio = 100;
inline constexpr std::uint64_t kBookkeepingRatioAllowance = 64 * 1024;

// Whether the entry's declared size is one real bookkeeping can have.
bool HasBookkeepingRatio(const ZipEntryHeader& header);

// Entry `index` of the open archive whole, its CRC checked, its size taken from `budget`.
// Nothing when its declared size passes the budget or (with `checkRatio`) the ratio above, or
// when it cannot be opened or is short. Memory grows with the bytes that really arrive.
// Damage found while reading throws, as the zip layer does (the entry is released first).
std::optional<std::vector<unsigned char>> ReadWholeEntry(ZipArchiveFile& zip, int index, std::uint64_t& budget,
                                                         bool checkRatio = true);

}  // namespace halvex
