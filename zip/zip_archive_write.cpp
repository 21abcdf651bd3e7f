// SPDX-License-Identifier: GPL-3.0-or-later
// Writing entries: OpenNewEntry, WriteNewEntry, CloseNewEntry, AbandonNewEntry and AddFile,
// with the limits of the format checked as the entry grows.
#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include <libdeflate.h>

#include "platform/file_attributes.h"
#include "platform/file_operations.h"
#include "platform/file_time.h"
#include "platform/local_time.h"
#include "zip/zip_archive_file.h"

namespace halvex {
namespace {

constexpr std::size_t kZlibSlice = std::size_t{1} << 30;

}  // namespace

bool ZipArchiveFile::Refuse(ZipRefusal why) {
    AbandonNewEntry();
    lastRefusal_ = why;
    return false;
}

ZipRefusal ZipArchiveFile::CheckNewEntrySizes(std::uint64_t uncompressed, std::uint64_t compressed) const {
    if (uncompressed > limits_.maxEntrySize || compressed > limits_.maxEntrySize)
        return ZipRefusal::EntryTooLarge;
    // A local header without 64-bit sizes cannot take the entry's final sizes.
    const std::uint64_t classicMax = limits_.classicMaxValue;
    if (!entryZip64Local_ && (uncompressed > classicMax || compressed > classicMax)) return ZipRefusal::EntryTooLarge;
    // The directory (this entry's record, with its zip64 block, included) and end records must
    // still fit after it.
    const std::uint64_t directoryOffset = entryStart_ + localHeaderSize_ + compressed;
    const std::uint64_t growth = ZipEntryHeader::Zip64CentralBlockSize(uncompressed, compressed, entryStart_, classicMax) -
                                 ZipEntryHeader::Zip64CentralBlockSize(0, 0, entryStart_, classicMax);
    if (directoryOffset + catalog_.TrailerSize(directoryOffset, growth) > limits_.maxArchiveSize)
        return ZipRefusal::ArchiveTooLarge;
    return ZipRefusal::None;
}

bool ZipArchiveFile::OpenNewEntry(const ZipEntryHeader& header, int level, const std::string& sourcePath) {
    return BeginNewEntry(header, level, sourcePath, false);
}

bool ZipArchiveFile::BeginNewEntry(const ZipEntryHeader& header, int level, const std::string& sourcePath,
                                   bool precompressed, AesCipherMaker::Made* givenAes) {
    lastRefusal_ = ZipRefusal::None;
    if (IsClosed(true) || entryState_ != EntryState::None || storage_.IsMultiVolume() == -1 || storage_.IsReadOnly() ||
        level < -1 || level > 9) {
        return false;
    }
    if (catalog_.Count() >= limits_.maxEntries) {
        lastRefusal_ = ZipRefusal::TooManyEntries;
        return false;
    }
    ZipEntryHeader entry = header;
    if (!sourcePath.empty()) {
        platform::FileTime time = 0;
        auto mode = platform::GetMode(sourcePath);
        if (!mode || !platform::GetLastWriteTime(sourcePath, time)) return false;
        entry.SetFileTime(time);
        entry.SetAttributesFromMode(*mode);
    } else if (entry.modDate == 0) {
        entry.SetTime(platform::CurrentLocalTime());
    }
    if (entry.fileName.empty()) entry.fileName = "file" + std::to_string(catalog_.Count() + 1);
    // Other zip tools tell a folder entry by the separator that ends its name; without it they
    // extract the folder as an empty file and then cannot put its contents below it.
    if (entry.IsFolder() && entry.fileName.back() != '\\') entry.fileName += '\\';
    const bool zip64Local = !entry.IsFolder() && header.uncompressedSize >= limits_.localZip64From;
    if (!entry.PrepareForWrite(level, storage_.IsMultiVolume() == 1, zip64Local))
        RaiseZipError(kZipFieldTooLong, storage_.Path());
    // An AES block copied from another entry's header would tell of encryption that is not there.
    entry.extraField = WithoutAesExtra(entry.extraField);
    const std::uint16_t dataMethod = entry.method;
    const bool encrypt = !password_.empty() && !entry.IsFolder();
    if (encrypt) {
        const AesExtra fields{2, 3, entry.method};
        entry.extraField += BuildAesExtra(fields);
        if (entry.extraField.size() + (zip64Local ? 20 : 0) > 65535) RaiseZipError(kZipFieldTooLong, storage_.Path());
        entry.method = kAesMethod;
        entry.flags |= kFlagEncrypted;
        entry.versionNeeded = std::max(entry.versionNeeded, kAesVersionNeeded);
    }

    // Refuse before anything changes when even the headers would not fit.
    const std::uint64_t start = catalog_.DataEnd() - catalog_.BytesBeforeArchive();
    const std::uint64_t localSize = entry.BuildLocalHeader().size();
    ZipEntryHeader central = entry;
    central.extraField = AesExtraBlockOf(entry.extraField);
    central.localHeaderOffset = start;
    const std::uint64_t centralSize = central.CentralRecordSize(limits_.classicMaxValue);
    if (start + localSize + catalog_.TrailerSize(start + localSize, centralSize) > limits_.maxArchiveSize) {
        lastRefusal_ = ZipRefusal::ArchiveTooLarge;
        return false;
    }

    ioBuffer_ = std::make_unique<unsigned char[]>(kIoBufferSize);
    runningCrc_ = 0;
    pendingOut_ = 0;
    bytesIn_ = 0;
    bytesWritten_ = 0;
    precompressed_ = precompressed;
    dataMethod_ = dataMethod;
    aes_.reset();
    arrivesEncrypted_ = false;
    givenMac_.reset();
    try {
        catalog_.AddEntryHeader(entry);
        entryStart_ = catalog_.Current()->localHeaderOffset;  // on a span, maybe on a new volume
        localHeaderSize_ = localSize;
        entryZip64Local_ = zip64Local;
        entryState_ = EntryState::Writing;
        if (encrypt) {
            AesCipherMaker::Made made;
            if (givenAes != nullptr && givenAes->cipher) {
                made = std::move(*givenAes);
            } else {
                if (!cipherMaker_) cipherMaker_ = std::make_unique<AesCipherMaker>(password_);
                made = cipherMaker_->Take();
            }
            aes_ = std::move(made.cipher);
            std::array<unsigned char, 16 + kAesVerifierLength> head{};
            std::copy(made.salt.begin(), made.salt.end(), head.begin());
            std::copy(aes_->Verifier().begin(), aes_->Verifier().end(), head.data() + 16);
            storage_.Write(head.data(), head.size(), false);
            bytesWritten_ = head.size();
        }
        if (dataMethod_ == 8 && !precompressed) stream_.StartDeflate(level, storage_.Path());
    } catch (...) {
        AbandonAfterError();
        throw;
    }
    return true;
}

void ZipArchiveFile::WriteOut(std::size_t count) {
    if (aes_) aes_->Encrypt(ioBuffer_.get(), count);
    storage_.Write(ioBuffer_.get(), count, false);
    bytesWritten_ += count;
    pendingOut_ = 0;
}

int ZipArchiveFile::DeflateStep(int flush, ZipRefusal& refusal) {
    if (pendingOut_ == kIoBufferSize) {
        WriteOut(pendingOut_);
        refusal = CheckNewEntrySizes(bytesIn_, bytesWritten_);
        if (refusal != ZipRefusal::None) return Z_OK;
    }
    z_stream& z = stream_.Get();
    z.next_out = ioBuffer_.get() + pendingOut_;
    z.avail_out = static_cast<uInt>(kIoBufferSize - pendingOut_);
    int rc = deflate(&z, flush);
    pendingOut_ = kIoBufferSize - z.avail_out;
    return rc;
}

bool ZipArchiveFile::WriteNewEntry(const void* buffer, std::size_t count) {
    lastRefusal_ = ZipRefusal::None;
    if (entryState_ != EntryState::Writing || precompressed_) return false;
    if (count == 0) return true;
    if (buffer == nullptr) return false;
    const bool stored = dataMethod_ == 0;
    // Exact checks before any work: the uncompressed size, and all of it for stored data.
    ZipRefusal early = CheckNewEntrySizes(bytesIn_ + count, stored ? bytesWritten_ + pendingOut_ + count : 0);
    if (early != ZipRefusal::None) return Refuse(early);
    try {
        const auto* in = static_cast<const unsigned char*>(buffer);
        runningCrc_ = static_cast<std::uint32_t>(libdeflate_crc32(runningCrc_, in, count));
        bytesIn_ += count;
        if (stored) {
            for (std::size_t done = 0; done < count;) {
                if (pendingOut_ == kIoBufferSize) WriteOut(pendingOut_);
                std::size_t n = std::min(count - done, kIoBufferSize - pendingOut_);
                std::memcpy(ioBuffer_.get() + pendingOut_, in + done, n);
                pendingOut_ += n;
                done += n;
            }
            return true;
        }
        z_stream& z = stream_.Get();
        for (std::size_t done = 0; done < count;) {
            std::size_t slice = std::min(count - done, kZlibSlice);
            z.next_in = const_cast<unsigned char*>(in + done);
            z.avail_in = static_cast<uInt>(slice);
            while (z.avail_in > 0) {
                ZipRefusal why = ZipRefusal::None;
                int rc = DeflateStep(Z_NO_FLUSH, why);
                if (why != ZipRefusal::None) return Refuse(why);
                if (rc < 0 && rc != Z_BUF_ERROR) RaiseZlibError(rc, storage_.Path());
            }
            done += slice;
        }
    } catch (...) {
        AbandonAfterError();
        throw;
    }
    ZipRefusal why = CheckNewEntrySizes(bytesIn_, bytesWritten_ + pendingOut_);
    if (why != ZipRefusal::None) return Refuse(why);
    return true;
}

bool ZipArchiveFile::CloseNewEntry() {
    lastRefusal_ = ZipRefusal::None;
    if (entryState_ != EntryState::Writing) return false;
    if (precompressed_) {
        AbandonNewEntry();
        return false;
    }
    try {
        if (dataMethod_ == 8) {
            stream_.Get().next_in = nullptr;
            stream_.Get().avail_in = 0;
            for (;;) {
                ZipRefusal why = ZipRefusal::None;
                int rc = DeflateStep(Z_FINISH, why);
                if (why != ZipRefusal::None) return Refuse(why);
                if (rc == Z_STREAM_END) break;
                if (rc != Z_OK && rc != Z_NEED_DICT) RaiseZlibError(rc, storage_.Path());
            }
            stream_.End(storage_.Path());
        }
    } catch (...) {
        AbandonAfterError();
        throw;
    }
    return FinishNewEntry();
}

bool ZipArchiveFile::FinishNewEntry() {
    try {
        const std::size_t macLength = aes_ ? kAesMacLength : 0;
        ZipRefusal why = CheckNewEntrySizes(bytesIn_, bytesWritten_ + pendingOut_ + macLength);
        if (why != ZipRefusal::None) return Refuse(why);
        if (pendingOut_ > 0) WriteOut(pendingOut_);
        if (aes_) {
            const auto mac = givenMac_ ? *givenMac_ : aes_->FinishMac();
            storage_.Write(mac.data(), mac.size(), false);
            bytesWritten_ += mac.size();
        }
        // Encrypted entries keep no CRC: it would tell about the plain data.
        catalog_.FinishEntryWrite(aes_ ? 0 : runningCrc_, bytesWritten_, bytesIn_);
    } catch (...) {
        AbandonAfterError();
        throw;
    }
    entryState_ = EntryState::None;
    aes_.reset();
    ioBuffer_.reset();
    return true;
}

bool ZipArchiveFile::AbandonNewEntry() {
    if (entryState_ != EntryState::Writing) return false;
    stream_.Release();
    aes_.reset();
    ioBuffer_.reset();
    entryState_ = EntryState::None;
    catalog_.AbandonLastEntry();
    return true;
}

void ZipArchiveFile::AbandonAfterError() noexcept {
    if (entryState_ != EntryState::Writing) {
        stream_.Release();
        aes_.reset();
        ioBuffer_.reset();
        return;
    }
    try {
        AbandonNewEntry();
    } catch (...) {
        // The cut failed too: the caller's Close(true) releases the rest.
    }
}

bool ZipArchiveFile::AddFile(const std::string& path, int level, bool fullPath,
                             ZipProgressCallback progress, void* userData, std::size_t bufferSize) {
    lastRefusal_ = ZipRefusal::None;
    if (bufferSize == 0) return false;
    std::string name;
    if (fullPath) {
        name = path.substr(std::min(path.find_first_not_of('/'), path.size()));
        std::replace(name.begin(), name.end(), '/', '\\');
    } else {
        name = platform::NameOfPath(path);
    }
    if (name.empty()) return false;
    const bool folder = platform::IsDirectory(path);
    CZipBigFile source;
    // Opened before the entry is begun: a file that cannot be read adds nothing.
    if (!folder && !source.TryOpen(path, platform::File::Mode::Read)) return false;
    ZipEntryHeader header;
    header.SetFileName(name);
    if (!folder) header.uncompressedSize = source.Length();
    if (!OpenNewEntry(header, level, path)) return false;
    if (folder) return CloseNewEntry();
    try {
        std::vector<unsigned char> buffer(bufferSize);
        const std::uint64_t total = source.Length();
        std::uint64_t done = 0;
        for (;;) {
            std::size_t n = source.Read(buffer.data(), bufferSize);
            if (n > 0) {
                if (!WriteNewEntry(buffer.data(), n)) return false;  // refused and abandoned
                done += n;
                if (progress != nullptr && !progress(total, done, userData)) {
                    AbandonNewEntry();  // a stopped copy is not stored as if it were whole
                    return false;
                }
            }
            if (n < bufferSize) break;
        }
    } catch (...) {
        AbandonAfterError();
        throw;
    }
    return CloseNewEntry();
}

}  // namespace halvex
