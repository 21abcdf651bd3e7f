// SPDX-License-Identifier: GPL-3.0-or-later
#include "zip/zip_exception.h"

#include <cstring>
#include <new>

#include "platform/file_error.h"

namespace halvex {

const char* ZipErrorMeaning(ZipErrorCode code) {
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
        case kZipNoPassword: return "the archive is encrypted and no password was given";
        case kZipBadPassword: return "wrong password";
    }
    return "unknown zip error";
}

CZipException::CZipException(ZipErrorCode code, std::string fileName) : code(code), fileName(std::move(fileName)) {
    message_ = "Error " + std::to_string(static_cast<int>(code));
    if (!this->fileName.empty()) message_ += " in archive " + this->fileName;
    message_ += ": ";
    message_ += ZipErrorMeaning(code);
    message_ += '.';
}

void RaiseZipError(ZipErrorCode code, const std::string& path) { throw CZipException(code, path); }

void RaiseZlibError(int zlibResult, const std::string& path) {
    // Z_ERRNO (-1) .. Z_VERSION_ERROR (-6) map to 4 .. 9; zlib has no other negative results,
    // but an unexpected one is still a stream failure rather than success.
    const ZipErrorCode code =
        (zlibResult <= -1 && zlibResult >= -6) ? static_cast<ZipErrorCode>(3 - zlibResult) : kZipZlibStreamError;
    RaiseZipError(code, path);
}

int ZlibResultOf(ZipErrorCode code) { return 3 - static_cast<int>(code); }

std::string DescribeError(const std::exception& error) {
    if (dynamic_cast<const CZipException*>(&error) != nullptr) return error.what();
    if (const auto* file = dynamic_cast<const platform::FileError*>(&error))
        return "Could not " + file->operation() + " '" + file->path() + "': " + platform::OsErrorText(file->osError()) + ".";
    if (dynamic_cast<const std::bad_alloc*>(&error) != nullptr) return "Not enough memory.";
    return std::string("Unexpected error: ") + error.what() + ".";
}

}  // namespace halvex
