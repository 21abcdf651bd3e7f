// SPDX-License-Identifier: GPL-3.0-or-later
#include "restore/autorun.h"

#include "common/program_names.h"
#include "platform/process_list.h"
#include "restore/archive_set.h"

namespace halvex {

std::optional<std::string> AutorunArchive(const std::function<bool()>& backupRunning, const std::string& folder) {
    // The backup program may be writing the very archives a disc start would open.
    if (backupRunning && backupRunning()) return std::nullopt;
    return FindNewestArchive(folder);
}

bool BackupProgramRuns() { return platform::IsProcessRunning(kBackupProgramName); }

}  // namespace halvex
