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

bool WriteWholeEntry(ZipArchiveFile& zip, std::string_view name, int level, const platform::SystemTime& time,
                     std::initializer_list<std::span<const unsigned char>> parts) {
    ZipEntryHeader header;
    header.SetFileName(name);
    header.SetTime(time);
    for (std::span<const unsigned char> part : parts) header.uncompressedSize += part.size();
    // The program's own records: private when another zip tool extracts them.
    header.SetAttributesFromMode(kUnixTypeFile | 0600);
    if (!zip.OpenNewEntry(header, level)) return false;
    for (std::span<const unsigned char> part : parts)
        if (!zip.WriteNewEntry(part.data(), part.size())) return false;  // refused: already abandoned
    return zip.CloseNewEntry();
}

}  // namespace halvex
