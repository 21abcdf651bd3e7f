// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The byte channel between an open archive and the disk: buffered writes, exact reads, and
// the in-place services (patch, truncate, move down) that a single-file archive needs.
// Every read and every write of archive data goes through Read and Write, so volumes can
// later be changed there. Existing multi-volume archives are refused for now (code 10).
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/file.h"

namespace halvex {

// How the archive is laid out on disk.
enum ZipSpanMode : int {
    SpanNone = 0,          // one file
    SpanRemovable = 1,     // one file per removable disk
    SpanSplit = 2,         // fixed-size parts in one folder
    SpanPendingAuto = 3,   // existing archive opened, layout known once its end record is read
    SpanPendingSplit = 4,  // as 3, opened with a part size
};

// Asks the user for volume `volume` (counted from 1); false means stop.
using ZipVolumeCallback = bool (*)(int volume, long long code, void* userData);

// The storage's file object.
class CZipBigFile : public platform::File {
public:
    using platform::File::File;
};

class ZipVolumeStorage {
public:
    static constexpr std::size_t kWriteBufferSize = 65535;

    ZipVolumeStorage() = default;
    ZipVolumeStorage(const ZipVolumeStorage&) = delete;
    ZipVolumeStorage& operator=(const ZipVolumeStorage&) = delete;

    // Opens `path` for one of the archive open modes (0 existing, 1 read-only, 2 create,
    // 3 create multi-volume). File errors throw platform::FileError. Mode 3 raises
    // CZipException: 12 without a volume size (removable disks need a volume callback, which
    // nothing sets), 10 with one (split parts are not built yet).
    void OpenStorage(const std::string& path, int mode, std::uint64_t volumeSize);
    // Normal close flushes the buffer and reports a failed close; after an exception the
    // file is simply closed and nothing buffered is written.
    void CloseStorage(bool afterException);

    // Reads exactly `count` bytes at the current position; fewer raise code 10 (whole units
    // and other reads alike on a single file).
    void Read(void* buffer, std::size_t count, bool wholeUnit);
    // Appends through the write buffer, which reaches the file when full, at Flush or at close.
    void Write(const void* data, std::size_t count, bool wholeUnit);
    void Flush();

    // Position of the next write (file position + buffered bytes).
    std::uint64_t GetPosition() const;
    // 0 single file, 1 being created as multi-volume, -1 existing multi-volume.
    int IsMultiVolume() const;
    // Called with the end record's volume number: 0 makes the archive a single file; any
    // other number is a multi-volume archive, refused for now with code 10.
    void SetVolumeFromEndRecord(std::uint16_t thisVolume);

    // Single-file services; each flushes the write buffer first.
    void Seek(std::uint64_t position);
    std::uint64_t SeekToEnd();
    std::uint64_t Length();
    // Cuts everything at and after `position` (buffered bytes included) and continues
    // writing there.
    void TruncateTo(std::uint64_t position);
    // Overwrites `count` bytes at `position` in place; the next write goes to the end again.
    void Patch(std::uint64_t position, const void* data, std::size_t count);
    // Copies `count` bytes from `from` down to `to` (< from) through `buffer`. Answers the
    // bytes actually moved (fewer when the file ends early).
    std::uint64_t MoveDown(std::uint64_t from, std::uint64_t to, std::uint64_t count,
                           unsigned char* buffer, std::size_t bufferSize);
    // Flushes and makes the file's data durable.
    void Sync();

    bool IsOpen() const { return currentVolume_ >= 0; }
    bool IsFileOpen() const { return file_.IsOpen(); }
    bool IsReadOnly() const { return readOnly_; }
    // True once anything was written to or cut from the file since it was opened.
    bool IsModified() const { return modified_; }
    const std::string& Path() const { return path_; }
    int GetCurrentVolume() const { return currentVolume_; }
    ZipSpanMode GetSpanMode() const { return spanMode_; }

private:
    [[noreturn]] void RaiseDamaged() const;

    CZipBigFile file_;
    std::string path_;
    ZipSpanMode spanMode_ = SpanNone;
    bool creatingSpan_ = false;
    int currentVolume_ = -1;
    int lastVolume_ = 0;                   // multi-volume reading
    std::uint64_t volumeSize_ = 0;         // multi-volume: bytes per part
    std::uint64_t volumeRoom_ = 0;         // multi-volume
    std::uint64_t volumeBytesWritten_ = 0; // bytes flushed to the current volume
    std::unique_ptr<unsigned char[]> writeBuffer_;
    std::size_t bufferedBytes_ = 0;
    ZipVolumeCallback volumeCallback_ = nullptr;  // multi-volume; never set by the programs
    void* callbackUserData_ = nullptr;
    bool readOnly_ = false;
    bool modified_ = false;
};

}  // namespace halvex
