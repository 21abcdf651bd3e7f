#pragma once
// What the zip format as written can hold (32-bit sizes and offsets, 16-bit entry count), and
// why a new entry was refused. A refused entry leaves the archive exactly as it was before the
// entry was begun.
#include <cstdint>

namespace halvex {

struct ZipLimits {
    // Entries in one archive.
    std::uint32_t maxEntries = 65535;
    // Uncompressed and compressed size of one entry. 0xFFFFFFFF itself is left out: readers
    // that know zip64 take that value as "the size is in a zip64 field".
    std::uint64_t maxEntrySize = 0xFFFFFFFEull;
    // The whole archive, from its first entry to the end of its end record, so that every
    // local header offset and the directory's offset and size fit 32 bits.
    std::uint64_t maxArchiveSize = 0xFFFFFFFFull;
};

enum class ZipRefusal {
    None,
    TooManyEntries,   // the archive already holds maxEntries entries
    EntryTooLarge,    // the entry's uncompressed or compressed size would pass maxEntrySize
    ArchiveTooLarge,  // the archive would pass maxArchiveSize with this entry
};

// A short English name for logs and tests ("too many entries", ...).
const char* ZipRefusalText(ZipRefusal refusal);

}  // namespace halvex
