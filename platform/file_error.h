// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The operating system's refusal of a file operation, carrying the path concerned and errno.
#include <exception>
#include <string>

namespace halvex::platform {

class FileError : public std::exception {
public:
    FileError(std::string operation, std::string path, int osError);

    const std::string& operation() const noexcept { return operation_; }
    const std::string& path() const noexcept { return path_; }
    int osError() const noexcept { return osError_; }
    const char* what() const noexcept override { return message_.c_str(); }

private:
    std::string operation_;
    std::string path_;
    int osError_;
    std::string message_;
};

// The errno of an open refused because the path is there but is not a regular file (a fifo,
// device, socket or folder). The system itself never uses this value.
inline constexpr int kNotRegularFile = 0x4E52;

// The system's text for an errno, and "not a regular file" for kNotRegularFile.
std::string OsErrorText(int osError);

// Throws FileError for the current errno.
[[noreturn]] void ThrowFileError(const std::string& operation, const std::string& path);

}  // namespace halvex::platform
