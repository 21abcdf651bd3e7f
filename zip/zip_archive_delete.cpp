// SPDX-License-Identifier: GPL-3.0-or-later
// Deleting entries: the file is compacted in place, through the 16 KB buffer, in one pass.
#include <algorithm>
#include <vector>

#include "platform/nocase.h"
#include "zip/zip_archive_file.h"

namespace halvex {

bool ZipArchiveFile::DeleteEntry(int index) {
    if (IsClosed(true) || storage_.IsMultiVolume() != 0 || entryState_ != EntryState::None || storage_.IsReadOnly() ||
        index < 0 || static_cast<std::size_t>(index) >= catalog_.Count()) {
        return false;
    }
    DeleteEntries({index});
    return true;
}

void ZipArchiveFile::DeleteEntries(const std::vector<int>& indices) {
    if (IsClosed(true) || storage_.IsMultiVolume() != 0 || entryState_ != EntryState::None || storage_.IsReadOnly())
        return;
    const std::size_t count = catalog_.Count();
    std::vector<int> doomed;
    for (int index : indices)
        if (index >= 0 && static_cast<std::size_t>(index) < count) doomed.push_back(index);
    std::sort(doomed.begin(), doomed.end());
    doomed.erase(std::unique(doomed.begin(), doomed.end()), doomed.end());
    if (doomed.empty()) return;

    // Each entry owns the bytes from its local header to the next local header in file order
    // (its data, a descriptor, any gap); the last one's run to the directory. Entries of
    // another tool need not be in file order, so the order is taken from the offsets, and a
    // layout where two entries share a header or one lies beyond the data is not touched.
    const std::uint64_t before = catalog_.BytesBeforeArchive();
    const std::uint64_t dataEnd = catalog_.DataEnd();
    struct Block {
        std::uint64_t start;
        int index;
        bool remove;
    };
    std::vector<Block> blocks;
    blocks.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        bool remove = std::binary_search(doomed.begin(), doomed.end(), static_cast<int>(i));
        blocks.push_back({catalog_.Header(static_cast<int>(i)).localHeaderOffset + before, static_cast<int>(i), remove});
    }
    std::sort(blocks.begin(), blocks.end(), [](const Block& a, const Block& b) { return a.start < b.start; });
    for (std::size_t k = 0; k < blocks.size(); ++k) {
        const std::uint64_t next = k + 1 < blocks.size() ? blocks[k + 1].start : dataEnd;
        if (blocks[k].start + 30 > next) RaiseZipError(kZipDamaged, storage_.Path());
    }

    catalog_.RemoveCatalogFromFile();
    ioBuffer_ = std::make_unique<unsigned char[]>(kIoBufferSize);
    bool compacting = false;
    std::uint64_t writePosition = 0;
    for (std::size_t k = 0; k < blocks.size(); ++k) {
        const std::uint64_t start = blocks[k].start;
        const std::uint64_t length = (k + 1 < blocks.size() ? blocks[k + 1].start : dataEnd) - start;
        if (blocks[k].remove) {
            if (!compacting) writePosition = start;
            compacting = true;
            continue;
        }
        if (!compacting) continue;
        if (storage_.MoveDown(start, writePosition, length, ioBuffer_.get(), kIoBufferSize) != length) {
            ioBuffer_.reset();
            RaiseZipError(kZipBadDeleteCount, storage_.Path());
        }
        catalog_.SetLocalHeaderOffset(blocks[k].index, writePosition - before);
        writePosition += length;
    }
    storage_.TruncateTo(writePosition);
    ioBuffer_.reset();
    catalog_.RemoveEntryHeaders(doomed);
}

void ZipArchiveFile::DeleteFolder(std::string_view folderName) {
    if (IsClosed(true)) return;
    std::vector<int> doomed;
    for (std::size_t i = 0; i < catalog_.Count(); ++i) {
        const ZipEntryHeader& entry = catalog_.Header(static_cast<int>(i));
        const std::string& name = entry.fileName;
        bool inside = name.size() > folderName.size() && name[folderName.size()] == '\\' &&
                      platform::EqualNoCase(std::string_view(name).substr(0, folderName.size()), folderName);
        bool itself = entry.IsFolder() && platform::EqualNoCase(name, folderName);
        if (inside || itself) doomed.push_back(static_cast<int>(i));
    }
    DeleteEntries(doomed);
}

}  // namespace halvex
