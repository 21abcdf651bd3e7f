// SPDX-License-Identifier: GPL-3.0-or-later
#include "zip/zip_catalog.h"

#include <algorithm>
#include <cstring>

#include "platform/nocase.h"
#include "zip/zip_aes.h"
#include "zip/zip_bytes.h"
#include "zip/zip_exception.h"

namespace halvex {
namespace {

// The sorted index's order: the primary key ignores ASCII case so that one index serves both
// kinds of lookup.
bool SortedLess(std::string_view a, std::uint32_t ia, std::string_view b, std::uint32_t ib) {
    int c = platform::CompareNoCase(a, b);
    if (c != 0) return c < 0;
    c = a.compare(b);
    if (c != 0) return c < 0;
    return ia < ib;
}

// True when an extra field holds a zip64 block (header id 1).
bool HasZip64Block(const std::string& extra) {
    const auto* p = reinterpret_cast<const unsigned char*>(extra.data());
    std::size_t at = 0;
    while (at + 4 <= extra.size()) {
        if (GetLe16(p + at) == 0x0001) return true;
        at += 4 + GetLe16(p + at + 2);
    }
    return false;
}

}  // namespace

std::uint64_t ZipCatalog::BytePool::Add(std::string_view a, std::string_view b) {
    const std::size_t length = a.size() + b.size();
    if (chunks_.empty() || capacity_ - used_ < length) {
        // Small archives keep small chunks; large ones reach kChunk soon. Left uninitialised:
        // only what is written is touched.
        capacity_ = std::max(chunks_.empty() ? kFirstChunk : std::min(kChunk, 2 * capacity_), length);
        chunks_.push_back(std::unique_ptr<char[]>(new char[capacity_]));
        used_ = 0;
    }
    char* at = chunks_.back().get() + used_;
    if (!a.empty()) std::memcpy(at, a.data(), a.size());
    if (!b.empty()) std::memcpy(at + a.size(), b.data(), b.size());
    const std::uint64_t where = (static_cast<std::uint64_t>(chunks_.size() - 1) << 32) | used_;
    used_ += length;
    return where;
}

void ZipCatalog::BytePool::DropLast(std::uint64_t where, std::size_t length) {
    if ((where >> 32) + 1 == chunks_.size() && (where & 0xFFFFFFFFu) + length == used_) used_ -= length;
}

ZipCatalog::PackedEntry ZipCatalog::Pack(const ZipEntryHeader& header) {
    PackedEntry entry;
    entry.localHeaderOffset = header.localHeaderOffset;
    entry.compressedSize = header.compressedSize;
    entry.uncompressedSize = header.uncompressedSize;
    entry.crc32 = header.crc32;
    entry.externalAttributes = header.externalAttributes;
    entry.versionMadeBy = header.versionMadeBy;
    entry.versionNeeded = header.versionNeeded;
    entry.flags = header.flags;
    entry.method = header.method;
    entry.modTime = header.modTime;
    entry.modDate = header.modDate;
    entry.diskStart = header.diskStart;
    entry.internalAttributes = header.internalAttributes;
    const std::string_view extra = header.extraField;
    const bool longName = header.fileName.size() >= kLongField;
    const bool longExtra = extra.size() >= kLongField;
    entry.nameLength = longName ? kLongField : static_cast<std::uint16_t>(header.fileName.size());
    entry.extraLength = longExtra ? kLongField : static_cast<std::uint16_t>(extra.size());
    entry.bytes = pool_.Add(longName ? std::string_view() : std::string_view(header.fileName),
                            longExtra ? std::string_view() : extra);
    if (longName || longExtra || !header.comment.empty() || !header.storedName.empty() ||
        header.signature != kCentralHeaderSignature || header.zip64Local) {
        RareFields& rare = rare_.emplace_back();
        if (longName) rare.longName = header.fileName;
        if (longExtra) rare.longExtra = extra;
        rare.comment = header.comment;
        rare.storedName = header.storedName;
        rare.signature = header.signature;
        rare.zip64Local = header.zip64Local;
        entry.rare = static_cast<std::uint32_t>(rare_.size());
    }
    return entry;
}

std::string_view ZipCatalog::NameOf(const PackedEntry& entry) const {
    if (entry.nameLength == kLongField) return RareOf(entry)->longName;
    return {pool_.At(entry.bytes), entry.nameLength};
}

std::string_view ZipCatalog::ExtraOf(const PackedEntry& entry) const {
    if (entry.extraLength == kLongField) return RareOf(entry)->longExtra;
    const std::size_t name = entry.nameLength == kLongField ? 0 : entry.nameLength;
    return {pool_.At(entry.bytes) + name, entry.extraLength};
}

std::size_t ZipCatalog::CentralSize(const PackedEntry& entry) const {
    const RareFields* rare = RareOf(entry);
    const std::size_t stored = rare != nullptr && !rare->storedName.empty() ? rare->storedName.size() : NameOf(entry).size();
    return 46 + stored + ExtraOf(entry).size() + (rare != nullptr ? rare->comment.size() : 0) +
           ZipEntryHeader::Zip64CentralBlockSize(entry.uncompressedSize, entry.compressedSize,
                                                 entry.localHeaderOffset, classicMax_);
}

void ZipCatalog::CopyHeader(int index, ZipEntryHeader& into) {
    Live(index);
    CopyLive(static_cast<std::size_t>(index) - spooled_, into);
}

void ZipCatalog::CopyLive(std::size_t position, ZipEntryHeader& into) const {
    const PackedEntry& entry = entries_[position];
    const RareFields* rare = RareOf(entry);
    into.signature = rare != nullptr ? rare->signature : kCentralHeaderSignature;
    into.versionMadeBy = entry.versionMadeBy;
    into.versionNeeded = entry.versionNeeded;
    into.flags = entry.flags;
    into.method = entry.method;
    into.modTime = entry.modTime;
    into.modDate = entry.modDate;
    into.crc32 = entry.crc32;
    into.compressedSize = entry.compressedSize;
    into.uncompressedSize = entry.uncompressedSize;
    into.diskStart = entry.diskStart;
    into.internalAttributes = entry.internalAttributes;
    into.externalAttributes = entry.externalAttributes;
    into.localHeaderOffset = entry.localHeaderOffset;
    into.extraField = ExtraOf(entry);
    const std::string_view name = NameOf(entry);
    into.fileName.assign(name.data(), name.size());
    into.comment = rare != nullptr ? std::string_view(rare->comment) : std::string_view();
    into.storedName = rare != nullptr ? std::string_view(rare->storedName) : std::string_view();
    into.zip64Local = rare != nullptr && rare->zip64Local;
}

ZipEntryHeader ZipCatalog::Header(int index) {
    ZipEntryHeader header;
    CopyHeader(index, header);
    return header;
}

template <class Keep>
void ZipCatalog::Compact(Keep keep) {
    Unspool();
    std::deque<PackedEntry> entries;
    std::deque<RareFields> rare;
    BytePool pool;
    int current = -1;
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        if (!keep(i)) continue;
        PackedEntry entry = entries_[i];
        const std::size_t name = entry.nameLength == kLongField ? 0 : entry.nameLength;
        const std::size_t extra = entry.extraLength == kLongField ? 0 : entry.extraLength;
        entry.bytes = pool.Add(std::string_view(pool_.At(entry.bytes), name + extra), {});
        if (entry.rare != 0) {
            rare.push_back(std::move(rare_[entry.rare - 1]));
            entry.rare = static_cast<std::uint32_t>(rare.size());
        }
        if (static_cast<int>(i) == currentIndex_) current = static_cast<int>(entries.size());
        entries.push_back(entry);
    }
    entries_ = std::move(entries);
    rare_ = std::move(rare);
    pool_ = std::move(pool);
    currentIndex_ = current;
}

