#include "zip/zip_catalog.h"

#include <algorithm>
#include <cstring>

#include "platform/nocase.h"
#include "zip/zip_bytes.h"
#include "zip/zip_exception.h"

namespace halvex {
namespace {

bool SortedLess(const std::pair<const ZipEntryHeader*, std::uint16_t>& a,
                const std::pair<const ZipEntryHeader*, std::uint16_t>& b) {
    // Primary key ignores ASCII case so that one index serves both kinds of lookup.
    int c = platform::CompareNoCase(a.first->fileName, b.first->fileName);
    if (c != 0) return c < 0;
    c = a.first->fileName.compare(b.first->fileName);
    if (c != 0) return c < 0;
    return a.second < b.second;
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

void ZipCatalog::RaiseDamaged() const { RaiseZipError(kZipDamaged, storage_.Path()); }

void ZipCatalog::ResetCatalog() {
    ClearCatalog();
    onDisk_ = false;
}

void ZipCatalog::ClearCatalog() {
    headers_.clear();
    current_ = nullptr;
    onDisk_ = false;
    bytesBeforeArchive_ = 0;
    endRecordPosition_ = 0;
    thisVolume_ = directoryVolume_ = entriesOnVolume_ = totalEntries_ = 0;
    directorySize_ = directoryOffset_ = 0;
    comment_.clear();
    localExtra_.clear();
    centralSize_ = 0;
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

    storage_.SetVolumeFromEndRecord(thisVolume_);
    if (directoryVolume_ != 0) RaiseDamaged();
    if (endPosition < static_cast<std::uint64_t>(directoryOffset_) + directorySize_) RaiseDamaged();
    comment_.resize(commentLength);
    if (commentLength > 0) storage_.Read(comment_.data(), commentLength, false);
    endRecordPosition_ = endPosition;
    bytesBeforeArchive_ = endPosition - directoryOffset_ - directorySize_;
    if ((directorySize_ == 0) != (totalEntries_ == 0)) RaiseDamaged();
    // Every central record takes at least 46 bytes: a count the directory cannot hold is
    // refused before anything is allocated for it.
    if (static_cast<std::uint64_t>(totalEntries_) * kCentralHeaderSize > directorySize_) RaiseDamaged();

    onDisk_ = true;
    if (directorySize_ == 0) return;
    std::vector<unsigned char> directory(directorySize_);
    storage_.Seek(static_cast<std::uint64_t>(directoryOffset_) + bytesBeforeArchive_);
    storage_.Read(directory.data(), directory.size(), false);
    headers_.reserve(totalEntries_);
    std::size_t at = 0;
    for (std::uint16_t i = 0; i < totalEntries_; ++i) {
        auto header = std::make_unique<ZipEntryHeader>();
        std::size_t used = header->ParseCentralRecord(directory.data() + at, directory.size() - at);
        if (used == 0) RaiseDamaged();
        at += used;
        centralSize_ += used;
        headers_.push_back(std::move(header));
    }
    if (findFast_) BuildSortedIndex();
}

std::uint64_t ZipCatalog::DataEnd() {
    if (onDisk_) return static_cast<std::uint64_t>(directoryOffset_) + bytesBeforeArchive_;
    return storage_.Length();
}

std::uint64_t ZipCatalog::OpenEntryForRead(int index) {
    ZipEntryHeader& central = Header(index);
    const std::uint64_t position = central.localHeaderOffset + bytesBeforeArchive_;
    unsigned char local[kLocalHeaderSize];
    storage_.Seek(position);
    storage_.Read(local, sizeof local, true);
    const std::uint16_t flags = GetLe16(local + 6);
    const std::uint16_t method = GetLe16(local + 8);
    const std::size_t nameLength = GetLe16(local + 26);
    const std::size_t extraLength = GetLe16(local + 28);
    if (GetLe32(local) != kLocalHeaderSignature || flags != central.flags ||
        method != central.method || (method != 0 && method != 8) ||
        nameLength != central.StoredNameLength()) {
        RaiseDamaged();
    }
    if (!central.HasDataDescriptor() &&
        (GetLe32(local + 14) != central.crc32 || GetLe32(local + 18) != central.compressedSize ||
         GetLe32(local + 22) != central.uncompressedSize)) {
        RaiseDamaged();
    }
    storage_.Seek(position + kLocalHeaderSize + nameLength);
    localExtra_.resize(extraLength);
    if (extraLength > 0) storage_.Read(localExtra_.data(), extraLength, true);
    const std::uint64_t dataStart = position + kLocalHeaderSize + nameLength + extraLength;
    // The data must lie before the directory (or the end of the file).
    if (dataStart + central.compressedSize > DataEnd()) RaiseDamaged();
    storage_.Seek(dataStart);
    current_ = &central;
    return dataStart;
}

void ZipCatalog::CloseEntryAfterRead(bool checkDescriptor, std::uint64_t dataEnd) {
    ZipEntryHeader* entry = current_;
    current_ = nullptr;
    if (entry == nullptr || !checkDescriptor || !entry->HasDataDescriptor()) return;
    // A local header with a zip64 block announces 8-byte sizes in the descriptor (other
    // tools write that for data of unknown length, such as a pipe).
    const std::size_t sizeWidth = HasZip64Block(localExtra_) ? 8 : 4;
    const std::size_t fieldsLength = 4 + 2 * sizeWidth;
    unsigned char descriptor[4 + 20];
    storage_.Seek(dataEnd);
    storage_.Read(descriptor, 4, true);
    const unsigned char* fields = descriptor;
    if (GetLe32(descriptor) == kDescriptorSignature) {
        storage_.Read(descriptor + 4, fieldsLength, true);
        fields = descriptor + 4;
    } else {
        storage_.Read(descriptor + 4, fieldsLength - 4, true);  // it began without its signature
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
    storage_.TruncateTo(static_cast<std::uint64_t>(directoryOffset_) + bytesBeforeArchive_);
    onDisk_ = false;
}

void ZipCatalog::AddEntryHeader(const ZipEntryHeader& header) {
    RemoveCatalogFromFile();
    const std::uint64_t position = storage_.SeekToEnd();
    auto entry = std::make_unique<ZipEntryHeader>(header);
    std::string local = entry->BuildLocalHeader();
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
    entry->extraField.clear();
    entry->diskStart = static_cast<std::uint16_t>(storage_.GetCurrentVolume());
    entry->localHeaderOffset = static_cast<std::uint32_t>(position - bytesBeforeArchive_);
    centralSize_ += entry->CentralRecordSize();
    current_ = entry.get();
    headers_.push_back(std::move(entry));
    if (sortedValid_) {
        SortedEntry added{current_, static_cast<std::uint16_t>(headers_.size() - 1)};
        sortedIndex_.insert(std::upper_bound(sortedIndex_.begin(), sortedIndex_.end(), added, SortedLess),
                            added);
    }
}

void ZipCatalog::FinishEntryWrite() {
    ZipEntryHeader& entry = *current_;
    unsigned char fields[12];
    SetLe32(fields, entry.crc32);
    SetLe32(fields + 4, entry.compressedSize);
    SetLe32(fields + 8, entry.uncompressedSize);
    storage_.Patch(entry.localHeaderOffset + bytesBeforeArchive_ + 14, fields, sizeof fields);
    current_ = nullptr;
}

void ZipCatalog::AbandonLastEntry() {
    if (headers_.empty()) return;
    ZipEntryHeader& entry = *headers_.back();
    current_ = nullptr;
    centralSize_ -= entry.CentralRecordSize();
    const std::uint64_t position = entry.localHeaderOffset + bytesBeforeArchive_;
    headers_.pop_back();
    sortedValid_ = false;
    sortedIndex_.clear();
    storage_.TruncateTo(position);
}

void ZipCatalog::WriteCatalog() {
    if (onDisk_) return;
    const std::uint64_t start = storage_.SeekToEnd();
    const std::uint64_t offset = start - bytesBeforeArchive_;
    if (offset + TrailerSize() > 0xFFFFFFFFull || headers_.size() > 0xFFFF) RaiseDamaged();
    std::string record;
    std::uint64_t size = 0;
    for (const auto& header : headers_) {
        record.clear();
        header->AppendCentralRecord(record);
        storage_.Write(record.data(), record.size(), true);
        size += record.size();
    }
    const auto count = static_cast<std::uint16_t>(headers_.size());
    record.clear();
    PutLe32(record, kEndRecordSignature);
    PutLe16(record, 0);  // this volume
    PutLe16(record, 0);  // volume with the directory's start
    PutLe16(record, count);
    PutLe16(record, count);
    PutLe32(record, static_cast<std::uint32_t>(size));
    PutLe32(record, static_cast<std::uint32_t>(offset));
    PutLe16(record, static_cast<std::uint16_t>(comment_.size()));
    record += comment_;
    storage_.Write(record.data(), record.size(), true);
    storage_.Flush();
    thisVolume_ = directoryVolume_ = 0;
    entriesOnVolume_ = totalEntries_ = count;
    directorySize_ = static_cast<std::uint32_t>(size);
    directoryOffset_ = static_cast<std::uint32_t>(offset);
    endRecordPosition_ = start + size;
    onDisk_ = true;
}

void ZipCatalog::RemoveEntryHeaders(const std::vector<int>& ascendingIndices) {
    if (ascendingIndices.empty()) return;
    std::vector<std::unique_ptr<ZipEntryHeader>> kept;
    kept.reserve(headers_.size());
    std::size_t next = 0;
    for (std::size_t i = 0; i < headers_.size(); ++i) {
        if (next < ascendingIndices.size() && static_cast<std::size_t>(ascendingIndices[next]) == i) {
            centralSize_ -= headers_[i]->CentralRecordSize();
            if (current_ == headers_[i].get()) current_ = nullptr;
            ++next;
        } else {
            kept.push_back(std::move(headers_[i]));
        }
    }
    headers_ = std::move(kept);
    sortedValid_ = false;
    sortedIndex_.clear();
}

int ZipCatalog::FindIndex(std::string_view name, bool caseSensitive) const {
    for (std::size_t i = 0; i < headers_.size(); ++i) {
        const std::string& entry = headers_[i]->fileName;
        if (caseSensitive ? entry == name : platform::EqualNoCase(entry, name)) return static_cast<int>(i);
    }
    return -1;
}

void ZipCatalog::BuildSortedIndex() {
    sortedIndex_.clear();
    sortedIndex_.reserve(headers_.size());
    for (std::size_t i = 0; i < headers_.size(); ++i)
        sortedIndex_.emplace_back(headers_[i].get(), static_cast<std::uint16_t>(i));
    std::sort(sortedIndex_.begin(), sortedIndex_.end(), SortedLess);
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
                               [caseSensitive](const SortedEntry& e, std::string_view key) {
                                   int c = platform::CompareNoCase(e.first->fileName, key);
                                   if (c != 0 || !caseSensitive) return c < 0;
                                   return e.first->fileName < key;
                               });
    if (caseSensitive) {
        return (it != sortedIndex_.end() && it->first->fileName == name) ? it->second : -1;
    }
    // Entries equal ignoring case lie together; the first in catalog order wins.
    int best = -1;
    for (; it != sortedIndex_.end() && platform::EqualNoCase(it->first->fileName, name); ++it) {
        if (best < 0 || it->second < best) best = it->second;
    }
    return best;
}

}  // namespace halvex
