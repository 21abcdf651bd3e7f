#pragma once
// An open archive's central directory: reads and validates it, keeps one header per entry,
// checks local headers before an entry is read, patches entries after they are written, and
// writes the directory and end record back when the archive changed.
#include <cstddef>
#include <cstdint>
#include <memory>
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
    // `dataEnd`), then forgets the current entry.
    void CloseEntryAfterRead(bool checkDescriptor, std::uint64_t dataEnd);
    // Forgets the current entry without any check.
    void ForgetCurrent() { current_ = nullptr; }

    // Appends a copy of `header` (already prepared for writing) as the new last entry, cuts an
    // old directory off the file, writes the local header at the end of the file and makes the
    // entry current. The header's extra field is dropped once its local header is written.
    void AddEntryHeader(const ZipEntryHeader& header);
    // Writes the current entry's CRC and sizes into its local header.
    void FinishEntryWrite();
    // Drops the last entry (being written) and cuts the file back to its local header.
    void AbandonLastEntry();

    // Writes all central headers and the end record when the catalog changed.
    void WriteCatalog();
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
    // Size the directory and end record will take when written now.
    std::uint64_t TrailerSize() const { return centralSize_ + 22 + comment_.size(); }
    // The local extra field of the entry last opened for reading.
    const std::string& LocalExtra() const { return localExtra_; }

    // Lookups: exact bytes when case-sensitive, ASCII letters folded otherwise. The first
    // matching entry in catalog order wins; -1 when none.
    int FindIndex(std::string_view name, bool caseSensitive) const;
    // The same through the sorted index (built on first use).
    int FindIndexFast(std::string_view name, bool caseSensitive);
    void EnableFindFast(bool on);

private:
    using SortedEntry = std::pair<const ZipEntryHeader*, std::uint16_t>;
    [[noreturn]] void RaiseDamaged() const;
    std::uint64_t LocateEndRecord(std::uint64_t length);
    void BuildSortedIndex();

    ZipVolumeStorage& storage_;
    std::vector<std::unique_ptr<ZipEntryHeader>> headers_;
    ZipEntryHeader* current_ = nullptr;
    bool onDisk_ = false;
    std::uint64_t bytesBeforeArchive_ = 0;
    std::uint64_t endRecordPosition_ = 0;
    // End record fields as read.
    std::uint16_t thisVolume_ = 0;
    std::uint16_t directoryVolume_ = 0;
    std::uint16_t entriesOnVolume_ = 0;
    std::uint16_t totalEntries_ = 0;
    std::uint32_t directorySize_ = 0;
    std::uint32_t directoryOffset_ = 0;
    std::string comment_;
    std::string localExtra_;
    std::uint64_t centralSize_ = 0;  // sum of the headers' central record sizes
    bool findFast_ = false;
    bool sortedValid_ = false;
    std::vector<SortedEntry> sortedIndex_;
};

}  // namespace halvex