void ZipCatalog::RaiseDamaged() const { RaiseZipError(kZipDamaged, storage_.Path()); }

void ZipCatalog::ResetCatalog() {
    ClearCatalog();
    onDisk_ = false;
    // Removable disks may be changed while a span is written: nothing is kept on them.
    spoolAllowed_ = storage_.IsMultiVolume() == 0;
}

void ZipCatalog::ClearCatalog() {
    EndSpool();
    entries_.clear();
    rare_.clear();
    pool_.Clear();
    currentIndex_ = -1;
    onDisk_ = false;
    bytesBeforeArchive_ = 0;
    endRecordPosition_ = 0;
    thisVolume_ = directoryVolume_ = entriesOnVolume_ = totalEntries_ = 0;
    directorySize_ = directoryOffset_ = 0;
    comment_.clear();
    localExtra_.clear();
    centralSize_ = 0;
    skippedAes_ = false;
    sortedIndex_.clear();
    sortedValid_ = false;
}

std::uint64_t ZipCatalog::LocateEndRecord(std::uint64_t length) {
    // The record is 22 bytes plus a comment of at most 65,535: search no further back.
    const std::uint64_t lowest = length - std::min<std::uint64_t>(length, 22 + kMaxComment);
    std::vector<unsigned char> chunk(searchChunk);
    std::uint64_t end = length;
    while (end > lowest && end - lowest >= 4) {
        std::uint64_t start = end - std::min<std::uint64_t>(searchChunk, end - lowest);
        std::size_t n = static_cast<std::size_t>(end - start);
        storage_.Seek(start);
        storage_.Read(chunk.data(), n, false);
        for (std::size_t p = n - 4 + 1; p-- > 0;) {
            if (GetLe32(chunk.data() + p) == kEndRecordSignature) return start + p;
        }
        if (start == lowest) break;
        end = start + 3;  // chunks overlap so a signature across the border is still seen
    }
    RaiseZipError(kZipNoEndRecord, storage_.Path());
}

