// SPDX-License-Identifier: GPL-3.0-or-later
#include "zip/zip_entry_header.h"

#include <algorithm>
#include <optional>
#include <zlib.h>

#include "platform/file_attributes.h"
#include "zip/dos_time.h"
#include "zip/zip_bytes.h"

namespace halvex {
namespace {

constexpr std::size_t kMaxField = 65535;

bool IsPureAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// Bytes 0x80-0xFF of code page 437, the code page of names that other tools store without
// the UTF-8 flag.
constexpr char16_t kCodePage437High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192,
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,
    0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556,
    0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229,
    0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};

// A code page 437 name as UTF-8 (the names of this platform).
std::string CodePage437ToUtf8(std::string_view name) {
    std::string out;
    out.reserve(name.size() * 3);
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            out += c;
            continue;
        }
        const char16_t code = kCodePage437High[byte - 0x80];
        if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
        } else {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        }
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
    return out;
}

// The UTF-8 name of an Info-ZIP Unicode path field (id 0x7075: version 1, CRC-32 of the
// stored name, the name) in `extra`, when the field is whole and made for `storedName`.
std::optional<std::string> UnicodePathOf(std::string_view extra, std::string_view storedName) {
    const auto* p = reinterpret_cast<const unsigned char*>(extra.data());
    for (std::size_t at = 0; at + 4 <= extra.size();) {
        const std::size_t size = GetLe16(p + at + 2);
        if (at + 4 + size > extra.size()) break;
        if (GetLe16(p + at) == 0x7075 && size > 5 && p[at + 4] == 1) {
            const auto crc = static_cast<std::uint32_t>(
                ::crc32(0, reinterpret_cast<const Bytef*>(storedName.data()), static_cast<uInt>(storedName.size())));
            if (GetLe32(p + at + 5) != crc) return std::nullopt;
            return std::string(extra.substr(at + 9, size - 5));
        }
        at += 4 + size;
    }
    return std::nullopt;
}

// Deflate option bits 1-2 for a compression level.
std::uint16_t DeflateOptionFlags(int level) {
    switch (level) {
        case 1: return 6;
        case 2: return 4;
        case 8:
        case 9: return 2;
        default: return 0;
    }
}

// Calls fn(id, data, size) for each whole block of an extra field; answers the offset where
// the walk stopped (the length when every block was whole).
template <typename Fn>
std::size_t ForEachExtraBlock(std::string_view extra, Fn&& fn) {
    const auto* p = reinterpret_cast<const unsigned char*>(extra.data());
    std::size_t at = 0;
    while (at + 4 <= extra.size()) {
        const std::size_t size = GetLe16(p + at + 2);
        if (size > extra.size() - at - 4) break;
        if (!fn(GetLe16(p + at), p + at + 4, size, at)) break;
        at += 4 + size;
    }
    return at;
}

std::uint32_t Classic32(std::uint64_t value, std::uint64_t classicMax) {
    return value > classicMax ? kZip64Marker32 : static_cast<std::uint32_t>(value);
}

}  // namespace

bool ReadZip64Values(std::string_view extra, std::span<std::uint64_t* const> marked) {
    if (marked.size() == 0) return true;
    bool found = false;
    ForEachExtraBlock(extra, [&](std::uint16_t id, const unsigned char* data, std::size_t size, std::size_t) {
        if (id != kZip64ExtraId) return true;
        if (size < 8 * marked.size()) return false;
        std::size_t at = 0;
        for (std::uint64_t* value : marked) {
            *value = GetLe64(data + at);
            at += 8;
        }
        found = true;
        return false;
    });
    return found;
}

std::string WithoutZip64Blocks(std::string_view extra) {
    std::string kept;
    const std::size_t end = ForEachExtraBlock(extra, [&](std::uint16_t id, const unsigned char*, std::size_t size,
                                                         std::size_t at) {
        if (id != kZip64ExtraId) kept.append(extra.substr(at, 4 + size));
        return true;
    });
    kept.append(extra.substr(end));
    return kept;
}

std::size_t ZipEntryHeader::Zip64CentralBlockSize(std::uint64_t uncompressed, std::uint64_t compressed,
                                                  std::uint64_t offset, std::uint64_t classicMax) {
    const std::size_t values = (uncompressed > classicMax) + (compressed > classicMax) + (offset > classicMax);
    return values == 0 ? 0 : 4 + 8 * values;
}

