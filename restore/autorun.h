// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The -AUTORUN start of the restore program (from a disc): which archive it opens, if any.
#include <functional>
#include <optional>
#include <string>

namespace halvex {

// Nothing (the program ends at once, without a word) while the backup program runs or when
// `folder` holds no archive; otherwise the newest archive there (FindNewestArchive).
std::optional<std::string> AutorunArchive(const std::function<bool()>& backupRunning, const std::string& folder);

// The check the program makes: whether halvex-backup runs.
bool BackupProgramRuns();

}  // namespace halvex
