// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// ZipArchiveFile: the one object through which both programs use zip archives.
//
// Life cycle: Open -> (OpenEntry / ReadEntry / CloseEntry | OpenNewEntry / WriteNewEntry /
// CloseNewEntry | AddFile | ExtractEntry | DeleteEntry...)* -> Close. One entry at a time is
// open, for reading or for writing. Close(false) finishes an open entry itself (one refused
// by a limit at that point is dropped, LastRefusal() tells), writes the central directory
// when something changed and makes the file durable (fsync of the file and of its folder)
// before it returns; Close(true) releases everything without writing. The
// destructor does Close(true): an archive that was not closed normally is never completed.
//
// Failures:
//  - misuse (wrong state, index out of range, closed archive, read-only archive, encrypted
//    entry) answers false / 0 / -1 and changes nothing;
//  - damage, CRC mismatch and compressor errors throw CZipException (zip_exception.h) with the
//    archive path; operating-system failures throw platform::FileError;
//  - limits (ZipLimits: the entry count, an entry's size, the archive's size, all far beyond
//    what a disk holds unless lowered) refuse a new entry with false and LastRefusal() telling
//    why; a refused entry leaves the archive exactly as it was before that entry was begun
//    (see OpenNewEntry).
//
// Memory: a new single-file archive keeps the directory records of its finished entries in an
// unnamed temporary file in its own folder (ZipCatalog::SpoolBatch) rather than in memory; it
// takes a little more room there than the directory will in the archive, and is gone at Close.
//
// Zip64: sizes and offsets past 32 bits get zip64 extra blocks, archives past 65,535 entries
// or 4 GiB the zip64 end record and its locator; an archive within the classic limits is
// written without any zip64 record. An entry's local header is written before its data, so
// room for 64-bit sizes there is decided from the size expected (see OpenNewEntry).
// After an exception, call Close(true) before doing anything else with the archive, except
// in these cases where the archive stays usable:
//  - ReadEntry threw: AbandonEntry() releases the entry; other entries can be read;
//  - OpenEntry, CloseEntry or ExtractEntry threw: the entry is already released;
//  - WriteNewEntry, CloseNewEntry or AddFile threw: the new entry is already abandoned (the
//    archive as before it) unless the abandon itself failed; Close(true) is the safe answer.
//
// Names: entry names in memory use '\' between folders (stored with '/' on disk; names that
// are not pure ASCII are flagged as UTF-8). File-system paths use '/'.
//
// Not thread-safe: one thread uses an archive object at a time.
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_time.h"
#include "zip/zip_aes.h"
#include "zip/zip_aes_prefetch.h"
#include "zip/zip_catalog.h"
#include "zip/zip_entry_header.h"
#include "zip/zip_exception.h"
#include "zip/zip_limits.h"
#include "zip/zip_volume_storage.h"
#include "zip/zlib_stream.h"

namespace halvex {

enum ZipOpenMode : int {
    ZipOpenExisting = 0,  // read and change an existing archive (an empty file becomes a new one)
    ZipOpenReadOnly = 1,  // read only
    ZipCreate = 2,        // create, or truncate an existing file
    ZipCreateSpan = 3,    // create a multi-volume archive: split parts, or removable disks
};

// How closing a read entry ended.
enum class CloseEntryResult : int {
    Complete = 1,           // all data read, CRC checked
    Short = -1,             // not all data was read (no CRC check)
    AttributesNotSet = -2,  // the data is good but the target file's permissions could not be set
    TimeNotSet = -3,        // the data is good but the target file's time could not be set
    NothingOpen = 0,        // no entry was open
};

// Progress of AddFile / ExtractEntry: (total bytes, bytes done, user data); false stops.
using ZipProgressCallback = bool (*)(std::uint64_t total, std::uint64_t done, void* userData);

class ZipArchiveFile {
public:
    static constexpr std::size_t kIoBufferSize = 16384;

    ZipArchiveFile();
    ~ZipArchiveFile();
    ZipArchiveFile(const ZipArchiveFile&) = delete;
    ZipArchiveFile& operator=(const ZipArchiveFile&) = delete;

    // ---- Archive ----

