// SPDX-License-Identifier: GPL-3.0-or-later
#include "restore/restore_errors.h"

#include <cstring>
#include <new>
#include <string_view>

namespace halvex {

namespace {

const char* ZipErrorMeaning(int code) {
    switch (code) {
    case kZipBadDeleteCount: return "the archive could not be compacted";
    case kZipZlibErrno: return "the compression library reported a file error";
    case kZipZlibStreamError: return "the compression library reported a stream error";
    case kZipZlibDataError: return "the compressed data is damaged";
    case kZipZlibMemError: return "the compression library ran out of memory";
    case kZipZlibBufError: return "the compressed data is damaged or cut short";
    case kZipZlibVersionError: return "the compression library has the wrong version";
    case kZipDamaged: return "the archive is damaged or of an unsupported kind";
    case kZipBadCrc: return "the data does not match its checksum (CRC)";
    case kZipNoVolumeCallback:
    case kZipVolumeAborted:
    case kZipNotRemovable:
    case kZipTooManyVolumes: return "the archive spans several volumes, which cannot be read here";
    case kZipFieldTooLong: return "a name is too long for the archive";
    case kZipNoEndRecord: return "it is not a zip archive, or it has been cut short";
    default: return "unknown zip error";
    }
}

}  // namespace

std::string ZipErrorText(const CZipException& error) {
    std::string text = "Error " + std::to_string(error.code);
    if (!error.fileName.empty()) text += " in archive " + error.fileName;
    text += ": ";
    text += ZipErrorMeaning(error.code);
    text += '.';
    return text;
}

std::string FileErrorText(const platform::FileError& error) {
    return "Could not " + error.operation() + " '" + error.path() + "': " + platform::OsErrorText(error.osError()) + ".";
}

std::string ErrorText(const std::exception& error) {
    if (const auto* zip = dynamic_cast<const CZipException*>(&error)) return ZipErrorText(*zip);
    if (const auto* file = dynamic_cast<const platform::FileError*>(&error)) return FileErrorText(*file);
    if (dynamic_cast<const std::bad_alloc*>(&error) != nullptr) return "Not enough memory.";
    return std::string("Unexpected error: ") + error.what() + ".";
}

std::string LimitText(std::string text, std::size_t limit) {
    if (text.size() <= limit) return text;
    constexpr std::string_view kGap = "...";
    if (limit <= kGap.size()) return std::string(kGap.substr(0, limit));
    // The start says what failed and the end why: the middle of a long path gives way.
    auto boundary = [&](std::size_t at) {  // never in the middle of a UTF-8 character
        while (at > 0 && at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) --at;
        return at;
    };
    const std::size_t room = limit - kGap.size();
    const std::size_t head = boundary(room / 2);
    std::size_t tail = text.size() - (room - head);
    while (tail < text.size() && (static_cast<unsigned char>(text[tail]) & 0xC0) == 0x80) ++tail;
    return text.substr(0, head) + std::string(kGap) + text.substr(tail);
}

}  // namespace halvex
