// SPDX-License-Identifier: GPL-3.0-or-later
#include "zip/zip_archive_file.h"

#include <algorithm>

#include "platform/file_error.h"
#include "platform/file_operations.h"

namespace halvex {

ZipArchiveFile::ZipArchiveFile() : catalog_(storage_) {}

ZipArchiveFile::~ZipArchiveFile() { ReleaseAll(); }

void ZipArchiveFile::Open(const std::string& path, int mode, std::uint64_t volumeSize) {
    if (!IsClosed(true) || !IsClosed(false)) return;
    entryState_ = EntryState::None;
    lastRefusal_ = ZipRefusal::None;
    if (mode < ZipOpenExisting || mode > ZipCreateSpan) RaiseZipError(kZipDamaged, path);
    try {
        storage_.OpenStorage(path, mode, volumeSize);
        if (mode == ZipOpenExisting && storage_.Length() == 0) {
            // An empty file becomes a new archive.
            storage_.CloseStorage(false);
            mode = ZipCreate;
            storage_.OpenStorage(path, mode, volumeSize);
        }
        if (mode == ZipOpenExisting || mode == ZipOpenReadOnly) catalog_.ReadCatalog();
        else catalog_.ResetCatalog();
    } catch (...) {
        ReleaseAll();
        throw;
    }
}

void ZipArchiveFile::OpenTopLevelOnly(const std::string& path) {
    catalog_.SetTopLevelOnly(true);
    try {
        Open(path, ZipOpenReadOnly, 0);
    } catch (...) {
        catalog_.SetTopLevelOnly(false);
        throw;
    }
    catalog_.SetTopLevelOnly(false);
}

void ZipArchiveFile::ReleaseAll() noexcept {
    stream_.Release();
    aes_.reset();
    keyPrefetcher_.reset();
    aesEntryRead_ = false;
    ioBuffer_.reset();
    entryState_ = EntryState::None;
    catalog_.ClearCatalog();
    try {
        storage_.CloseStorage(true);
    } catch (...) {
    }
}

void ZipArchiveFile::Close(bool afterException) {
    if (IsClosed(true) && IsClosed(false)) return;
    if (afterException) {
        ReleaseAll();
        return;
    }
    try {
        // An entry left open is closed as it stands (a CRC mismatch still throws); whether it
        // was read whole was its reader's to ask.
        if (entryState_ == EntryState::Reading) static_cast<void>(CloseEntry());
        else if (entryState_ == EntryState::Writing) CloseNewEntry();
        catalog_.WriteCatalog();
        const bool modified = storage_.IsModified();
        const std::string path = storage_.ArchivePath();
        keyPrefetcher_.reset();
        aesEntryRead_ = false;
        if (modified) storage_.Sync();
        catalog_.ClearCatalog();
        storage_.CloseStorage(false);
        // The archive is only durable once its folder entry is too.
        if (modified && !platform::SyncFolder(platform::FolderOfPath(path)))
            platform::ThrowFileError("sync folder", platform::FolderOfPath(path));
    } catch (...) {
        ReleaseAll();
        throw;
    }
}

bool ZipArchiveFile::IsClosed(bool archiveLevel) const {
    return archiveLevel ? !storage_.IsOpen() : !storage_.IsFileOpen();
}

const std::string& ZipArchiveFile::GetArchivePath() const {
    return IsClosed(true) ? emptyPath_ : storage_.ArchivePath();
}

int ZipArchiveFile::GetEntryCount() const {
    return IsClosed(true) ? 0 : static_cast<int>(catalog_.Count());
}

int ZipArchiveFile::FindEntry(std::string_view name, bool caseSensitive) const {
    return IsClosed(true) ? -1 : catalog_.FindIndex(name, caseSensitive);
}

int ZipArchiveFile::FindEntryFast(std::string_view name, bool caseSensitive) {
    return IsClosed(true) ? -1 : catalog_.FindIndexFast(name, caseSensitive);
}

int ZipArchiveFile::FindEntryExactFirst(std::string_view name) {
    int index = FindEntryFast(name, true);
    return index >= 0 ? index : FindEntryFast(name, false);
}

void ZipArchiveFile::EnableFindFast(bool on) { catalog_.EnableFindFast(on); }

bool ZipArchiveFile::GetEntryInfo(ZipEntryHeader& header, int index) const {
    if (IsClosed(true) || index < 0 || static_cast<std::size_t>(index) >= catalog_.Count()) return false;
    catalog_.CopyHeader(index, header);
    return true;
}

bool ZipArchiveFile::IsFolderEntry(int index) const {
    if (IsClosed(true) || index < 0 || static_cast<std::size_t>(index) >= catalog_.Count()) return false;
    return catalog_.IsFolder(index);
}

void ZipArchiveFile::SetLimits(const ZipLimits& limits) {
    const ZipLimits format;
    limits_.maxEntries = std::min(limits.maxEntries, format.maxEntries);
    limits_.maxEntrySize = std::min(limits.maxEntrySize, format.maxEntrySize);
    limits_.maxArchiveSize = std::min(limits.maxArchiveSize, format.maxArchiveSize);
    limits_.classicMaxValue = std::min(limits.classicMaxValue, format.classicMaxValue);
    limits_.classicMaxEntries = std::min(limits.classicMaxEntries, format.classicMaxEntries);
    limits_.localZip64From = std::min(limits.localZip64From, format.localZip64From);
    catalog_.SetClassicLimits(limits_.classicMaxValue, limits_.classicMaxEntries);
}

}  // namespace halvex