    // Opens or creates the archive at `path`. Does nothing when already open. A missing or
    // unopenable file throws platform::FileError; a damaged one CZipException (10 damaged, 18
    // no end record). On any throw the archive is left closed.
    // Multi-volume archives:
    //  - ZipCreateSpan with volumeSize > 0 writes parts of that size beside `path` (its file
    //    name's extension replaced by 000, 001, ..., the last part by zip); with 0, one file
    //    named `path` per removable disk, asked for through the volume callback (12 without
    //    one, 14 when `path` is not on a removable disk, 13 when it answers stop, 15 past 999
    //    volumes). Entries carry data descriptors; an archive that ends on its first volume is
    //    closed as a plain archive. Entries cannot be read while it is being created.
    //  - Opening the last part (or, on removable disks, the last disk) of an existing one reads
    //    it across its volumes, read only: adding and deleting answer false.
    void Open(const std::string& path, int mode = ZipOpenExisting, std::uint64_t volumeSize = 0);
    // Opens an existing archive read only with only its top-level entries (names without a
    // folder) in the catalog: the others are read and checked but not kept, and entry indices
    // and the count are those of the kept entries. For a reader that wants a few bookkeeping
    // entries of an archive that may hold millions of files.
    void OpenTopLevelOnly(const std::string& path);
    // True for a multi-volume archive, opened or being created.
    bool IsMultiVolume() const { return storage_.IsMultiVolume() != 0; }
    // The callback that asks for removable disks, kept across opens (the programs set none).
    void SetVolumeCallback(ZipVolumeCallback callback, void* userData = nullptr) {
        storage_.SetVolumeCallback(callback, userData);
    }
    // Scripted disks for tests of removable spanning.
    void SetDriveQueries(const ZipDriveQueries& queries) { storage_.SetDriveQueries(queries); }
    // Closes the archive (see the top of this file). Nothing happens when it is closed.
    void Close(bool afterException = false);
    // archiveLevel: no volume open; otherwise: the file object is not open.
    bool IsClosed(bool archiveLevel = true) const;
    // Path of the open archive ("" when closed).
    const std::string& GetArchivePath() const;

    // ---- Encryption ----

    // The password for AES-encrypted entries, kept across opens; empty: none. With one, every
    // new entry except folders is written encrypted (AES-256, CRC 0 and the authentication
    // code guarding the data), whatever writes it. Reading takes AES entries of any key size.
    // Reading one without a password throws CZipException 19, with a password that its
    // verifier refuses 20; data that fails its authentication code throws 11 as a CRC
    // mismatch does: damage, never a wrong password.
    void SetPassword(std::string password);
    bool HasPassword() const { return !password_.empty(); }
    // Whether reading AES entries derives the keys of the next ones ahead on a thread of its
    // own (on by default). Off for an object that reads entries handed out among several.
    void SetKeyPrefetch(bool on) { keyPrefetch_ = on; }
    // A password every archive object of the process reads with when it has none of its own
    // (a restore asks once for a whole set); never used for writing. Thread-safe.
    static void SetReadPassword(std::string password);
    // Whether entry `index` is AES-encrypted (false when closed or out of range).
    bool IsAesEntry(int index) const;
    // Whether any entry is AES-encrypted.
    bool HasAesEntries() const;
    // Whether the password opens AES entry `index`: true or false from its verifier (the
    // entry's data is not read), nothing when the entry is not AES-encrypted. Damage throws.
    std::optional<bool> CheckPassword(int index);

    // ---- Catalog ----

    int GetEntryCount() const;
    // Index of the first entry (catalog order) named `name` ('\' separators): exact bytes when
    // caseSensitive, ASCII letters folded otherwise; -1 when none or closed. Linear scan.
    int FindEntry(std::string_view name, bool caseSensitive) const;
    // The same answer through a sorted index (built on first use, kept across adds, rebuilt
    // after deletions): O(log n).
    int FindEntryFast(std::string_view name, bool caseSensitive);
    // Exact case first, then ignoring case, both through the sorted index (the restore's rule).
    int FindEntryExactFirst(std::string_view name);
    // Builds (true) or drops (false) the sorted index.
    void EnableFindFast(bool on = true);
    // Copies entry `index`'s header; false when closed or out of range.
    bool GetEntryInfo(ZipEntryHeader& header, int index) const;
    bool IsFolderEntry(int index) const;

    // ---- Reading ----