void ZipCatalog::ReadCatalog() {
    ClearCatalog();
    const std::uint64_t length = storage_.Length();
    const std::uint64_t endPosition = LocateEndRecord(length);
    unsigned char record[kEndRecordSize];
    storage_.Seek(endPosition);
    storage_.Read(record, sizeof record, true);
    thisVolume_ = GetLe16(record + 4);
    directoryVolume_ = GetLe16(record + 6);
    entriesOnVolume_ = GetLe16(record + 8);
    totalEntries_ = GetLe16(record + 10);
    directorySize_ = GetLe32(record + 12);
    directoryOffset_ = GetLe32(record + 16);
    const std::size_t commentLength = GetLe16(record + 20);
    comment_.resize(commentLength);
    if (commentLength > 0) storage_.Read(comment_.data(), commentLength, false);

    // The zip64 end record, when a locator precedes the end record, holds the true values. A
    // field at its marker needs it; other producers write it also for values that still fit
    // (and an archive of exactly 65,535 entries has the marker as its true count and none).
    const bool marked = thisVolume_ == kZip64Marker16 || directoryVolume_ == kZip64Marker16 ||
                        entriesOnVolume_ == kZip64Marker16 || totalEntries_ == kZip64Marker16 ||
                        directorySize_ == kZip64Marker32 || directoryOffset_ == kZip64Marker32;
    const std::uint64_t directoryEnd = ReadZip64EndRecord(endPosition, marked);
    storage_.SetVolumeFromEndRecord(thisVolume_);
    const bool multiVolume = storage_.IsMultiVolume() == -1;
    // The directory starts on this volume or an earlier one; on this one it ends at the end
    // records.
    if (directoryVolume_ > thisVolume_) RaiseDamaged();
    if (directoryVolume_ == thisVolume_ &&
        (directoryOffset_ > directoryEnd || directorySize_ > directoryEnd - directoryOffset_)) {
        RaiseDamaged();
    }
    endRecordPosition_ = endPosition;
    // Bytes put in front of an archive can only be told on a single file.
    bytesBeforeArchive_ = multiVolume ? 0 : directoryEnd - directoryOffset_ - directorySize_;
    if ((directorySize_ == 0) != (totalEntries_ == 0)) RaiseDamaged();
    // Every central record takes at least 46 bytes: a count the directory cannot hold is
    // refused before anything is allocated for it. Entry indices are ints.
    if (totalEntries_ > directorySize_ / kCentralHeaderSize || totalEntries_ > 0x7FFFFFFE) RaiseDamaged();

    onDisk_ = true;
    if (directorySize_ == 0) return;
    ReadDirectory();
    if (findFast_) BuildSortedIndex();
}

