// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One backup target of an open archive set: its name, the folder it was backed up from and
// its whole history, one record per backup, oldest first.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/file_tree_ptr.h"

namespace halvex {

struct BackupTarget {
    std::string targetName;
    std::string sourceFolder;
    int backupCount = 0;
    // Index k is the target's (k+1)-th backup. Trees carry the number of the archive that
    // holds that backup; a backup without a removed or added tree has a null slot.
    std::vector<std::uint64_t> backupTimes;
    std::vector<FileTreePtr> removedTrees;
    std::vector<FileTreePtr> addedTrees;
};

}  // namespace halvex
