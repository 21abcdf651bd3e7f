// SPDX-License-Identifier: GPL-3.0-or-later
#include "zip/zip_whole_entry.h"

#include <algorithm>

#include "zip/zip_archive_file.h"

namespace halvex {

bool HasBookkeepingRatio(const ZipEntryHeader& header) {
    return header.uncompressedSize <= header.compressedSize * kMaxBookkeepingRatio + kBookkeepingRatioAllowance;
}

std::optional<std::vector<unsigned char>> ReadWholeEntry(ZipArchiveFile& zip, int index, std::uint64_t& budget,
                                                         bool checkRatio) {
    ZipEntryHeader header;
    if (!zip.GetEntryInfo(header, index)) return std::nullopt;
    // The declared size is only a claim: a size beyond the budget, or beyond what the entry's
    // compressed bytes give in real bookkeeping, is refused before anything is read.
    if (header.uncompressedSize > budget || (checkRatio && !HasBookkeepingRatio(header))) return std::nullopt;
    if (!zip.OpenEntry(index)) return std::nullopt;
    // The buffer grows with the bytes that really arrive, never ahead of them by more than
    // one chunk. A size the one-step inflate takes is one chunk: asked for whole, the entry is
    // inflated in one call, several times faster than in pieces.
    const std::size_t chunk = header.uncompressedSize <= ZipArchiveFile::WholeInflateLimit()
                                  ? static_cast<std::size_t>(header.uncompressedSize)
                                  : 65536;
    std::vector<unsigned char> bytes;
    try {
        for (;;) {
            const std::size_t got = bytes.size();
            const auto want = static_cast<std::size_t>(
                std::min<std::uint64_t>(chunk, std::uint64_t{header.uncompressedSize} - got));
            if (want == 0) break;
            bytes.resize(got + want);
            const std::size_t n = zip.ReadEntry(bytes.data() + got, want);
            bytes.resize(got + n);
            if (n == 0) break;
        }
    } catch (...) {
        zip.AbandonEntry();
        throw;
    }
    // Complete only when everything declared was delivered and the CRC is right.
    if (zip.CloseEntry() != CloseEntryResult::Complete || bytes.size() != header.uncompressedSize) return std::nullopt;
    budget -= bytes.size();
    return bytes;
}

}  // namespace halvex