std::uint64_t ZipCatalog::ReadZip64EndRecord(std::uint64_t endPosition, bool marked) {
    if (endPosition < kZip64LocatorSize + kZip64EndRecordSize) return endPosition;
    const std::uint64_t locatorPosition = endPosition - kZip64LocatorSize;
    unsigned char locator[kZip64LocatorSize];
    storage_.Seek(locatorPosition);
    storage_.Read(locator, sizeof locator, true);
    if (GetLe32(locator) != kZip64LocatorSignature) return endPosition;
    // The record lies directly before the locator, where data put before the archive does not
    // move it; one with extensible data is found where the locator says.
    const std::uint64_t named = GetLe64(locator + 8);
    unsigned char record[kZip64EndRecordSize];
    for (std::uint64_t position : {locatorPosition - kZip64EndRecordSize, named}) {
        if (position > locatorPosition - kZip64EndRecordSize) continue;
        storage_.Seek(position);
        storage_.Read(record, sizeof record, true);
        if (GetLe32(record) != kZip64EndRecordSignature) continue;
        // The record (its size counts what follows the size field) must end before the locator.
        const std::uint64_t recordSize = GetLe64(record + 4);
        if (recordSize < kZip64EndRecordSize - 12 || recordSize > locatorPosition - position - 12) RaiseDamaged();
        thisVolume_ = GetLe32(record + 16);
        directoryVolume_ = GetLe32(record + 20);
        entriesOnVolume_ = GetLe64(record + 24);
        totalEntries_ = GetLe64(record + 32);
        directorySize_ = GetLe64(record + 40);
        directoryOffset_ = GetLe64(record + 48);
        return position;
    }
    // Without a marker, four bytes that only look like a locator end a classic archive's last
    // central record.
    if (marked) RaiseDamaged();
    return endPosition;
}

void ZipCatalog::ReadDirectory() {
    // Read in chunks: the directory's size is checked against the file, but a large file
    // still must not become one allocation of that size.
    constexpr std::size_t kChunk = 65536;
    std::vector<unsigned char> buffer;
    std::size_t at = 0;
    std::uint64_t unread = directorySize_;
    const bool multiVolume = storage_.IsMultiVolume() == -1;
    storage_.ChangeVolume(static_cast<int>(directoryVolume_));
    storage_.Seek(directoryOffset_ + bytesBeforeArchive_);
    auto have = [&](std::size_t need) {
        if (buffer.size() - at >= need) return true;
        buffer.erase(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(at));
        at = 0;
        while (buffer.size() < need && unread > 0) {
            const std::size_t n = static_cast<std::size_t>(
                std::min<std::uint64_t>(unread, std::max(kChunk, need - buffer.size())));
            const std::size_t old = buffer.size();
            buffer.resize(old + n);
            storage_.Read(buffer.data() + old, n, false);
            unread -= n;
        }
        return buffer.size() >= need;
    };
    // One header parsed into at a time: its strings keep their room from entry to entry.
    ZipEntryHeader header;
    for (std::uint64_t i = 0; i < totalEntries_; ++i) {
        if (!have(kCentralHeaderSize)) RaiseDamaged();
        const unsigned char* p = buffer.data() + at;
        const std::size_t whole = kCentralHeaderSize + GetLe16(p + 28) + GetLe16(p + 30) + GetLe16(p + 32);
        if (!have(whole)) RaiseDamaged();
        const std::size_t used = header.ParseCentralRecord(buffer.data() + at, whole);
        if (used == 0) RaiseDamaged();
        // A single file's volume numbers were never used; a span's must name one of its volumes.
        if (multiVolume && header.diskStart > thisVolume_) RaiseDamaged();
        at += used;
        if (topLevelOnly_ && header.fileName.find('\\') != std::string::npos) {
            skippedAes_ = skippedAes_ || (header.IsEncrypted() && header.method == kAesMethod);
            continue;
        }
        centralSize_ += header.CentralRecordSize(classicMax_);
        entries_.push_back(Pack(header));
    }
}

std::uint64_t ZipCatalog::DataEnd() {
    if (onDisk_) return directoryOffset_ + bytesBeforeArchive_;
    return storage_.Length();
}

