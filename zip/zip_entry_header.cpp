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

}  // namespace

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

bool ZipEntryHeader::PrepareForWrite(int level, bool creatingSpan) {
    signature = kCentralHeaderSignature;
    internalAttributes = 0;
    storedName.clear();  // written as UTF-8
    versionMadeBy = 20;
    versionNeeded = 20;
    if ((externalAttributes >> 16) != 0) versionMadeBy |= kZipMadeByUnix;
    crc32 = 0;
    compressedSize = 0;
    uncompressedSize = 0;
    if (level == 0 || IsFolder()) method = 0;
    else if (method != 0 && method != 8) method = 8;
    flags = method == 8 ? DeflateOptionFlags(level) : 0;
    if (creatingSpan) flags |= kFlagDataDescriptor;
    if (!IsPureAscii(fileName)) flags |= kFlagUtf8Name;
    return fileName.size() <= kMaxField && extraField.size() <= kMaxField &&
           comment.size() <= kMaxField;
}

std::string ZipEntryHeader::DiskFileName() const {
    if (!storedName.empty()) return storedName;
    std::string name = fileName;
    std::replace(name.begin(), name.end(), '\\', '/');
    return name;
}

void ZipEntryHeader::AppendSharedFields(std::string& out, std::size_t diskNameLength) const {
    PutLe16(out, versionNeeded);
    PutLe16(out, flags);
    PutLe16(out, method);
    PutLe16(out, modTime);
    PutLe16(out, modDate);
    PutLe32(out, crc32);
    PutLe32(out, compressedSize);
    PutLe32(out, uncompressedSize);
    PutLe16(out, static_cast<std::uint16_t>(diskNameLength));
    PutLe16(out, static_cast<std::uint16_t>(extraField.size()));
}

std::string ZipEntryHeader::BuildLocalHeader() const {
    std::string name = DiskFileName();
    std::string out;
    out.reserve(kLocalHeaderSize + name.size() + extraField.size());
    PutLe32(out, kLocalHeaderSignature);
    AppendSharedFields(out, name.size());
    out += name;
    out += extraField;
    return out;
}

void ZipEntryHeader::AppendCentralRecord(std::string& out) const {
    std::string name = DiskFileName();
    PutLe32(out, kCentralHeaderSignature);
    PutLe16(out, versionMadeBy);
    AppendSharedFields(out, name.size());
    PutLe16(out, static_cast<std::uint16_t>(comment.size()));
    PutLe16(out, diskStart);
    PutLe16(out, internalAttributes);
    PutLe32(out, externalAttributes);
    PutLe32(out, localHeaderOffset);
    out += name;
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
    const char* text = reinterpret_cast<const char*>(p + kCentralHeaderSize);
    fileName.assign(text, nameLength);
    storedName.clear();
    // Without the UTF-8 flag a name is code page 437 by the zip format (the DOS and Windows
    // tools' names). Our own archives flag every name that is not pure ASCII, and zip tools on
    // Unix-like systems store the system's own name bytes: those are taken as they are.
    const int host = versionMadeBy >> 8;
    const bool unixHost = host == 3 || host == 19;
    if ((flags & kFlagUtf8Name) == 0 && !unixHost && !IsPureAscii(fileName)) {
        storedName = fileName;
        fileName = UnicodePathOf(extraField, storedName).value_or(CodePage437ToUtf8(storedName));
    }
    std::replace(fileName.begin(), fileName.end(), '/', '\\');
    extraField.assign(text + nameLength, extraLength);
    comment.assign(text + nameLength + extraLength, commentLength);
    return total;
}

}  // namespace halvex