    // Opens entry `index` for reading after checking its local header (CZipException 10 when
    // it disagrees with the directory or the method is not 0/8). False: out of range, an entry
    // already open, closed archive, or an entry with the old zip encryption (AES entries: see SetPassword).
    bool OpenEntry(int index);
    // Delivers up to `count` bytes of the open entry; 0 at its end or when nothing is open.
    // Never delivers more than the declared uncompressed size and never reads past the
    // declared compressed size. Damaged deflate data throws CZipException 6 or 8. A first
    // read with room for the whole of a deflated entry of at most WholeInflateLimit() bytes
    // inflates it in one step from its compressed bytes held in memory.
    std::size_t ReadEntry(void* buffer, std::size_t count);
    // The largest entry inflated in one step (process-wide; benchmarks change it).
    static std::uint64_t WholeInflateLimit();
    static void SetWholeInflateLimit(std::uint64_t bytes);
    static constexpr std::uint64_t kDefaultWholeInflateLimit = std::uint64_t{16} << 20;
    // Closes the entry being read. With a `targetPath`, that file gets the entry's time (or
    // `exactTime` when given) and its permissions: the entry's Unix permission bits when it
    // has them (UnixPermissions), else its attributes (read-only clears the write bits). CRC
    // mismatch throws CZipException 11; a deflate stream that would deliver more than the
    // declared size throws 8. The entry is released in every case, also when this throws.
    [[nodiscard]] CloseEntryResult CloseEntry(const std::string& targetPath = {},
                                              std::optional<platform::FileTime> exactTime = std::nullopt);
    // The data of entry `index` as it is stored (deflated or not, not checked) into `out`, for
    // copying it elsewhere unchanged. False as OpenEntry, or when it holds more than `maxBytes`;
    // damage throws as OpenEntry.
    bool ReadStoredData(int index, std::vector<unsigned char>& out, std::uint64_t maxBytes);
    // Releases the entry being read without any check: what a handler does after ReadEntry
    // threw. Nothing happens when no entry is open.
    void AbandonEntry() noexcept;
    // Extracts entry `index` into `destinationFolder`. The file name is the last '\' component
    // of `newName` (when not empty) or of the entry's name; with fullPath, the whole name
    // without drive and leading '\' (folders created as needed). Names that would leave the
    // folder ("..", empty or "." last component, '/' or NUL inside a component) answer false.
    // A folder entry creates that folder. A file is written under a temporary name in the
    // target's folder and renamed over the target only once it is complete and its CRC is
    // right: a failed, stopped or refused extraction leaves an existing target untouched and
    // no partial file. The file's time is the entry's DOS time, or `exactTime` when given. A
    // file with Unix permissions is written with mode 600 and takes them once complete, before
    // the rename. A folder entry's permissions are not applied here: the caller applies them
    // once the folder's contents are in (a 500 folder must still receive its files). A link
    // entry becomes a symbolic link, as with ExtractEntryAt.
    // True only when the file is complete and verified. Exceptions: as ReadEntry/CloseEntry
    // (the entry is released first, so a retry works) and platform::FileError for the target.
    bool ExtractEntry(int index, const std::string& destinationFolder, bool fullPath = true,
                      const std::string& newName = {}, ZipProgressCallback progress = nullptr,
                      void* userData = nullptr, std::size_t bufferSize = 65535,
                      std::optional<platform::FileTime> exactTime = std::nullopt);
    // As ExtractEntry for a file entry, written as `name` (one component) in the open folder
    // `folder` without ever going through a path: the temporary file is made with openat
    // (O_CREAT|O_EXCL|O_NOFOLLOW), takes its time and permissions through its descriptor and
    // is renamed over `name` with renameat, so a link put in its place or in a folder's place
    // is never followed. `shownPath` names the target in errors. A folder entry or a name that
    // is not one plain component answers false.
    // A link entry (IsLink) becomes a symbolic link whose target is the entry's data exactly
    // (never resolved or checked), made with symlinkat under a temporary name, given its time
    // without following it and renamed over `name`; no permissions are applied. A file system
    // that takes no links throws platform::FileError (operation "create link").
    bool ExtractEntryAt(int index, int folder, const std::string& name, const std::string& shownPath,
                        ZipProgressCallback progress = nullptr, void* userData = nullptr,
                        std::size_t bufferSize = 65535, std::optional<platform::FileTime> exactTime = std::nullopt);

    // ---- Writing ----