std::uint64_t ZipCatalog::OpenEntryForRead(int index) {
    currentIndex_ = -1;
    CopyHeader(index, current_);
    const ZipEntryHeader& central = current_;
    const std::uint64_t dataEnd = DataEnd();
    // Positions on other volumes than the directory's cannot be checked against it.
    const bool multiVolume = storage_.IsMultiVolume() == -1;
    if (multiVolume) storage_.ChangeVolume(central.diskStart);
    else if (central.localHeaderOffset > dataEnd - bytesBeforeArchive_) RaiseDamaged();
    const std::uint64_t position = central.localHeaderOffset + bytesBeforeArchive_;
    unsigned char local[kLocalHeaderSize];
    storage_.Seek(position);
    storage_.Read(local, sizeof local, true);
    const std::uint16_t flags = GetLe16(local + 6);
    const std::uint16_t method = GetLe16(local + 8);
    const std::size_t nameLength = GetLe16(local + 26);
    const std::size_t extraLength = GetLe16(local + 28);
    if (GetLe32(local) != kLocalHeaderSignature || flags != central.flags ||
        method != central.method ||
        (method != 0 && method != 8 && !(method == kAesMethod && FindAesExtra(central.extraField))) ||
        nameLength != central.StoredNameLength()) {
        RaiseDamaged();
    }
    storage_.Seek(position + kLocalHeaderSize + nameLength);
    localExtra_.resize(extraLength);
    if (extraLength > 0) storage_.Read(localExtra_.data(), extraLength, true);
    if (!central.HasDataDescriptor()) {
        std::uint64_t compressed = GetLe32(local + 18);
        std::uint64_t uncompressed = GetLe32(local + 22);
        std::uint64_t* marked[2];
        std::size_t count = 0;
        if (uncompressed == kZip64Marker32) marked[count++] = &uncompressed;
        if (compressed == kZip64Marker32) marked[count++] = &compressed;
        if (!ReadZip64Values(localExtra_, std::span<std::uint64_t* const>(marked, count)) ||
            GetLe32(local + 14) != central.crc32 || compressed != central.compressedSize ||
            uncompressed != central.uncompressedSize) {
            RaiseDamaged();
        }
    }
    const std::uint64_t dataStart = position + kLocalHeaderSize + nameLength + extraLength;
    // The data must lie before the directory (or the end of the file).
    if (!multiVolume && (dataStart > dataEnd || central.compressedSize > dataEnd - dataStart)) RaiseDamaged();
    storage_.Seek(dataStart);
    currentIndex_ = index;
    return dataStart;
}

void ZipCatalog::CloseEntryAfterRead(bool checkDescriptor, std::optional<std::uint64_t> dataEnd) {
    const ZipEntryHeader* entry = Current();
    currentIndex_ = -1;
    if (entry == nullptr || !checkDescriptor || !entry->HasDataDescriptor()) return;
    // A local header with a zip64 block announces 8-byte sizes in the descriptor (other
    // tools write that for data of unknown length, such as a pipe).
    const std::size_t sizeWidth = HasZip64Block(localExtra_) ? 8 : 4;
    const std::size_t fieldsLength = 4 + 2 * sizeWidth;
    unsigned char descriptor[4 + 20];
    // Other tools may split a descriptor between volumes.
    if (dataEnd) storage_.Seek(*dataEnd);
    storage_.Read(descriptor, 4, false);
    const unsigned char* fields = descriptor;
    if (GetLe32(descriptor) == kDescriptorSignature) {
        storage_.Read(descriptor + 4, fieldsLength, false);
        fields = descriptor + 4;
    } else {
        storage_.Read(descriptor + 4, fieldsLength - 4, false);  // it began without its signature
    }
    auto size = [&](std::size_t at) {
        std::uint64_t v = GetLe32(fields + at);
        if (sizeWidth == 8) v |= static_cast<std::uint64_t>(GetLe32(fields + at + 4)) << 32;
        return v;
    };
    if (GetLe32(fields) != entry->crc32 || size(4) != entry->compressedSize ||
        size(4 + sizeWidth) != entry->uncompressedSize) {
        RaiseDamaged();
    }
}

void ZipCatalog::RemoveCatalogFromFile() {
    if (!onDisk_) return;
    storage_.TruncateTo(directoryOffset_ + bytesBeforeArchive_);
    onDisk_ = false;
}

