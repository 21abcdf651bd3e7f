// SPDX-License-Identifier: GPL-3.0-or-later
#include "backup/bookkeeping.h"

namespace halvex {

std::string HistoryEntryName(std::string_view targetName) {
    std::string name(targetName);
    name += ".tq";
    return name;
}

std::string MakeToDirs(int archiveNumber, const std::vector<SourceMapping>& mappings) {
    const auto earlier = static_cast<std::uint32_t>(archiveNumber - 1);
    std::string record;
    for (int i = 0; i < 4; ++i) record += static_cast<char>((earlier >> (8 * i)) & 0xFF);
    for (const SourceMapping& mapping : mappings) {
        record += mapping.targetName;
        record += '\0';
    }
    return record;
}

namespace {

ZipEntryHeader BookkeepingHeader(std::string_view name, const platform::SystemTime& time, std::uint64_t size) {
    ZipEntryHeader header;
    header.SetFileName(name);
    header.SetTime(time);
    header.uncompressedSize = size;
    // The program's own records: private when another zip tool extracts them.
    header.SetAttributesFromMode(kUnixTypeFile | 0600);
    return header;
}

}  // namespace

bool WriteWholeEntry(ZipArchiveFile& zip, std::string_view name, int level, const platform::SystemTime& time,
                     std::initializer_list<std::span<const unsigned char>> parts) {
    std::uint64_t size = 0;
    for (std::span<const unsigned char> part : parts) size += part.size();
    const ZipEntryHeader header = BookkeepingHeader(name, time, size);
    if (!zip.OpenNewEntry(header, level)) return false;
    for (std::span<const unsigned char> part : parts)
        if (!zip.WriteNewEntry(part.data(), part.size())) return false;  // refused: already abandoned
    return zip.CloseNewEntry();
}

bool WriteCompressedHistory(ZipArchiveFile& zip, std::string_view name, const platform::SystemTime& time,
                            const CompressedHistory& history) {
    if (!zip.OpenPrecompressedEntry(BookkeepingHeader(name, time, history.size), 9)) return false;
    if (!zip.WritePrecompressedData(history.deflated.data(), history.deflated.size(), history.size)) return false;
    return zip.ClosePrecompressedEntry(history.crc);
}

}  // namespace halvex
