// SPDX-License-Identifier: GPL-3.0-or-later
#include "zip/zip_volume_storage.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/file_error.h"
#include "zip/zip_bytes.h"
#include "zip/zip_exception.h"

namespace halvex {

void ZipVolumeStorage::OpenStorage(const std::string& path, int mode, std::uint64_t volumeSize) {
    creatingSpan_ = false;
    volumeSize_ = volumeSize;
    volumeRoom_ = 0;
    volumeBytesWritten_ = 0;
    lastVolume_ = 0;
    bufferedBytes_ = 0;
    modified_ = false;
    readOnly_ = mode == 1;
    path_ = path;
    if (mode == 3) {
        if (volumeSize == 0) {
            if (volumeCallback_ == nullptr) RaiseZipError(kZipNoVolumeCallback, path);
            if (!drives_.isRemovable(path)) RaiseZipError(kZipNotRemovable, path);
        }
        writeBuffer_ = std::make_unique<unsigned char[]>(kWriteBufferSize);
        spanMode_ = volumeSize > 0 ? SpanSplit : SpanRemovable;
        creatingSpan_ = true;
        currentVolume_ = 0;
        modified_ = true;
        NextVolume(4);
        // A multi-volume archive begins with the data descriptor's signature.
        unsigned char signature[4];
        SetLe32(signature, kDescriptorSignature);
        Write(signature, sizeof signature, true);
        return;
    }
    switch (mode) {
        case 0: file_.Open(path, platform::File::Mode::ReadWrite); break;
        case 1: file_.Open(path, platform::File::Mode::Read); break;
        // A new archive holds copies of private files: its owner alone may read it.
        default:
            file_.Open(path, platform::File::Mode::CreateTruncate, platform::File::Access::OwnerOnly);
            modified_ = true;
            break;
    }
    writeBuffer_ = std::make_unique<unsigned char[]>(kWriteBufferSize);
    currentVolume_ = 0;
    spanMode_ = (mode == 0 || mode == 1) ? (volumeSize > 0 ? SpanPendingSplit : SpanPendingAuto)
                                         : SpanNone;
}

void ZipVolumeStorage::CloseStorage(bool afterException) {
    struct Reset {
        ZipVolumeStorage& s;
        ~Reset() {
            s.file_.Abandon();
            s.writeBuffer_.reset();
            s.bufferedBytes_ = 0;
            s.currentVolume_ = -1;
            s.spanMode_ = SpanNone;
            s.creatingSpan_ = false;
        }
    } reset{*this};
    if (!afterException && file_.IsOpen()) {
        Flush();
        file_.Close();
        if (creatingSpan_ && spanMode_ == SpanSplit) {
            // rename() replaces atomically: the ".zip" name never goes missing meanwhile.
            const std::string last = PartPath(path_, currentVolume_, true);
            if (std::rename(file_.Path().c_str(), last.c_str()) != 0) platform::ThrowFileError("rename", last);
        }
    }
}

void ZipVolumeStorage::RaiseDamaged() const { RaiseZipError(kZipDamaged, Path()); }

void ZipVolumeStorage::Read(void* buffer, std::size_t count, bool wholeUnit) {
    if (bufferedBytes_ > 0) Flush();
    auto* p = static_cast<unsigned char*>(buffer);
    std::size_t got = file_.Read(p, count);
    if (IsMultiVolume() != -1) {
        if (got != count) RaiseDamaged();
        return;
    }
    if (got == 0 && count > 0) {
        ChangeVolume(currentVolume_ + 1);
        got = file_.Read(p, count);
    }
    while (got < count && !wholeUnit) {
        ChangeVolume(currentVolume_ + 1);
        const std::size_t more = file_.Read(p + got, count - got);
        if (more == 0) break;
        got += more;
    }
    if (got != count) RaiseDamaged();
}

void ZipVolumeStorage::Write(const void* data, std::size_t count, bool wholeUnit) {
    const auto* p = static_cast<const unsigned char*>(data);
    if (creatingSpan_) {
        if (wholeUnit) {
            ReserveUnit(count);
            AppendToBuffer(p, count);
            return;
        }
        while (count > 0) {
            ReserveUnit(1);
            const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(FreeRoom(), count));
            AppendToBuffer(p, n);
            p += n;
            count -= n;
        }
        return;
    }
    while (count > 0) {
        if (bufferedBytes_ == 0 && count >= kWriteBufferSize) {
            // A large block goes straight to the file instead of through the buffer.
            std::size_t n = count - count % kWriteBufferSize;
            file_.Write(p, n);
            modified_ = true;
            volumeBytesWritten_ += n;
            p += n;
            count -= n;
            continue;
        }
        std::size_t n = std::min(count, kWriteBufferSize - bufferedBytes_);
        AppendToBuffer(p, n);
        p += n;
        count -= n;
    }
}