void ZipCatalog::AddEntryHeader(const ZipEntryHeader& header) {
    RemoveCatalogFromFile();
    currentIndex_ = -1;
    // Before anything of the new entry is written: a failure here leaves the archive as it was.
    if (spoolAllowed_ && !findFast_ && !sortedValid_ && SpoolBatch() > 0 && entries_.size() >= SpoolBatch()) Spool();
    current_ = header;
    ZipEntryHeader* entry = &current_;
    std::string local = entry->BuildLocalHeader();
    storage_.ReserveUnit(local.size());  // its offset is on the volume it will start
    const std::uint64_t position = storage_.SeekToEnd();
    try {
        storage_.Write(local.data(), local.size(), true);
    } catch (...) {
        // No half header may stay in front of the next entry.
        try {
            storage_.TruncateTo(position);
        } catch (...) {
        }
        throw;
    }
    // Only the AES block belongs in the directory too: readers find the real method there.
    entry->extraField = AesExtraBlockOf(entry->extraField);
    entry->diskStart = static_cast<std::uint16_t>(storage_.GetCurrentVolume());
    entry->localHeaderOffset = position - bytesBeforeArchive_;
    centralSize_ += entry->CentralRecordSize(classicMax_);
    entries_.push_back(Pack(*entry));
    currentIndex_ = static_cast<int>(Count() - 1);
    if (sortedValid_) {
        const auto added = static_cast<std::uint32_t>(currentIndex_);
        const std::string_view name = entry->fileName;
        sortedIndex_.insert(std::upper_bound(sortedIndex_.begin(), sortedIndex_.end(), added,
                                             [&](std::uint32_t a, std::uint32_t b) {
                                                 return SortedLess(name, a, NameOf(entries_[b]), b);
                                             }),
                            added);
    }
}

void ZipCatalog::FinishEntryWrite(std::uint32_t crc, std::uint64_t compressed, std::uint64_t uncompressed) {
    ZipEntryHeader& entry = current_;
    PackedEntry& packed = Live(currentIndex_);
    centralSize_ -= CentralSize(packed);
    entry.crc32 = packed.crc32 = crc;
    entry.compressedSize = packed.compressedSize = compressed;
    entry.uncompressedSize = packed.uncompressedSize = uncompressed;
    centralSize_ += CentralSize(packed);
    const std::uint64_t local = entry.localHeaderOffset + bytesBeforeArchive_;
    if (storage_.IsMultiVolume() == 1) {
        // Earlier volumes may be gone (removable disks): the values follow the data instead.
        std::string descriptor;
        PutLe32(descriptor, kDescriptorSignature);
        PutLe32(descriptor, crc);
        if (entry.zip64Local) {
            PutLe64(descriptor, compressed);
            PutLe64(descriptor, uncompressed);
        } else {
            PutLe32(descriptor, static_cast<std::uint32_t>(compressed));
            PutLe32(descriptor, static_cast<std::uint32_t>(uncompressed));
        }
        storage_.Write(descriptor.data(), descriptor.size(), true);
    } else if (entry.zip64Local) {
        unsigned char crcField[4];
        SetLe32(crcField, crc);
        storage_.Patch(local + 14, crcField, sizeof crcField);
        unsigned char sizes[16];
        SetLe64(sizes, uncompressed);
        SetLe64(sizes + 8, compressed);
        storage_.Patch(local + kLocalHeaderSize + entry.StoredNameLength() + 4, sizes, sizeof sizes);
    } else {
        unsigned char fields[12];
        SetLe32(fields, crc);
        SetLe32(fields + 4, static_cast<std::uint32_t>(compressed));
        SetLe32(fields + 8, static_cast<std::uint32_t>(uncompressed));
        storage_.Patch(local + 14, fields, sizeof fields);
    }
    currentIndex_ = -1;
}

