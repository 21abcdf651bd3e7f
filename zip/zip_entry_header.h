// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One archive entry's header: the fields of its central directory record, held in memory.
// The catalog owns one per entry; callers fill one for OpenNewEntry and get copies from
// GetEntryInfo.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/file_time.h"
#include "platform/local_time.h"

namespace halvex {

// General purpose flag bits.
inline constexpr std::uint16_t kFlagEncrypted = 0x0001;
inline constexpr std::uint16_t kFlagDataDescriptor = 0x0008;
inline constexpr std::uint16_t kFlagUtf8Name = 0x0800;  // the name is not pure ASCII (UTF-8)

// Windows file attributes kept in externalAttributes.
inline constexpr std::uint32_t kZipAttrReadOnly = 0x01;
inline constexpr std::uint32_t kZipAttrDirectory = 0x10;
inline constexpr std::uint32_t kZipAttrArchive = 0x20;

// Fills the values whose classic field held the zip64 marker from the zip64 block of `extra`,
// in the block's fixed order (uncompressed size, compressed size, offset; the caller passes
// only the marked ones). False when no zip64 block holds them all.
bool ReadZip64Values(std::string_view extra, std::span<std::uint64_t* const> marked);
// `extra` without its zip64 blocks (blocks that run past the end are kept as they are).
std::string WithoutZip64Blocks(std::string_view extra);
// Unix modes travel in the high 16 bits of externalAttributes (file type and the 0777
// permission bits), with the high byte of versionMadeBy naming Unix as their maker.
inline constexpr std::uint16_t kZipMadeByUnix = 3 << 8;
inline constexpr std::uint32_t kUnixTypeMask = 0170000;
inline constexpr std::uint32_t kUnixTypeFolder = 0040000;
inline constexpr std::uint32_t kUnixTypeFile = 0100000;
inline constexpr std::uint32_t kUnixTypeLink = 0120000;
inline constexpr std::uint32_t kUnixPermissionBits = 0777;

// Bytes that are empty for nearly every entry (extra fields, comments): one pointer while
// empty, so a catalog of many entries does not pay a whole string for each of them.
class CompactBytes {
public:
    CompactBytes() = default;
    CompactBytes(const CompactBytes& other) { *this = std::string_view(other); }
    CompactBytes(CompactBytes&&) noexcept = default;
    CompactBytes& operator=(const CompactBytes& other) {
        if (this != &other) *this = std::string_view(other);
        return *this;
    }
    CompactBytes& operator=(CompactBytes&&) noexcept = default;
    CompactBytes& operator=(std::string_view bytes) {
        if (bytes.empty()) {
            text_.reset();
        } else if (text_) {
            text_->assign(bytes.data(), bytes.size());
        } else {
            text_ = std::make_unique<std::string>(bytes);
        }
        return *this;
    }
    CompactBytes& operator=(const std::string& bytes) { return *this = std::string_view(bytes); }
    CompactBytes& operator=(const char* bytes) { return *this = std::string_view(bytes); }
    CompactBytes& operator=(std::string&& bytes) {
        if (bytes.empty()) {
            text_.reset();
        } else {
            text_ = std::make_unique<std::string>(std::move(bytes));
        }
        return *this;
    }
    CompactBytes& operator+=(std::string_view bytes) {
        if (!bytes.empty()) Text().append(bytes.data(), bytes.size());
        return *this;
    }
    void assign(std::size_t count, char byte) { *this = std::string(count, byte); }
    void assign(const char* bytes, std::size_t count) { *this = std::string_view(bytes, count); }
    void clear() noexcept { text_.reset(); }

    bool empty() const noexcept { return !text_ || text_->empty(); }
    std::size_t size() const noexcept { return text_ ? text_->size() : 0; }
    const char* data() const noexcept { return text_ ? text_->data() : ""; }
    operator std::string_view() const noexcept { return std::string_view(data(), size()); }
    explicit operator std::string() const { return std::string(data(), size()); }
    friend bool operator==(const CompactBytes& a, std::string_view b) { return std::string_view(a) == b; }

private:
    std::string& Text() {
        if (!text_) text_ = std::make_unique<std::string>();
        return *text_;
    }
    std::unique_ptr<std::string> text_;
};

class ZipEntryHeader {
public:
    std::uint32_t signature = 0;  // central header signature once prepared for writing
    std::uint16_t versionMadeBy = 20;
    std::uint16_t versionNeeded = 20;
    std::uint16_t flags = 0;
    std::uint16_t method = 8;  // 0 stored, 8 deflated
    std::uint16_t modTime = 0; // DOS time (local)
    std::uint16_t modDate = 0; // DOS date (local); 0 means "not set"
    std::uint32_t crc32 = 0;
    // 64-bit: values past the classic 32-bit fields are stored in a zip64 extra block. Given to
    // OpenNewEntry, uncompressedSize is the expected size of the data (0 when unknown).
    std::uint64_t compressedSize = 0;
    std::uint64_t uncompressedSize = 0;
    std::uint16_t diskStart = 0;
    std::uint16_t internalAttributes = 0;
    std::uint32_t externalAttributes = kZipAttrArchive;
    std::uint64_t localHeaderOffset = 0;  // less the bytes before the archive
    // Other extra field blocks; the zip64 block is read into the fields above and written anew
    // from them, so it is never kept here.
    CompactBytes extraField;
    std::string fileName;    // bytes without terminator; in memory with '\' separators
    CompactBytes comment;
    // The name's bytes on disk ('/' separators) when they were read as code page 437 or taken
    // from a Unicode path field (fileName then holds the UTF-8 name); empty for every other
    // name. A directory written back keeps these bytes, so it matches the local headers.
    CompactBytes storedName;
    // Writing: the local header has room for 64-bit sizes (a zip64 block, both classic size
    // fields set to their marker).
    bool zip64Local = false;

