#include "zip/zip_entry_header.h"

#include <algorithm>

#include "zip/dos_time.h"
#include "zip/zip_bytes.h"

namespace halvex {
namespace {

constexpr std::size_t kMaxField = 65535;

bool IsPureAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
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

bool ZipEntryHeader::PrepareForWrite(int level, bool creatingSpan) {
    signature = kCentralHeaderSignature;
    internalAttributes = 0;
    versionMadeBy = 20;
    versionNeeded = 20;
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
    std::replace(fileName.begin(), fileName.end(), '/', '\\');
    extraField.assign(text + nameLength, extraLength);
    comment.assign(text + nameLength + extraLength, commentLength);
    return total;
}

}  // namespace halvex