    // Starts a new entry from `header` (its name with '\', time, attributes, comment). level:
    // -1 compressor default, 0 stored, 1-9 deflated; folders (attribute 0x10) are always
    // stored. With `sourcePath`, the file's last-write time and attributes replace the
    // header's (false when they cannot be read). A header without a date gets the current
    // time. An empty name becomes "file<n>" with n the entry's 1-based position.
    // header.uncompressedSize is the size the caller expects to write (0 when unknown): from
    // ZipLimits::localZip64From on, the local header gets 64-bit sizes. An entry written
    // without them whose sizes pass 32 bits is refused (EntryTooLarge) when it gets there.
    // False, archive unchanged: closed, read-only or multi-volume archive, an entry open, a
    // level outside -1..9; LastRefusal() TooManyEntries when the archive is full,
    // ArchiveTooLarge when even this entry's headers would not fit. A name, extra field or
    // comment over 65,535 bytes throws CZipException 16 (archive unchanged).
    bool OpenNewEntry(const ZipEntryHeader& header, int level = -1, const std::string& sourcePath = {});
    // Adds `count` bytes to the entry being written. False when none is being written, or when
    // the entry is refused: LastRefusal() EntryTooLarge (its uncompressed or compressed size
    // would pass 32 bits) or ArchiveTooLarge (the archive would pass 4 GiB). A refused entry
    // has already been abandoned: the file is cut back to the entry's local header and the
    // entry is gone; do not call CloseNewEntry for it.
    bool WriteNewEntry(const void* buffer, std::size_t count);
    // Finishes the entry being written (CRC and sizes patched into its local header). False
    // when none is being written, or when the final compressed size is refused (abandoned as
    // for WriteNewEntry).
    bool CloseNewEntry();
    // Drops the entry being written, leaving the archive as it was before OpenNewEntry (for a
    // source that cannot be read to its end). False when no entry is being written. On a span,
    // an entry that began on an earlier volume throws CZipException 10 instead (limits refusing
    // such an entry do the same).
    bool AbandonNewEntry();
    // An entry whose data arrives in its final form, compressed elsewhere (other threads):
    // stored when `level` is 0, otherwise a raw deflate stream made at `level` (the header's
    // deflate option flags follow it). Answers as OpenNewEntry (without a source path). While
    // it is open, WriteNewEntry answers false, and CloseNewEntry (also through Close) drops
    // it: only the caller knows its CRC.
    // With a password set, `aes` (when given) is the entry's salt and cipher, made elsewhere
    // (on the thread that compressed it); it is taken over, and its data may then arrive
    // encrypted already. Without a password it is ignored.
    bool OpenPrecompressedEntry(const ZipEntryHeader& header, int level, AesCipherMaker::Made* aes = nullptr);
    // Appends `count` bytes of the entry's data, which stand for `originalCount` bytes of the
    // original data. Refusals as WriteNewEntry, checked exactly before anything is written.
    // `encrypted`: the bytes were encrypted with the cipher given to OpenPrecompressedEntry
    // (from its first byte on, nothing written of the entry in between) and go out as they are.
    bool WritePrecompressedData(const void* data, std::size_t count, std::uint64_t originalCount,
                                bool encrypted = false);
    // Finishes it: `crc` is the CRC-32 of the original data. Refusals as CloseNewEntry. `mac`:
    // the authentication code of data that arrived encrypted (else the archive's cipher's).
    bool ClosePrecompressedEntry(std::uint32_t crc, const std::array<unsigned char, kAesMacLength>* mac = nullptr);
    // Why the last OpenNewEntry / WriteNewEntry / CloseNewEntry / AddFile answered false
    // because of a limit; ZipRefusal::None after any other answer.
    ZipRefusal LastRefusal() const { return lastRefusal_; }
    // Adds the file or folder at `path` (its size at opening is the expected size): entry name = the part after the last '/' (fullPath
    // false) or the whole path without leading '/' with '\' separators. Read in chunks of
    // `bufferSize`. False (archive unchanged): bufferSize 0, empty name, the file cannot be
    // opened, OpenNewEntry false, a limit (LastRefusal), or `progress` answered false.
    bool AddFile(const std::string& path, int level = -1, bool fullPath = true,
                 ZipProgressCallback progress = nullptr, void* userData = nullptr,
                 std::size_t bufferSize = 65535);

    // ---- Deleting ----

    // Removes entry `index`, compacting the file in place. False: closed, read-only or
    // multi-volume archive, an entry open, index out of range.
    bool DeleteEntry(int index);
    // Removes the entries at `indices` (duplicates and out-of-range indices ignored) in one
    // pass over the file. Nothing happens in the cases where DeleteEntry answers false. A
    // layout that cannot be compacted safely (entries sharing or overrunning data) throws
    // CZipException 10 before anything changes; a short read while moving data throws 2.
    void DeleteEntries(const std::vector<int>& indices);
    // Removes the folder entry `folderName` (ignoring case) and every entry whose name begins
    // with `folderName` + '\' (ignoring case).
    void DeleteFolder(std::string_view folderName);

    // ---- Limits ----

