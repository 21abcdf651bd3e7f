// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/file_attributes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace halvex::platform {

std::uint32_t AttributesFromMode(mode_t mode) {
    std::uint32_t attributes = S_ISDIR(mode) ? kAttrDirectory : kAttrArchive;
    if ((mode & S_IWUSR) == 0) attributes |= kAttrReadOnly;
    return attributes;
}

std::optional<std::uint32_t> GetAttributes(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return std::nullopt;
    return AttributesFromMode(st.st_mode);
}

bool SetAttributes(const std::string& path, std::uint32_t attributes) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return false;
    if ((attributes & kAttrReadOnly) == 0) return true;
    mode_t mode = st.st_mode & 07777 & ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH);
    return chmod(path.c_str(), mode) == 0;
}

bool SetAttributes(int fd, std::uint32_t attributes) {
    struct stat st {};
    if (fstat(fd, &st) != 0) return false;
    if ((attributes & kAttrReadOnly) == 0) return true;
    return fchmod(fd, st.st_mode & 07777 & ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

bool SetPermissions(int fd, std::uint32_t permissions) { return fchmod(fd, static_cast<mode_t>(permissions & 0777)) == 0; }

std::optional<mode_t> GetMode(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return std::nullopt;
    return st.st_mode;
}

bool SetPermissions(const std::string& path, std::uint32_t permissions) {
    // Through a descriptor: a link put in the file's place must not pass the bits on to
    // whatever it points to.
    const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    const bool done = fchmod(fd, static_cast<mode_t>(permissions & 0777)) == 0;
    close(fd);
    return done;
}

bool PathExists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

bool IsDirectory(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsRegularFile(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace halvex::platform
