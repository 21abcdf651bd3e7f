// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The restore program as a desktop program: its window and, with -AUTORUN, the start from a disc.
#include <optional>
#include <string>

namespace halvex {

// Runs the main window until it closes; its file dialogs start in the program's folder.
// With autorun the newest archive beside the program is opened at once; the program ends
// without a word when there is none or while the backup program runs. Otherwise `archive`
// (a path from where the program was started), when given, is opened. Answers the exit status.
int RunRestoreWindows(int argc, char** argv, bool autorun, const std::optional<std::string>& archive);

}  // namespace halvex
