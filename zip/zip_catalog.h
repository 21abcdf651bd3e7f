// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// An open archive's central directory: reads and validates it, keeps one header per entry,
// checks local headers before an entry is read, patches entries after they are written, and
// writes the directory and end record back when the archive changed.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "zip/zip_entry_header.h"
#include "zip/zip_volume_storage.h"

namespace halvex {

class ZipCatalog {
public:
    static constexpr std::size_t searchChunk = 32768;  // backward search for the end record
    static constexpr std::size_t kMaxComment = 65535;

    explicit ZipCatalog(ZipVolumeStorage& storage) : storage_(storage) {}
    ZipCatalog(const ZipCatalog&) = delete;
    ZipCatalog& operator=(const ZipCatalog&) = delete;

    // Locates and validates the end record and reads every central header. Damage raises
    // code 10, a missing end record code 18.
    void ReadCatalog();
    // Empty state for a new archive.
    void ResetCatalog();
    // Frees every header, the index and the comment.
    void ClearCatalog();

    // Positions the storage at entry `index`'s data after checking its local header against
    // the central one (code 10 on any disagreement). Answers the data's file position.
    std::uint64_t OpenEntryForRead(int index);
    // Checks the data descriptor of the entry just read when it has one (its data ends at
    // `dataEnd`, or at the current position when not given), then forgets the current entry.
    void CloseEntryAfterRead(bool checkDescriptor, std::optional<std::uint64_t> dataEnd);
    // Forgets the current entry without any check.
    void ForgetCurrent() { current_ = nullptr; }

    // Appends a copy of `header` (already prepared for writing) as the new last entry, cuts an
    // old directory off the file, writes the local header at the end of the file and makes the
    // entry current. The header's extra field is dropped once its local header is written, all
    // but its AES block.
    void AddEntryHeader(const ZipEntryHeader& header);
    // Sets the current entry's CRC and sizes and writes them into its local header (its zip64
    // block when it has one; otherwise the sizes must fit the classic fields); on a span being
    // created, into a data descriptor after its data.
    void FinishEntryWrite(std::uint32_t crc, std::uint64_t compressed, std::uint64_t uncompressed);
    // Drops the last entry (being written) and cuts the file back to its local header. On a
    // span, an entry begun on an earlier volume cannot be cut back: code 10, nothing changed.
    void AbandonLastEntry();

    // Writes all central headers and the end record when the catalog changed; the zip64 end
    // record and its locator come first when the count, the directory's size or its offset
    // passes the classic fields. A span still on its first volume becomes a plain archive
    // first when its directory then fits there.
    void WriteCatalog();
    // Where the classic fields end when writing (tests lower them to reach zip64 records with
    // small archives). Kept across ClearCatalog.
    void SetClassicLimits(std::uint64_t maxValue, std::uint64_t maxEntries) {
        classicMax_ = maxValue;
        classicMaxEntries_ = maxEntries;
        RecountCentralSize();
    }
    std::uint64_t ClassicMaxValue() const { return classicMax_; }
    // Cuts the directory read at open off the file (the first change does this).
    void RemoveCatalogFromFile();
    // Drops the headers at the given ascending, distinct indices.
    void RemoveEntryHeaders(const std::vector<int>& ascendingIndices);
    void RemoveEntryHeader(int index) { RemoveEntryHeaders({index}); }

    // --- Queries ---
    std::size_t Count() const { return headers_.size(); }
    ZipEntryHeader& Header(int index) { return *headers_[static_cast<std::size_t>(index)]; }
    const ZipEntryHeader& Header(int index) const { return *headers_[static_cast<std::size_t>(index)]; }
    ZipEntryHeader* Current() { return current_; }
    bool IsOnDisk() const { return onDisk_; }
    std::uint64_t BytesBeforeArchive() const { return bytesBeforeArchive_; }
    std::uint64_t EndRecordPosition() const { return endRecordPosition_; }
    const std::string& Comment() const { return comment_; }
    // File position where the entries' data ends: the directory's start while it is on disk,
    // else the end of the file.
    std::uint64_t DataEnd();
    // Size the directory and end records will take when written at stored offset
    // `directoryOffset`, with `extraCentral` bytes more in the directory than it has now.
    std::uint64_t TrailerSize(std::uint64_t directoryOffset, std::uint64_t extraCentral = 0) const;
    // The local extra field of the entry last opened for reading.
    const std::string& LocalExtra() const { return localExtra_; }

    // Lookups: exact bytes when case-sensitive, ASCII letters folded otherwise. The first
    // matching entry in catalog order wins; -1 when none.
    int FindIndex(std::string_view name, bool caseSensitive) const;
    // The same through the sorted index (built on first use).
    int FindIndexFast(std::string_view name, bool caseSensitive);
    void EnableFindFast(bool on);

private:
    using SortedEntry = std::pair<const ZipEntryHeader*, std::uint32_t>;
    [[noreturn]] void RaiseDamaged() const;
    std::uint64_t LocateEndRecord(std::uint64_t length);
    // Reads the zip64 end record that the locator before the end record at `endPosition`
    // names into the end record fields; answers its file position, or `endPosition` when
    // there is none. A locator without its record is damage when the end record is `marked`.
    std::uint64_t ReadZip64EndRecord(std::uint64_t endPosition, bool marked);
    void ReadDirectory();
    bool NeedsZip64End(std::uint64_t count, std::uint64_t size, std::uint64_t offset) const;
    void RecountCentralSize();
    // Turns a span still on its first volume into a plain archive in place (zip_span_conversion.cpp).
    void ConvertOneVolumeSpan();
    void BuildSortedIndex();

    ZipVolumeStorage& storage_;
    std::vector<std::unique_ptr<ZipEntryHeader>> headers_;
    ZipEntryHeader* current_ = nullptr;
    bool onDisk_ = false;
    std::uint64_t bytesBeforeArchive_ = 0;
    std::uint64_t endRecordPosition_ = 0;
    // End record fields as read (from the zip64 end record when the classic one points there).
    std::uint32_t thisVolume_ = 0;
    std::uint32_t directoryVolume_ = 0;
    std::uint64_t entriesOnVolume_ = 0;
    std::uint64_t totalEntries_ = 0;
    std::uint64_t directorySize_ = 0;
    std::uint64_t directoryOffset_ = 0;
    std::uint64_t classicMax_ = ZipEntryHeader::kClassicMaxValue;
    std::uint64_t classicMaxEntries_ = 0xFFFF;
    std::string comment_;
    std::string localExtra_;
    std::uint64_t centralSize_ = 0;  // sum of the headers' central record sizes
    bool findFast_ = false;
    bool sortedValid_ = false;
    std::vector<SortedEntry> sortedIndex_;
};

}  // namespace halvex
