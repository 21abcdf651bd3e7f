// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What one archive may hold, where the classic 32-bit and 16-bit fields give way to zip64
// records, and why a new entry was refused. A refused entry leaves the archive exactly as it
// was before the entry was begun.
#include <cstdint>

namespace halvex {

struct ZipLimits {
    // Entries in one archive (entry indices are ints).
    std::uint32_t maxEntries = 0x7FFFFFFE;
    // Uncompressed and compressed size of one entry: what a file can hold.
    std::uint64_t maxEntrySize = 0x7FFFFFFFFFFFFFFFull;
    // The whole archive, from its first entry to the end of its end records.
    std::uint64_t maxArchiveSize = 0x7FFFFFFFFFFFFFFFull;

    // Sizes and offsets up to this value are written in the classic 32-bit fields; larger ones
    // get zip64 records. 0xFFFFFFFF itself is the marker "the value is in a zip64 field".
    std::uint64_t classicMaxValue = 0xFFFFFFFEull;
    // Entry counts up to this value fit the classic end record (65,535 archives have always
    // been written there); more get the zip64 end record.
    std::uint64_t classicMaxEntries = 0xFFFF;
    // A new entry whose expected size reaches this value gets room for 64-bit sizes in its
    // local header, which is written before its data: the margin covers what deflate adds to
    // data that does not compress and a file that grows while it is copied. An entry without
    // that room whose sizes pass classicMaxValue is refused (EntryTooLarge).
    std::uint64_t localZip64From = 0xF0000000ull;
};

enum class ZipRefusal {
    None,
    TooManyEntries,   // the archive already holds maxEntries entries
    EntryTooLarge,    // the entry's uncompressed or compressed size would pass its limit
    ArchiveTooLarge,  // the archive would pass maxArchiveSize with this entry
};

// A short English name for logs and tests ("too many entries", ...).
const char* ZipRefusalText(ZipRefusal refusal);

}  // namespace halvex
