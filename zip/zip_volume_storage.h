// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The byte channel between an open archive and the disk: buffered writes, exact reads, and
// the in-place services (patch, truncate, move down) that a single-file archive needs.
// Every read and every write of archive data goes through Read and Write, which also carry an
// archive across volumes: fixed-size parts in one folder ("A.000", "A.001", ..., the last one
// "A.zip"), or one file of the archive's own name per removable disk, asked for through the
// volume callback. Positions (GetPosition, Seek, offsets in records) are within the current
// volume. A multi-volume archive is written from start to end only, and read only.
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

// Asks the user for the disk of volume `volume` (counted from 1); false means stop. `code`:
// above 0, the bytes that must fit on a disk about to be written; kZipDiskForReading, or why
// the disk inserted last was not taken (the archive's file already is on it, it could not be
// labelled, the file could not be created there).
using ZipVolumeCallback = bool (*)(int volume, long long code, void* userData);
inline constexpr long long kZipDiskForReading = -1;
inline constexpr long long kZipDiskHasFile = -2;
inline constexpr long long kZipDiskNotLabelled = -3;
inline constexpr long long kZipDiskCannotCreate = -4;

// The disk queries removable spanning makes; tests put scripted disks in their place.
struct ZipDriveQueries {
    bool (*isRemovable)(const std::string& path);
    std::uint64_t (*freeSpace)(const std::string& path);
};
ZipDriveQueries SystemDriveQueries();

// The storage's file object.
class CZipBigFile : public platform::File {
public:
    using platform::File::File;
};

class ZipVolumeStorage {
public:
    static constexpr std::size_t kWriteBufferSize = 65535;
    static constexpr int kMaxVolume = 998;  // volumes 0..998

    ZipVolumeStorage() = default;
    ZipVolumeStorage(const ZipVolumeStorage&) = delete;
    ZipVolumeStorage& operator=(const ZipVolumeStorage&) = delete;

    // Opens `path` for one of the archive open modes (0 existing, 1 read-only, 2 create,
    // 3 create multi-volume). File errors throw platform::FileError. Mode 3 with a volume size
    // creates split parts of that size; without one, one volume per removable disk: CZipException
    // 12 without a volume callback, 14 when the path is not on a removable disk, 13 when the
    // callback stops. Its first volume starts with the span signature.
    void OpenStorage(const std::string& path, int mode, std::uint64_t volumeSize);
    // Kept across opens; the programs never set one.
    void SetVolumeCallback(ZipVolumeCallback callback, void* userData) {
        volumeCallback_ = callback;
        callbackUserData_ = userData;
    }
    void SetDriveQueries(const ZipDriveQueries& queries) { drives_ = queries; }
    // Normal close flushes the buffer and reports a failed close; a split archive being created
    // has its last part renamed to the ".zip" name (atomically replacing a file of that name).
    // After an exception the file is simply closed and nothing buffered is written.
    void CloseStorage(bool afterException);

    // Reads exactly `count` bytes at the current position; fewer raise code 10. A multi-volume
    // archive goes on in the next volume when the current one is at its end; only data that is
    // not a whole unit (a record) is read across a volume boundary. Reading past the last
    // volume is code 10.
    void Read(void* buffer, std::size_t count, bool wholeUnit);
    // Appends through the write buffer, which reaches the file when full, at Flush or at close.
    // Creating a multi-volume archive, a whole unit never straddles two volumes (one larger
    // than a split part makes its empty part larger); other data fills each volume exactly.
    void Write(const void* data, std::size_t count, bool wholeUnit);
    void Flush();
    // Creating a multi-volume archive: moves on to the next volume unless `count` bytes fit on
    // the current one, so the position of a unit about to be written can be taken first.
    // Nothing for a single file.
    void ReserveUnit(std::size_t count);
    // Room left on the current volume of a multi-volume archive being created.
    std::uint64_t FreeRoom() const;
    // Reading a multi-volume archive: makes `volume` current, at its start. Code 10 beyond the
    // last volume; 13 when the callback stops.
    void ChangeVolume(int volume);

    // Position of the next write (file position + buffered bytes).
    std::uint64_t GetPosition() const;
    // 0 single file, 1 being created as multi-volume, -1 existing multi-volume.
    int IsMultiVolume() const;
    // Called with the end record's volume number: 0 makes the archive a single file; any
    // other makes it a multi-volume archive whose last volume is the file opened, read only
    // (code 10 above kMaxVolume; 12 on a removable disk without a volume callback).
    void SetVolumeFromEndRecord(std::uint32_t thisVolume);

    // Single-file services; each flushes the write buffer first.
    void Seek(std::uint64_t position);
    std::uint64_t SeekToEnd();
    std::uint64_t Length();
    // Cuts everything at and after `position` (buffered bytes included) of the current volume
    // and continues writing there.
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
    // The open volume's file (the archive's path when none is open).
    const std::string& Path() const { return file_.IsOpen() ? file_.Path() : path_; }
    // The path the archive was opened or created with.
    const std::string& ArchivePath() const { return path_; }
    int GetCurrentVolume() const { return currentVolume_; }
    int GetLastVolume() const { return lastVolume_; }
    // Split part `volume` of an archive at `path`: the file name's extension (if any) becomes
    // "%.3d" of the volume, or "zip" for the last part.
    static std::string PartPath(const std::string& path, int volume, bool last = false);
    ZipSpanMode GetSpanMode() const { return spanMode_; }

private:
    [[noreturn]] void RaiseDamaged() const;
    void AppendToBuffer(const unsigned char* data, std::size_t count);
    // Creating: closes the current volume durably and opens the next (the same one again when
    // nothing was written to it). Code 15 beyond kMaxVolume.
    void NextVolume(std::uint64_t needed);
    void OpenNextRemovableDisk(std::uint64_t needed);
    void RefreshRoom();

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
    ZipDriveQueries drives_ = SystemDriveQueries();
    bool readOnly_ = false;
    bool modified_ = false;
};

}  // namespace halvex