void ZipVolumeStorage::AppendToBuffer(const unsigned char* data, std::size_t count) {
    while (count > 0) {
        const std::size_t n = std::min(count, kWriteBufferSize - bufferedBytes_);
        std::memcpy(writeBuffer_.get() + bufferedBytes_, data, n);
        bufferedBytes_ += n;
        data += n;
        count -= n;
        if (bufferedBytes_ == kWriteBufferSize) Flush();
    }
}

void ZipVolumeStorage::Flush() {
    if (bufferedBytes_ == 0) return;
    std::size_t n = bufferedBytes_;
    bufferedBytes_ = 0;  // a failed write is an exception after which nothing is retried
    file_.Write(writeBuffer_.get(), n);
    modified_ = true;
    volumeBytesWritten_ += n;
    RefreshRoom();
}

std::uint64_t ZipVolumeStorage::GetPosition() const { return file_.Position() + bufferedBytes_; }

int ZipVolumeStorage::IsMultiVolume() const {
    if (creatingSpan_) return 1;
    return (spanMode_ == SpanRemovable || spanMode_ == SpanSplit) ? -1 : 0;
}

void ZipVolumeStorage::Seek(std::uint64_t position) {
    Flush();
    file_.Seek(position);
}

std::uint64_t ZipVolumeStorage::SeekToEnd() {
    Flush();
    return file_.SeekToEnd();
}

std::uint64_t ZipVolumeStorage::Length() {
    Flush();
    return file_.Length();
}

void ZipVolumeStorage::TruncateTo(std::uint64_t position) {
    std::uint64_t flushedEnd = file_.Position();
    if (position >= flushedEnd) {
        // Keep the buffered bytes that lie before the cut.
        bufferedBytes_ = static_cast<std::size_t>(
            std::min<std::uint64_t>(bufferedBytes_, position - flushedEnd));
        Flush();
    } else {
        bufferedBytes_ = 0;
    }
    file_.SetLength(position);
    file_.Seek(position);
    modified_ = true;
    volumeBytesWritten_ = position;
    RefreshRoom();
}

void ZipVolumeStorage::Patch(std::uint64_t position, const void* data, std::size_t count) {
    Flush();
    file_.Seek(position);
    file_.Write(data, count);
    modified_ = true;
    file_.SeekToEnd();
}

std::uint64_t ZipVolumeStorage::MoveDown(std::uint64_t from, std::uint64_t to, std::uint64_t count,
                                         unsigned char* buffer, std::size_t bufferSize) {
    Flush();
    std::uint64_t moved = 0;
    while (moved < count) {
        std::size_t chunk = static_cast<std::size_t>(std::min<std::uint64_t>(bufferSize, count - moved));
        file_.Seek(from + moved);
        std::size_t got = file_.Read(buffer, chunk);
        if (got == 0) break;
        file_.Seek(to + moved);
        file_.Write(buffer, got);
        modified_ = true;
        moved += got;
        if (got < chunk) break;
    }
    return moved;
}

void ZipVolumeStorage::Sync() {
    Flush();
    file_.Sync();
}

}  // namespace halvex
