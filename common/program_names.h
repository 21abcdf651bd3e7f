// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The file names of the two programs, where one program names the other (the restore program
// copied onto discs, the backup program looked for among running processes) and where a
// program names itself in messages.
#include <string>
#include <string_view>

namespace halvex {

inline constexpr std::string_view kBackupProgramName = "halvex-backup";
inline constexpr std::string_view kRestoreProgramName = "halvex-restore";

// "halvex-backup 1.2.3": what --version prints.
std::string VersionText(std::string_view program);

}  // namespace halvex
