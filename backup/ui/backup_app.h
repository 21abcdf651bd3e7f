// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The backup program as a desktop program: start-up, the job-selection window, and the run
// under its progress window.
#include <optional>
#include <string>

namespace halvex {

// Runs the window program in `folder` (the program's own folder when none) and returns the
// program's exit status.
int RunBackupWindows(int argc, char** argv, const std::optional<std::string>& folder);

// The same once the application object exists: start-up (its messages as boxes), the
// job-selection window and at most one run, with the job file of `folder`.
int RunBackupApp(const std::optional<std::string>& folder);

}  // namespace halvex
