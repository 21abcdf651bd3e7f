// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The zip layer's error: a damaged or unsupported archive, a CRC mismatch, a compressor
// failure or a refused volume operation. Operating-system failures of the file calls are
// not translated; they arrive as platform::FileError. DescribeError words either kind (and any
// other exception) for a message.
#include <exception>
#include <string>

namespace halvex {

// Error codes carried by CZipException. No other codes occur. The numbers are shown to users
// (messages, the verify listing), so they stay as they are.
enum class ZipErrorCode : int {
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
    kZipNoPassword = 19,       // an AES-encrypted entry read without a password
    kZipBadPassword = 20,      // the password does not open an AES-encrypted entry
};
using enum ZipErrorCode;

// What a code means, for a message: "the data does not match its checksum (CRC)".
const char* ZipErrorMeaning(ZipErrorCode code);

// Thrown by value, caught by reference. `fileName` is the path of the archive file concerned,
// empty when the archive was already closed. what() is a whole message with its context:
// "Error 11 in archive /b/Job2.TQBak: the data does not match its checksum (CRC)."
class CZipException : public std::exception {
public:
    CZipException(ZipErrorCode code, std::string fileName);

    // Copies what() into `message`; always true (every code has a text).
    bool GetErrorMessage(std::string& message) const {
        message = message_;
        return true;
    }
    const char* what() const noexcept override { return message_.c_str(); }

    ZipErrorCode code;
    std::string fileName;

private:
    std::string message_;
};

// Raises CZipException with `code` for the archive at `path` ("" when it is closed).
[[noreturn]] void RaiseZipError(ZipErrorCode code, const std::string& path);

// Raises the code that matches a negative zlib result (Z_ERRNO .. Z_VERSION_ERROR -> 4 .. 9).
[[noreturn]] void RaiseZlibError(int zlibResult, const std::string& path);
// The zlib result a code from RaiseZlibError was raised for (Z_ERRNO .. Z_VERSION_ERROR).
int ZlibResultOf(ZipErrorCode code);

// The one text for any error that reaches a message: a zip error's what(), an operating
// system's refusal as "Could not open '/d/a.txt': Permission denied.", exhausted memory as
// "Not enough memory.", anything else as "Unexpected error: <what>.".
std::string DescribeError(const std::exception& error);

}  // namespace halvex