void ZipCatalog::AbandonLastEntry() {
    if (entries_.empty()) return;  // (the entry being written is always in memory)
    const PackedEntry& entry = entries_.back();
    // A finished volume is never opened again.
    if (storage_.IsMultiVolume() == 1 && entry.diskStart != storage_.GetCurrentVolume())
        RaiseZipError(kZipDamaged, storage_.Path());
    currentIndex_ = -1;
    centralSize_ -= CentralSize(entry);
    const std::uint64_t position = entry.localHeaderOffset + bytesBeforeArchive_;
    const std::size_t name = entry.nameLength == kLongField ? 0 : entry.nameLength;
    const std::size_t extra = entry.extraLength == kLongField ? 0 : entry.extraLength;
    pool_.DropLast(entry.bytes, name + extra);
    if (entry.rare != 0 && entry.rare == rare_.size()) rare_.pop_back();
    entries_.pop_back();
    sortedValid_ = false;
    sortedIndex_.clear();
    storage_.TruncateTo(position);
}

bool ZipCatalog::NeedsZip64End(std::uint64_t count, std::uint64_t size, std::uint64_t offset) const {
    return count > classicMaxEntries_ || size > classicMax_ || offset > classicMax_;
}

std::uint64_t ZipCatalog::TrailerSize(std::uint64_t directoryOffset, std::uint64_t extraCentral) const {
    const std::uint64_t size = centralSize_ + extraCentral;
    const std::uint64_t zip64 =
        NeedsZip64End(Count(), size, directoryOffset) ? kZip64EndRecordSize + kZip64LocatorSize : 0;
    return size + zip64 + kEndRecordSize + comment_.size();
}

void ZipCatalog::WriteCatalog() {
    if (onDisk_) return;
    if (storage_.IsMultiVolume() == 1 && storage_.GetCurrentVolume() == 0) ConvertOneVolumeSpan();
    storage_.SeekToEnd();
    // Each record is one unit: on a span it lies whole on one volume.
    std::string record;
    std::uint64_t size = 0;
    int directoryVolume = -1;
    std::uint64_t offset = storage_.GetPosition() - bytesBeforeArchive_;
    int volume = storage_.GetCurrentVolume();
    std::uint64_t onVolume = 0;  // records on the volume of the end record
    auto place = [&](std::size_t unit) {
        storage_.ReserveUnit(unit);
        if (storage_.GetCurrentVolume() != volume) {
            volume = storage_.GetCurrentVolume();
            onVolume = 0;
        }
        if (directoryVolume < 0) {
            directoryVolume = volume;
            offset = storage_.GetPosition() - bytesBeforeArchive_;
        }
    };
    ZipEntryHeader header;
    auto writeRecord = [&](const ZipEntryHeader& entry) {
        record.clear();
        entry.AppendCentralRecord(record, classicMax_);
        place(record.size());
        storage_.Write(record.data(), record.size(), true);
        size += record.size();
        ++onVolume;
    };
    ReadSpool(writeRecord);
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        CopyLive(i, header);
        writeRecord(header);
    }
    const std::uint64_t count = Count();
    const bool zip64 = NeedsZip64End(count, size, offset);
    const std::size_t trailerSize =
        (zip64 ? kZip64EndRecordSize + kZip64LocatorSize : 0) + kEndRecordSize + comment_.size();
    place(trailerSize);
    const std::uint64_t endPosition = storage_.GetPosition();
    record.clear();
    if (zip64) {
        PutLe32(record, kZip64EndRecordSignature);
        PutLe64(record, kZip64EndRecordSize - 12);  // what follows this field
        PutLe16(record, kZip64VersionNeeded);      // made by
        PutLe16(record, kZip64VersionNeeded);      // needed
        PutLe32(record, static_cast<std::uint32_t>(volume));
        PutLe32(record, static_cast<std::uint32_t>(directoryVolume));
        PutLe64(record, onVolume);
        PutLe64(record, count);
        PutLe64(record, size);
        PutLe64(record, offset);
        PutLe32(record, kZip64LocatorSignature);
        PutLe32(record, static_cast<std::uint32_t>(volume));  // volume with the zip64 end record
        PutLe64(record, endPosition - bytesBeforeArchive_);
        PutLe32(record, static_cast<std::uint32_t>(volume + 1));  // volumes in all
    }
    // Fields the classic record cannot hold carry their marker.
    auto count16 = [&](std::uint64_t n) {
        return static_cast<std::uint16_t>(n > classicMaxEntries_ ? kZip64Marker16 : n);
    };
    const auto size32 = static_cast<std::uint32_t>(size > classicMax_ ? kZip64Marker32 : size);
    const auto offset32 = static_cast<std::uint32_t>(offset > classicMax_ ? kZip64Marker32 : offset);
    PutLe32(record, kEndRecordSignature);
    PutLe16(record, static_cast<std::uint16_t>(volume));
    PutLe16(record, static_cast<std::uint16_t>(directoryVolume));
    PutLe16(record, count16(onVolume));
    PutLe16(record, count16(count));
    PutLe32(record, size32);
    PutLe32(record, offset32);
    PutLe16(record, static_cast<std::uint16_t>(comment_.size()));
    record += comment_;
    storage_.Write(record.data(), record.size(), true);
    storage_.Flush();
    thisVolume_ = static_cast<std::uint32_t>(volume);
    directoryVolume_ = static_cast<std::uint32_t>(directoryVolume);
    entriesOnVolume_ = onVolume;
    totalEntries_ = count;
    directorySize_ = size;
    directoryOffset_ = offset;
    endRecordPosition_ = endPosition + (zip64 ? kZip64EndRecordSize + kZip64LocatorSize : 0);
    onDisk_ = true;
}