void ZipEntryHeader::SetTime(const platform::SystemTime& local) {
    DosDateTime dos = SystemTimeToDos(local);
    modDate = dos.date;
    modTime = dos.time;
}

platform::SystemTime ZipEntryHeader::GetTime() const {
    return DosToSystemTime(DosDateTime{modDate, modTime});
}

void ZipEntryHeader::SetFileTime(platform::FileTime fileTime) {
    DosDateTime dos = FileTimeToDos(fileTime);
    modDate = dos.date;
    modTime = dos.time;
}

platform::FileTime ZipEntryHeader::GetFileTime() const {
    return DosToFileTime(DosDateTime{modDate, modTime});
}

void ZipEntryHeader::SetAttributesFromMode(std::uint32_t mode) {
    externalAttributes = platform::AttributesFromMode(static_cast<mode_t>(mode)) |
                         (((mode & kUnixTypeMask) | (mode & kUnixPermissionBits)) << 16);
}

std::optional<std::uint32_t> ZipEntryHeader::UnixPermissions() const {
    if ((versionMadeBy & 0xFF00) != kZipMadeByUnix) return std::nullopt;
    const std::uint32_t mode = externalAttributes >> 16;
    const std::uint32_t type = mode & kUnixTypeMask;
    if (mode == 0 || (type != 0 && type != (IsFolder() ? kUnixTypeFolder : kUnixTypeFile))) return std::nullopt;
    return mode & kUnixPermissionBits;
}

bool ZipEntryHeader::PrepareForWrite(int level, bool creatingSpan, bool withZip64Local) {
    signature = kCentralHeaderSignature;
    internalAttributes = 0;
    storedName.clear();  // written as UTF-8
    versionMadeBy = 20;
    versionNeeded = withZip64Local ? kZip64VersionNeeded : 20;
    zip64Local = withZip64Local;
    extraField = WithoutZip64Blocks(extraField);
    if ((externalAttributes >> 16) != 0) versionMadeBy |= kZipMadeByUnix;
    crc32 = 0;
    compressedSize = 0;
    uncompressedSize = 0;
    if (level == 0 || IsFolder()) method = 0;
    else if (method != 0 && method != 8) method = 8;
    flags = method == 8 ? DeflateOptionFlags(level) : 0;
    if (creatingSpan) flags |= kFlagDataDescriptor;
    if (!IsPureAscii(fileName)) flags |= kFlagUtf8Name;
    // The local header's extra field carries the zip64 block besides the caller's.
    return fileName.size() <= kMaxField && extraField.size() + (withZip64Local ? 20 : 0) <= kMaxField &&
           comment.size() <= kMaxField;
}

std::string ZipEntryHeader::DiskFileName() const {
    if (!storedName.empty()) return std::string(storedName);
    std::string name = fileName;
    std::replace(name.begin(), name.end(), '\\', '/');
    return name;
}

void ZipEntryHeader::AppendSharedFields(std::string& out, std::uint16_t version, std::uint32_t compressed,
                                        std::uint32_t uncompressed, std::size_t diskNameLength,
                                        std::size_t extraLength) const {
    PutLe16(out, version);
    PutLe16(out, flags);
    PutLe16(out, method);
    PutLe16(out, modTime);
    PutLe16(out, modDate);
    PutLe32(out, crc32);
    PutLe32(out, compressed);
    PutLe32(out, uncompressed);
    PutLe16(out, static_cast<std::uint16_t>(diskNameLength));
    PutLe16(out, static_cast<std::uint16_t>(extraLength));
}

std::string ZipEntryHeader::BuildLocalHeader() const {
    std::string name = DiskFileName();
    std::string zip64;
    if (zip64Local) {
        // Both sizes, whatever they turn out to be: they are patched once the data is written.
        PutLe16(zip64, kZip64ExtraId);
        PutLe16(zip64, 16);
        PutLe64(zip64, uncompressedSize);
        PutLe64(zip64, compressedSize);
    }
    std::string out;
    out.reserve(kLocalHeaderSize + name.size() + zip64.size() + extraField.size());
    PutLe32(out, kLocalHeaderSignature);
    AppendSharedFields(out, versionNeeded, zip64Local ? kZip64Marker32 : static_cast<std::uint32_t>(compressedSize),
                       zip64Local ? kZip64Marker32 : static_cast<std::uint32_t>(uncompressedSize), name.size(),
                       zip64.size() + extraField.size());
    out += name;
    out += zip64;
    out += extraField;
    return out;
}