    // Copies `name` into fileName (an empty name empties it).
    void SetFileName(std::string_view name) {
        fileName.assign(name.data(), name.size());
        storedName.clear();
    }
    std::string GetFileName() const { return fileName; }

    // Modification time as a local calendar time (DOS resolution).
    void SetTime(const platform::SystemTime& local);
    platform::SystemTime GetTime() const;
    // The same through a file time (UTC), converted with the local time zone.
    void SetFileTime(platform::FileTime fileTime);
    platform::FileTime GetFileTime() const;

    bool IsEncrypted() const { return (flags & kFlagEncrypted) != 0; }
    bool HasDataDescriptor() const { return (flags & kFlagDataDescriptor) != 0; }
    bool IsFolder() const { return (externalAttributes & kZipAttrDirectory) != 0; }

    // Length of the name as its local header must give it.
    std::size_t StoredNameLength() const { return storedName.empty() ? fileName.size() : storedName.size(); }
    // Attributes from a file's Unix mode: the attribute byte (folder, archive, read-only) and,
    // in the high 16 bits, the file type and the 0777 bits (never set-user-ID, set-group-ID or
    // sticky).
    void SetAttributesFromMode(std::uint32_t mode);
    // The 0777 bits the entry carries: only when Unix made it and the mode it records is of the
    // entry's own kind (a folder's for a folder entry, a regular file's otherwise, or bits
    // without a type). Entries of other systems, and links or devices, have none.
    std::optional<std::uint32_t> UnixPermissions() const;
    // A symbolic link: Unix type link and all permission bits in the high 16 bits; its data
    // is the link's target, stored.
    void SetLinkAttributes() { externalAttributes = kZipAttrArchive | ((kUnixTypeLink | kUnixPermissionBits) << 16); }
    // Whether Unix made the entry and records a link; its data is then the link's target.
    bool IsLink() const {
        return (versionMadeBy & 0xFF00) == kZipMadeByUnix && !IsFolder() &&
               ((externalAttributes >> 16) & kUnixTypeMask) == kUnixTypeLink;
    }

    // Size of the central directory record: 46 + name + extra field + comment, and the zip64
    // block when a size or the offset passes `classicMax`.
    std::size_t CentralRecordSize(std::uint64_t classicMax = kClassicMaxValue) const {
        return 46 + StoredNameLength() + extraField.size() + comment.size() +
               Zip64CentralBlockSize(uncompressedSize, compressedSize, localHeaderOffset, classicMax);
    }
    // Bytes of the zip64 block a central record needs for these values (0 when none passes
    // `classicMax`): 4 + 8 for each value that does.
    static std::size_t Zip64CentralBlockSize(std::uint64_t uncompressed, std::uint64_t compressed,
                                             std::uint64_t offset, std::uint64_t classicMax);
    // The largest value the classic 32-bit fields hold (0xFFFFFFFF is the zip64 marker).
    static constexpr std::uint64_t kClassicMaxValue = 0xFFFFFFFEull;

    // --- Record layout (used by the catalog) ---

    // Readies a new header for writing at `level` (-1 compressor default, 0 stored, 1-9):
    // signature, versions 20 (45 with a zip64 local header; made by Unix when it carries a Unix
    // mode), zero CRC and sizes, method and flags. Folders are stored. A zip64 block in the
    // caller's extra field is dropped.
    // False when the name, extra field or comment is longer than 65,535 bytes.
    bool PrepareForWrite(int level, bool creatingSpan, bool withZip64Local = false);
    // The name as stored on disk: every '\' becomes '/' (the code-page conversion is the
    // identity on this platform).
    std::string DiskFileName() const;
    // 30-byte local header + disk name + extra field (led by the zip64 block when zip64Local;
    // its sizes start at offset 30 + name length + 4).
    std::string BuildLocalHeader() const;
    // Appends the 46-byte central record + disk name + extra field (with a zip64 block for
    // the values past `classicMax`) + comment.
    void AppendCentralRecord(std::string& out, std::uint64_t classicMax = kClassicMaxValue) const;
    // Parses one central record from `data` (at most `available` bytes), taking marked values
    // from its zip64 block. Answers the bytes it took, or 0 when the record is not whole, its
    // signature is wrong or a marked value is missing from the zip64 block. A name without the
    // UTF-8 flag that is not pure ASCII and was not made on a Unix-like system is read as
    // UTF-8 from its Unicode path field when that field matches it, else as code page 437.
    std::size_t ParseCentralRecord(const unsigned char* data, std::size_t available);

private:
    // The run of fields that local and central headers share: version needed .. extra length.
    void AppendSharedFields(std::string& out, std::uint16_t version, std::uint32_t compressed,
                            std::uint32_t uncompressed, std::size_t diskNameLength,
                            std::size_t extraLength) const;
};

}  // namespace halvex
