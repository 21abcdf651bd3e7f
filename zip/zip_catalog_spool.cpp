// SPDX-License-Identifier: GPL-3.0-or-later
// The finished entries of a large new archive, kept in a temporary file beside it: each in its
// exact form (every header field, the local header's zip64 room, the stored name), so that the
// directory written from them and the headers read back are what memory would have held.
#include <atomic>
#include <cstring>

#include "platform/file_operations.h"
#include "zip/zip_bytes.h"
#include "zip/zip_catalog.h"
#include "zip/zip_exception.h"

namespace halvex {
namespace {

std::atomic<std::size_t> spoolBatch{ZipCatalog::kDefaultSpoolBatch};

constexpr std::size_t kFixedSize = 69;  // the fields before the name, extra, comment, stored name

void AppendSpooled(std::string& out, const ZipEntryHeader& header) {
    PutLe32(out, header.signature);
    for (std::uint16_t v : {header.versionMadeBy, header.versionNeeded, header.flags, header.method,
                            header.modTime, header.modDate})
        PutLe16(out, v);
    PutLe32(out, header.crc32);
    PutLe64(out, header.compressedSize);
    PutLe64(out, header.uncompressedSize);
    PutLe16(out, header.diskStart);
    PutLe16(out, header.internalAttributes);
    PutLe32(out, header.externalAttributes);
    PutLe64(out, header.localHeaderOffset);
    out.push_back(header.zip64Local ? 1 : 0);
    const std::string_view parts[] = {header.fileName, header.extraField, header.comment, header.storedName};
    for (std::string_view part : parts) PutLe32(out, static_cast<std::uint32_t>(part.size()));
    for (std::string_view part : parts) out.append(part.data(), part.size());
}

// The whole record's size once its fixed fields are there.
std::size_t SpooledSize(const unsigned char* p) {
    std::size_t size = kFixedSize;
    for (std::size_t i = 0; i < 4; ++i) size += GetLe32(p + kFixedSize - 16 + 4 * i);
    return size;
}

void ParseSpooled(const unsigned char* p, ZipEntryHeader& header) {
    header.signature = GetLe32(p);
    header.versionMadeBy = GetLe16(p + 4);
    header.versionNeeded = GetLe16(p + 6);
    header.flags = GetLe16(p + 8);
    header.method = GetLe16(p + 10);
    header.modTime = GetLe16(p + 12);
    header.modDate = GetLe16(p + 14);
    header.crc32 = GetLe32(p + 16);
    header.compressedSize = GetLe64(p + 20);
    header.uncompressedSize = GetLe64(p + 28);
    header.diskStart = GetLe16(p + 36);
    header.internalAttributes = GetLe16(p + 38);
    header.externalAttributes = GetLe32(p + 40);
    header.localHeaderOffset = GetLe64(p + 44);
    header.zip64Local = p[52] != 0;
    const char* text = reinterpret_cast<const char*>(p + kFixedSize);
    std::size_t lengths[4];
    for (std::size_t i = 0; i < 4; ++i) lengths[i] = GetLe32(p + 53 + 4 * i);
    header.fileName.assign(text, lengths[0]);
    text += lengths[0];
    header.extraField = std::string_view(text, lengths[1]);
    text += lengths[1];
    header.comment = std::string_view(text, lengths[2]);
    text += lengths[2];
    header.storedName = std::string_view(text, lengths[3]);
}

}  // namespace

std::size_t ZipCatalog::SpoolBatch() { return spoolBatch.load(std::memory_order_relaxed); }

void ZipCatalog::SetSpoolBatch(std::size_t entries) { spoolBatch.store(entries, std::memory_order_relaxed); }

void ZipCatalog::Spool() {
    if (!spoolFile_.IsOpen() && !spoolFile_.TryOpenTemporary(platform::FolderOfPath(storage_.ArchivePath()))) {
        spoolAllowed_ = false;  // nowhere to put them: memory it is
        return;
    }
    spoolBuffer_.clear();
    ZipEntryHeader header;
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        CopyLive(i, header);
        AppendSpooled(spoolBuffer_, header);
    }
    // Bytes past spoolFileBytes_ left by a failed write are never read, and overwritten next.
    spoolFile_.Seek(spoolFileBytes_);
    spoolFile_.Write(spoolBuffer_.data(), spoolBuffer_.size());
    spoolFileBytes_ += spoolBuffer_.size();
    spooled_ += entries_.size();
    entries_.clear();
    rare_.clear();
    pool_.Clear();
}

void ZipCatalog::ReadSpool(const std::function<void(const ZipEntryHeader&)>& each) {
    if (spooled_ == 0) return;
    constexpr std::size_t kChunk = 1 << 18;
    std::vector<unsigned char> buffer;
    std::size_t at = 0;
    std::uint64_t unread = spoolFileBytes_;
    spoolFile_.Seek(0);
    auto have = [&](std::size_t need) {
        if (buffer.size() - at >= need) return true;
        buffer.erase(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(at));
        at = 0;
        while (buffer.size() < need && unread > 0) {
            const std::size_t n =
                static_cast<std::size_t>(std::min<std::uint64_t>(unread, std::max(kChunk, need - buffer.size())));
            const std::size_t old = buffer.size();
            buffer.resize(old + n);
            if (spoolFile_.Read(buffer.data() + old, n) != n) break;
            unread -= n;
        }
        return buffer.size() >= need;
    };
    ZipEntryHeader header;
    for (std::size_t i = 0; i < spooled_; ++i) {
        // Only a file changed behind our back comes up short.
        if (!have(kFixedSize) || !have(SpooledSize(buffer.data() + at))) RaiseZipError(kZipDamaged, storage_.Path());
        ParseSpooled(buffer.data() + at, header);
        at += SpooledSize(buffer.data() + at);
        each(header);
    }
}

void ZipCatalog::Unspool() {
    if (spooled_ == 0) return;
    std::vector<ZipEntryHeader> live(entries_.size());
    for (std::size_t i = 0; i < entries_.size(); ++i) CopyLive(i, live[i]);
    std::deque<PackedEntry> entries;
    std::deque<RareFields> rare;
    BytePool pool;
    std::swap(entries, entries_);
    std::swap(rare, rare_);
    std::swap(pool, pool_);
    try {
        ReadSpool([this](const ZipEntryHeader& header) { entries_.push_back(Pack(header)); });
        for (const ZipEntryHeader& header : live) entries_.push_back(Pack(header));
    } catch (...) {
        entries_ = std::move(entries);
        rare_ = std::move(rare);
        pool_ = std::move(pool);
        throw;
    }
    EndSpool();
}

void ZipCatalog::EndSpool() noexcept {
    spoolFile_.Abandon();
    spoolAllowed_ = false;
    spooled_ = 0;
    spoolFileBytes_ = 0;
    spoolBuffer_.clear();
    spoolBuffer_.shrink_to_fit();
}

}  // namespace halvex