void ZipEntryHeader::AppendCentralRecord(std::string& out, std::uint64_t classicMax) const {
    std::string name = DiskFileName();
    std::string zip64;
    if (Zip64CentralBlockSize(uncompressedSize, compressedSize, localHeaderOffset, classicMax) > 0) {
        std::string values;
        for (std::uint64_t value : {uncompressedSize, compressedSize, localHeaderOffset})
            if (value > classicMax) PutLe64(values, value);
        PutLe16(zip64, kZip64ExtraId);
        PutLe16(zip64, static_cast<std::uint16_t>(values.size()));
        zip64 += values;
    }
    const bool needs45 = zip64Local || !zip64.empty();
    PutLe32(out, kCentralHeaderSignature);
    PutLe16(out, versionMadeBy);
    AppendSharedFields(out, needs45 ? std::max(versionNeeded, kZip64VersionNeeded) : versionNeeded,
                       Classic32(compressedSize, classicMax), Classic32(uncompressedSize, classicMax), name.size(),
                       zip64.size() + extraField.size());
    PutLe16(out, static_cast<std::uint16_t>(comment.size()));
    PutLe16(out, diskStart);
    PutLe16(out, internalAttributes);
    PutLe32(out, externalAttributes);
    PutLe32(out, Classic32(localHeaderOffset, classicMax));
    out += name;
    out += zip64;
    out += extraField;
    out += comment;
}

std::size_t ZipEntryHeader::ParseCentralRecord(const unsigned char* p, std::size_t available) {
    if (available < kCentralHeaderSize || GetLe32(p) != kCentralHeaderSignature) return 0;
    std::size_t nameLength = GetLe16(p + 28);
    std::size_t extraLength = GetLe16(p + 30);
    std::size_t commentLength = GetLe16(p + 32);
    std::size_t total = kCentralHeaderSize + nameLength + extraLength + commentLength;
    if (total > available) return 0;
    signature = kCentralHeaderSignature;
    versionMadeBy = GetLe16(p + 4);
    versionNeeded = GetLe16(p + 6);
    flags = GetLe16(p + 8);
    method = GetLe16(p + 10);
    modTime = GetLe16(p + 12);
    modDate = GetLe16(p + 14);
    crc32 = GetLe32(p + 16);
    compressedSize = GetLe32(p + 20);
    uncompressedSize = GetLe32(p + 24);
    diskStart = GetLe16(p + 34);
    internalAttributes = GetLe16(p + 36);
    externalAttributes = GetLe32(p + 38);
    localHeaderOffset = GetLe32(p + 42);
    zip64Local = false;
    const char* text = reinterpret_cast<const char*>(p + kCentralHeaderSize);
    const std::string_view extra(text + nameLength, extraLength);
    fileName.assign(text, nameLength);
    storedName.clear();
    // Without the UTF-8 flag a name is code page 437 by the zip format (the DOS and Windows
    // tools' names). Our own archives flag every name that is not pure ASCII, and zip tools on
    // Unix-like systems store the system's own name bytes: those are taken as they are.
    const int host = versionMadeBy >> 8;
    const bool unixHost = host == 3 || host == 19;
    if ((flags & kFlagUtf8Name) == 0 && !unixHost && !IsPureAscii(fileName)) {
        storedName = fileName;
        fileName = UnicodePathOf(extra, storedName).value_or(CodePage437ToUtf8(storedName));
    }
    std::replace(fileName.begin(), fileName.end(), '/', '\\');
    std::uint64_t* marked[3];
    std::size_t count = 0;
    if (uncompressedSize == kZip64Marker32) marked[count++] = &uncompressedSize;
    if (compressedSize == kZip64Marker32) marked[count++] = &compressedSize;
    if (localHeaderOffset == kZip64Marker32) marked[count++] = &localHeaderOffset;
    if (!ReadZip64Values(extra, std::span<std::uint64_t* const>(marked, count))) return 0;
    extraField = WithoutZip64Blocks(extra);
    comment.assign(text + nameLength + extraLength, commentLength);
    return total;
}

}  // namespace halvex
