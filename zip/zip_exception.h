// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The zip layer's error: a damaged or unsupported archive, a CRC mismatch, a compressor
// failure or a refused volume operation. Operating-system failures of the file calls are
// not translated; they arrive as platform::FileError.
#include <exception>
#include <string>

namespace halvex {

// Error codes carried by CZipException. No other codes occur.
enum ZipErrorCode : int {
    kZipBadDeleteCount = 2,    // deletion: bytes moved while compacting differ from those expected
    kZipZlibErrno = 4,         // zlib Z_ERRNO
    kZipZlibStreamError = 5,   // zlib Z_STREAM_ERROR
    kZipZlibDataError = 6,     // zlib Z_DATA_ERROR
    kZipZlibMemError = 7,      // zlib Z_MEM_ERROR
    kZipZlibBufError = 8,      // zlib Z_BUF_ERROR
    kZipZlibVersionError = 9,  // zlib Z_VERSION_ERROR
    kZipDamaged = 10,          // damaged or unsupported archive (also: a span volume that cannot exist)
    kZipBadCrc = 11,           // CRC-32 of a fully read entry differs from the stored one
    kZipNoVolumeCallback = 12, // removable-disk spanning without a volume callback
    kZipVolumeAborted = 13,    // the volume callback answered stop
    kZipNotRemovable = 14,     // removable-disk spanning on a drive that is not removable
    kZipTooManyVolumes = 15,   // a thousandth volume would be needed
    kZipFieldTooLong = 16,     // name, extra field or comment of a new entry over 65,535 bytes
    kZipNoEndRecord = 18,      // no end of central directory record in the last 65,557 bytes
};

// Thrown by value, caught by reference. `fileName` is the path of the archive file concerned,
// empty when the archive was already closed.
class CZipException : public std::exception {
public:
    CZipException(int code, std::string fileName) : code(code), fileName(std::move(fileName)) {}

    // The exception has no message text of its own: callers choose what to tell the user.
    // Always answers false and leaves `message` empty.
    bool GetErrorMessage(std::string& message) const {
        message.clear();
        return false;
    }
    // The run-time class name (not a message for users).
    const char* what() const noexcept override { return "CZipException"; }

    int code;
    std::string fileName;
};

// Raises CZipException with `code` for the archive at `path` ("" when it is closed).
[[noreturn]] void RaiseZipError(int code, const std::string& path);

// Raises the code that matches a negative zlib result (Z_ERRNO .. Z_VERSION_ERROR -> 4 .. 9).
[[noreturn]] void RaiseZlibError(int zlibResult, const std::string& path);

}  // namespace halvex
