// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// An open archive's central directory: reads and validates it, keeps one packed record per
// entry, checks local headers before an entry is read, patches entries after they are written,
// and writes the directory and end record back when the archive changed. A large new archive
// keeps its finished entries in a temporary file beside it instead of in memory, until the
// directory is written or an entry is asked for.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/file.h"
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
    // While on, ReadCatalog keeps only the entries at the top level (names without a '\'):
    // the others are read and checked but not kept, and indices count the kept entries.
    void SetTopLevelOnly(bool on) { topLevelOnly_ = on; }
    // After a top-level-only read: whether an entry that was not kept is AES-encrypted.
    bool SkippedAesEntries() const { return skippedAes_; }

    // Positions the storage at entry `index`'s data after checking its local header against
    // the central one (code 10 on any disagreement). Answers the data's file position.
    std::uint64_t OpenEntryForRead(int index);
    // Checks the data descriptor of the entry just read when it has one (its data ends at
    // `dataEnd`, or at the current position when not given), then forgets the current entry.
    void CloseEntryAfterRead(bool checkDescriptor, std::optional<std::uint64_t> dataEnd);
    // Forgets the current entry without any check.
    void ForgetCurrent() { currentIndex_ = -1; }

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
        if (maxValue == classicMax_ && maxEntries == classicMaxEntries_) return;
        Unspool();
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

    // A new archive moves its finished entries to a temporary file beside it, in batches of
    // this many (process-wide; tests lower it). 0 keeps them in memory.
    static std::size_t SpoolBatch();
    static void SetSpoolBatch(std::size_t entries);
    static constexpr std::size_t kDefaultSpoolBatch = 4096;

    // --- Queries ---
    // Those that name an entry bring the entries in the temporary file back into memory first
    // (file errors throw platform::FileError); the archive then keeps them there.
    std::size_t Count() const { return spooled_ + entries_.size(); }
    // A copy of entry `index`'s header; CopyHeader reuses the strings of `into`.
    ZipEntryHeader Header(int index);
    void CopyHeader(int index, ZipEntryHeader& into);
    bool IsFolder(int index) {
        return (Live(index).externalAttributes & kZipAttrDirectory) != 0;
    }
    // Deleting moves entries down the file.
    void SetLocalHeaderOffset(int index, std::uint64_t offset) {
        PackedEntry& entry = Live(index);
        centralSize_ -= CentralSize(entry);
        entry.localHeaderOffset = offset;
        centralSize_ += CentralSize(entry);
        if (currentIndex_ == index) current_.localHeaderOffset = offset;
    }
    // The entry being read or written (a copy of its header), or null.
    ZipEntryHeader* Current() { return currentIndex_ >= 0 ? &current_ : nullptr; }
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
    int FindIndex(std::string_view name, bool caseSensitive);
    // The same through the sorted index (built on first use).
    int FindIndexFast(std::string_view name, bool caseSensitive);
    void EnableFindFast(bool on);

private:
    // One entry's header packed: the fixed fields in 64 bytes, its name and extra field in the
    // byte pool, the fields nearly every entry leaves empty (comment, the name's stored bytes)
    // out of line.
    struct PackedEntry {
        std::uint64_t localHeaderOffset = 0;
        std::uint64_t compressedSize = 0;
        std::uint64_t uncompressedSize = 0;
        std::uint64_t bytes = 0;  // where the name, then the extra field, lie in the pool
        std::uint16_t nameLength = 0;   // kLongField: the name is in its rare fields
        std::uint16_t extraLength = 0;  // kLongField: the extra field is in its rare fields
        std::uint32_t crc32 = 0;
        std::uint32_t externalAttributes = 0;
        std::uint32_t rare = 0;  // 1 + index into rare_; 0 for none
        std::uint16_t versionMadeBy = 0;
        std::uint16_t versionNeeded = 0;
        std::uint16_t flags = 0;
        std::uint16_t method = 0;
        std::uint16_t modTime = 0;
        std::uint16_t modDate = 0;
        std::uint16_t diskStart = 0;
        std::uint16_t internalAttributes = 0;
    };
    static constexpr std::uint16_t kLongField = 0xFFFF;
    struct RareFields {
        std::string longName;
        CompactBytes longExtra;
        CompactBytes comment;
        CompactBytes storedName;
        std::uint32_t signature = 0;
        bool zip64Local = false;
    };
    // Names and extra fields, appended into chunks that never move.
    class BytePool {
    public:
        // Stores `a` then `b` together; answers where.
        std::uint64_t Add(std::string_view a, std::string_view b);
        const char* At(std::uint64_t where) const { return chunks_[where >> 32].get() + (where & 0xFFFFFFFFu); }
        // Gives back what the last Add took (`where`, `length` bytes).
        void DropLast(std::uint64_t where, std::size_t length);
        void Clear() {
            chunks_.clear();
            used_ = capacity_ = 0;
        }

    private:
        static constexpr std::size_t kFirstChunk = 4096;
        static constexpr std::size_t kChunk = 1 << 20;
        std::vector<std::unique_ptr<char[]>> chunks_;
        std::size_t used_ = 0;      // in the last chunk
        std::size_t capacity_ = 0;  // of the last chunk
    };

    PackedEntry Pack(const ZipEntryHeader& header);
    // Entry `index` in memory (the temporary file's entries brought back first).
    PackedEntry& Live(int index) {
        if (static_cast<std::size_t>(index) < spooled_) Unspool();
        return entries_[static_cast<std::size_t>(index) - spooled_];
    }
    void CopyLive(std::size_t position, ZipEntryHeader& into) const;
    // Moves the entries in memory, all finished, to the temporary file (made on first use; when
    // none can be made, they stay). Write errors throw platform::FileError.
    void Spool();
    // Brings the entries in the temporary file back into memory and ends spooling.
    void Unspool();
    void EndSpool() noexcept;
    // Calls `each` with the temporary file's entries, in order.
    void ReadSpool(const std::function<void(const ZipEntryHeader&)>& each);
    std::string_view NameOf(const PackedEntry& entry) const;
    std::string_view ExtraOf(const PackedEntry& entry) const;
    const RareFields* RareOf(const PackedEntry& entry) const {
        return entry.rare != 0 ? &rare_[entry.rare - 1] : nullptr;
    }
    bool Zip64Local(const PackedEntry& entry) const {
        const RareFields* rare = RareOf(entry);
        return rare != nullptr && rare->zip64Local;
    }
    std::size_t CentralSize(const PackedEntry& entry) const;
    // Keeps only the entries for which `keep(index)` holds, with their pool bytes and rare fields.
    template <class Keep>
    void Compact(Keep keep);

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
    // Blocks that never move: no copy of the whole catalog while it grows.
    std::deque<PackedEntry> entries_;
    std::deque<RareFields> rare_;
    BytePool pool_;
    ZipEntryHeader current_;
    int currentIndex_ = -1;
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
    bool topLevelOnly_ = false;
    bool skippedAes_ = false;
    bool sortedValid_ = false;
    std::vector<std::uint32_t> sortedIndex_;  // entry indices
    // Entries 0..spooled_-1 lie in spoolFile_ (then spoolBuffer_) in their exact form; the
    // ones in entries_ follow them.
    bool spoolAllowed_ = false;
    std::size_t spooled_ = 0;
    platform::File spoolFile_;
    std::string spoolBuffer_;
    std::uint64_t spoolFileBytes_ = 0;
};

}  // namespace halvex
