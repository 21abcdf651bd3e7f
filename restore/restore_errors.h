// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The texts the restore shows for errors of the zip layer and of the file system. The zip
// layer's error carries only a code and the archive path, so the restore words them itself.
#include <cstddef>
#include <exception>
#include <string>

#include "platform/file_error.h"
#include "zip/zip_exception.h"

namespace halvex {

// "Error 11 in archive /b/Job2.TQBak: the data does not match its checksum (CRC)."
std::string ZipErrorText(const CZipException& error);
// "Could not create '/d/a.txt': Permission denied."
std::string FileErrorText(const platform::FileError& error);
// Either of the two, or a short text for anything else (memory exhausted and the like).
std::string ErrorText(const std::exception& error);

// `text` shortened to at most `limit` bytes by putting "..." in place of its middle (message
// boxes show at most so much of an error; its start and its end say the most).
std::string LimitText(std::string text, std::size_t limit);

}  // namespace halvex