    // Lowers the limits and the classic fields' ends (for tests); values above the defaults
    // are clamped.
    void SetLimits(const ZipLimits& limits);
    const ZipLimits& GetLimits() const { return limits_; }

private:
    // CloseEntry, the target's time and permissions set through `fd` when it is open (>= 0),
    // else through targetPath when that is given.
    [[nodiscard]] CloseEntryResult CloseEntryAt(int fd, const std::string& targetPath,
                                                std::optional<platform::FileTime> exactTime);
    // ExtractEntryAt for a link entry.
    bool ExtractLinkAt(int index, int folder, const std::string& name, const std::string& shownPath,
                       ZipProgressCallback progress, void* userData, std::optional<platform::FileTime> exactTime);
    bool BeginNewEntry(const ZipEntryHeader& header, int level, const std::string& sourcePath, bool precompressed,
                       AesCipherMaker::Made* aes = nullptr);
    // The end of every written entry: last limit check, CRC and sizes into its headers.
    bool FinishNewEntry();
    bool Refuse(ZipRefusal why);
    ZipRefusal CheckNewEntrySizes(std::uint64_t uncompressed, std::uint64_t compressed) const;
    void WriteOut(std::size_t count);  // ioBuffer_ -> storage
    // One deflate call into ioBuffer_, writing the buffer out first when it is full; `refusal`
    // is set (and nothing deflated) when what was written passes a limit.
    int DeflateStep(int flush, ZipRefusal& refusal);
    void AbandonAfterError() noexcept;
    void ReleaseReadEntry() noexcept;
    void ReleaseAll() noexcept;
    void ConsumeRemainingInput();
    void SkipUnreadData();
    // Reads `count` bytes of the open entry's data into ioBuffer_, decrypted when it is.
    void ReadData(std::size_t count);
    // ReadEntry's one-step inflate of the whole entry into `out` (room for all of it): true
    // when delivered; false when the stream needs zlib's answer, which then reads the
    // compressed bytes from wholeInput_.
    bool InflateWhole(unsigned char* out);
    // Reading: sets up aes_ for the AES entry just opened (salt and verifier read); its data
    // then starts at the storage's position.
    void StartAesRead(int index, const ZipEntryHeader& entry, const AesExtra& fields);
    // Reading: asks for the keys of the AES entries after `index` to be derived ahead.
    void PrefetchAesKeysAfter(int index, const std::string& password);
    std::string PasswordForReading() const;

    ZipVolumeStorage storage_;
    mutable ZipCatalog catalog_;  // (queries may bring spooled entries back into memory)
    enum class EntryState { None, Writing, Reading };
    EntryState entryState_ = EntryState::None;
    std::unique_ptr<unsigned char[]> ioBuffer_;
    ZlibStream stream_;
    std::uint32_t runningCrc_ = 0;
    std::uint64_t bytesToRead_ = 0;     // reading: compressed bytes not yet read
    std::uint64_t bytesToDeliver_ = 0;  // reading: uncompressed bytes not yet delivered
    std::size_t inputPosition_ = 0;     // reading stored data: next byte in ioBuffer_
    std::size_t inputAvailable_ = 0;    // reading stored data: bytes left in ioBuffer_
    std::uint64_t dataStart_ = 0;       // reading: file position of the entry's data
    bool streamEnded_ = false;          // reading: the deflate stream reached its end
    std::size_t pendingOut_ = 0;        // writing: bytes waiting in ioBuffer_
    std::uint64_t bytesIn_ = 0;         // writing: uncompressed bytes taken
    std::uint64_t bytesWritten_ = 0;    // writing: compressed bytes handed to the storage
    std::uint64_t entryStart_ = 0;      // writing: stored offset of the local header
    bool entryZip64Local_ = false;      // writing: the local header has 64-bit sizes
    std::uint64_t localHeaderSize_ = 0; // writing
    bool precompressed_ = false;        // writing: the data arrives compressed already
    std::uint16_t dataMethod_ = 0;      // the open entry's real method (0 or 8)
    std::string password_;
    std::unique_ptr<AesEntryCipher> aes_;  // the open entry's cipher when it is encrypted
    std::unique_ptr<AesCipherMaker> cipherMaker_;  // writing: begun with the first encrypted entry
    std::unique_ptr<AesKeyPrefetcher> keyPrefetcher_;  // reading: begun with the second AES entry read
    bool aesEntryRead_ = false;         // reading: an AES entry of this archive was opened
    bool keyPrefetch_ = true;
    bool aesCrc_ = false;               // reading: the AES entry keeps a CRC to check
    std::vector<unsigned char> cryptBuffer_;  // writing precompressed data encrypted
    std::vector<unsigned char> wholeInput_;   // reading: the compressed bytes inflated in one step
    bool arrivesEncrypted_ = false;     // writing: precompressed data came encrypted already
    std::optional<std::array<unsigned char, kAesMacLength>> givenMac_;  // writing: its code
    ZipLimits limits_;
    ZipRefusal lastRefusal_ = ZipRefusal::None;
    std::string emptyPath_;
};

}  // namespace halvex
