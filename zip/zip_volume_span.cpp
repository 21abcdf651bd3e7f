// SPDX-License-Identifier: GPL-3.0-or-later
// The multi-volume side of the volume storage: naming split parts, moving on to the next
// volume while writing, finding a volume while reading, asking for removable disks.
#include <algorithm>
#include <cstdio>
#include <sys/stat.h>

#include "platform/file_error.h"
#include "platform/file_operations.h"
#include "platform/removable_drive.h"
#include "zip/zip_exception.h"
#include "zip/zip_volume_storage.h"

namespace halvex {

ZipDriveQueries SystemDriveQueries() { return {platform::IsRemovableDrive, platform::FreeSpace}; }

std::string ZipVolumeStorage::PartPath(const std::string& path, int volume, bool last) {
    // Only the file name's extension goes: a dot in a folder's name stays.
    const std::size_t nameStart = path.find_last_of('/') + 1;  // npos + 1 == 0
    const std::size_t dot = path.find_last_of('.');
    const std::string stem = (dot != std::string::npos && dot >= nameStart) ? path.substr(0, dot) : path;
    if (last) return stem + ".zip";
    char extension[8];
    std::snprintf(extension, sizeof extension, ".%.3d", std::clamp(volume, 0, kMaxVolume));
    return stem + extension;
}

std::uint64_t ZipVolumeStorage::FreeRoom() const {
    if (spanMode_ == SpanRemovable) return volumeRoom_ > bufferedBytes_ ? volumeRoom_ - bufferedBytes_ : 0;
    const std::uint64_t used = bufferedBytes_ + volumeBytesWritten_;
    return volumeRoom_ > used ? volumeRoom_ - used : 0;
}

void ZipVolumeStorage::RefreshRoom() {
    if (creatingSpan_ && spanMode_ == SpanRemovable) volumeRoom_ = drives_.freeSpace(path_);
}

void ZipVolumeStorage::ReserveUnit(std::size_t count) {
    if (!creatingSpan_) return;
    const std::uint64_t minimum = std::max<std::uint64_t>(count, 1);
    while (FreeRoom() < minimum) {
        if (spanMode_ == SpanSplit && volumeBytesWritten_ == 0 && bufferedBytes_ == 0) {
            volumeRoom_ = minimum;  // a unit larger than a part makes its (empty) part larger
            break;
        }
        NextVolume(minimum);
    }
}

void ZipVolumeStorage::NextVolume(std::uint64_t needed) {
    Flush();
    const bool written = volumeBytesWritten_ > 0;
    if (written && currentVolume_ >= kMaxVolume) RaiseZipError(kZipTooManyVolumes, Path());
    if (file_.IsOpen()) {
        // Every finished volume is durable, its folder entry too, before the next is begun.
        if (written) file_.Sync();
        const std::string finished = file_.Path();
        file_.Close();
        if (written && !platform::SyncFolder(platform::FolderOfPath(finished)))
            platform::ThrowFileError("sync folder", platform::FolderOfPath(finished));
        // A removable disk too small for what must go on it keeps no empty file of ours.
        if (!written && spanMode_ == SpanRemovable) platform::DeleteFile(finished);
    }
    if (written) {
        volumeBytesWritten_ = 0;
        ++currentVolume_;
    }
    if (spanMode_ == SpanSplit) {
        file_.Open(PartPath(path_, currentVolume_), platform::File::Mode::CreateTruncate,
                   platform::File::Access::OwnerOnly);
        volumeRoom_ = volumeSize_;
        return;
    }
    OpenNextRemovableDisk(needed);
}

void ZipVolumeStorage::OpenNextRemovableDisk(std::uint64_t needed) {
    long long code = static_cast<long long>(needed);
    for (;;) {
        if (!volumeCallback_(currentVolume_ + 1, code, callbackUserData_)) RaiseZipError(kZipVolumeAborted, path_);
        struct stat st {};
        if (::lstat(path_.c_str(), &st) == 0) {
            code = kZipDiskHasFile;
            continue;
        }
        // Disk labels are not written here (that needs privileges), so kZipDiskNotLabelled
        // never comes.
        if (!file_.TryOpen(path_, platform::File::Mode::CreateNew, platform::File::Access::OwnerOnly)) {
            code = kZipDiskCannotCreate;
            continue;
        }
        break;
    }
    volumeRoom_ = drives_.freeSpace(path_);
}

void ZipVolumeStorage::SetVolumeFromEndRecord(std::uint32_t thisVolume) {
    currentVolume_ = 0;
    if (thisVolume == 0) {
        spanMode_ = SpanNone;
        return;
    }
    if (thisVolume > static_cast<std::uint32_t>(kMaxVolume)) RaiseDamaged();
    if (spanMode_ == SpanPendingAuto && drives_.isRemovable(path_)) {
        if (volumeCallback_ == nullptr) RaiseZipError(kZipNoVolumeCallback, path_);
        spanMode_ = SpanRemovable;
    } else {
        spanMode_ = SpanSplit;
    }
    currentVolume_ = static_cast<int>(thisVolume);
    lastVolume_ = currentVolume_;
    readOnly_ = true;
    writeBuffer_.reset();
    bufferedBytes_ = 0;
}

void ZipVolumeStorage::ChangeVolume(int volume) {
    if (volume == currentVolume_) return;
    if (volume < 0 || volume > lastVolume_ || IsMultiVolume() != -1) RaiseDamaged();
    file_.Close();
    if (spanMode_ == SpanRemovable) {
        if (!volumeCallback_(volume + 1, kZipDiskForReading, callbackUserData_))
            RaiseZipError(kZipVolumeAborted, path_);
        file_.Open(path_, platform::File::Mode::Read);
    } else {
        // The last part is the file that was opened, whatever its extension.
        file_.Open(volume == lastVolume_ ? path_ : PartPath(path_, volume), platform::File::Mode::Read);
    }
    currentVolume_ = volume;
}

}  // namespace halvex