void ZipCatalog::RecountCentralSize() {
    Unspool();
    centralSize_ = 0;
    for (const PackedEntry& entry : entries_) centralSize_ += CentralSize(entry);
}

void ZipCatalog::RemoveEntryHeaders(const std::vector<int>& ascendingIndices) {
    if (ascendingIndices.empty()) return;
    std::size_t next = 0;
    // The pool and the rare fields are rebuilt too: what the removed entries held goes back.
    Compact([&](std::size_t i) {
        if (next < ascendingIndices.size() && static_cast<std::size_t>(ascendingIndices[next]) == i) {
            ++next;
            return false;
        }
        return true;
    });
    // Offsets may have moved too (deleting compacts the file): the zip64 blocks change.
    RecountCentralSize();
    sortedValid_ = false;
    sortedIndex_.clear();
}

int ZipCatalog::FindIndex(std::string_view name, bool caseSensitive) {
    Unspool();
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        const std::string_view entry = NameOf(entries_[i]);
        if (caseSensitive ? entry == name : platform::EqualNoCase(entry, name)) return static_cast<int>(i);
    }
    return -1;
}

void ZipCatalog::BuildSortedIndex() {
    Unspool();
    sortedIndex_.clear();
    sortedIndex_.reserve(entries_.size());
    for (std::size_t i = 0; i < entries_.size(); ++i) sortedIndex_.push_back(static_cast<std::uint32_t>(i));
    std::sort(sortedIndex_.begin(), sortedIndex_.end(), [this](std::uint32_t a, std::uint32_t b) {
        return SortedLess(NameOf(entries_[a]), a, NameOf(entries_[b]), b);
    });
    sortedValid_ = true;
}

void ZipCatalog::EnableFindFast(bool on) {
    findFast_ = on;
    if (on) {
        BuildSortedIndex();
    } else {
        sortedIndex_.clear();
        sortedIndex_.shrink_to_fit();
        sortedValid_ = false;
    }
}

int ZipCatalog::FindIndexFast(std::string_view name, bool caseSensitive) {
    if (!sortedValid_) {
        findFast_ = true;
        BuildSortedIndex();
    }
    auto it = std::lower_bound(sortedIndex_.begin(), sortedIndex_.end(), name,
                               [this, caseSensitive](std::uint32_t e, std::string_view key) {
                                   const std::string_view entry = NameOf(entries_[e]);
                                   int c = platform::CompareNoCase(entry, key);
                                   if (c != 0 || !caseSensitive) return c < 0;
                                   return entry < key;
                               });
    if (caseSensitive) {
        return (it != sortedIndex_.end() && NameOf(entries_[*it]) == name) ? static_cast<int>(*it) : -1;
    }
    // Entries equal ignoring case lie together; the first in catalog order wins.
    int best = -1;
    for (; it != sortedIndex_.end() && platform::EqualNoCase(NameOf(entries_[*it]), name); ++it) {
        if (best < 0 || static_cast<int>(*it) < best) best = static_cast<int>(*it);
    }
    return best;
}

}  // namespace halvex
