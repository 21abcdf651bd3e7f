// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/removable_drive.h"

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>

#include <fstream>
#include <string>

#include "platform/file_operations.h"

namespace halvex::platform {
namespace {

// The path itself when it exists, else its folder (an archive about to be created).
std::string ExistingPathFor(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) return path;
    return FolderOfPath(path);
}

bool ReadsOne(const std::string& file) {
    std::ifstream in(file);
    int value = 0;
    return static_cast<bool>(in >> value) && value == 1;
}

}  // namespace

bool IsRemovableDrive(const std::string& path) {
    struct stat st {};
    if (::stat(ExistingPathFor(path).c_str(), &st) != 0) return false;
    const std::string device = "/sys/dev/block/" + std::to_string(major(st.st_dev)) + ":" +
                               std::to_string(minor(st.st_dev));
    // A partition has no "removable" of its own; its disk is the folder above it.
    if (ReadsOne(device + "/removable")) return true;
    std::ifstream partition(device + "/partition");
    return partition.good() && ReadsOne(device + "/../removable");
}

std::uint64_t FreeSpace(const std::string& path) {
    struct statvfs fs {};
    if (::statvfs(ExistingPathFor(path).c_str(), &fs) != 0) return 0;
    return static_cast<std::uint64_t>(fs.f_bavail) * fs.f_frsize;
}

}  // namespace halvex::platform
