// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What spanning an archive over removable disks needs to know about the disk under a path.
#include <cstdint>
#include <string>

namespace halvex::platform {

// True when the file system holding `path` (or, for a path that does not exist yet, its
// folder) lies on a block device that /sys marks removable; a partition answers for its disk.
// False when that cannot be told (no block device, as for tmpfs or network file systems).
bool IsRemovableDrive(const std::string& path);

// Bytes an unprivileged writer can still put on the file system holding `path` (or its
// folder); 0 when the query fails.
std::uint64_t FreeSpace(const std::string& path);

}  // namespace halvex::platform
