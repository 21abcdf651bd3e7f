// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/file_error.h"

#include <cerrno>
#include <cstring>

namespace halvex::platform {

FileError::FileError(std::string operation, std::string path, int osError)
    : operation_(std::move(operation)), path_(std::move(path)), osError_(osError) {
    message_ = operation_ + " '" + path_ + "': " + OsErrorText(osError_);
}

std::string OsErrorText(int osError) {
    if (osError == kNotRegularFile) return "not a regular file";
    return std::strerror(osError);
}

void ThrowFileError(const std::string& operation, const std::string& path) {
    throw FileError(operation, path, errno);
}

}  // namespace halvex::platform
