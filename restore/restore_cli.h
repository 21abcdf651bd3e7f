// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The command-line modes of the restore program: --list, --files, --search, --log, --restore
// and --verify. They run the same archive set, catalog and restore engine as the windows,
// through the console user interface.
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace halvex {

struct RestoreCliStreams {
    std::istream& in;
    std::ostream& out;  // listings
    std::ostream& err;  // messages, questions, progress
    bool interactive;   // questions are asked (a terminal) instead of answered with fixed answers
};

// Exit statuses of the command-line modes.
inline constexpr int kRestoreExitSucceeded = 0;
inline constexpr int kRestoreExitFailed = 1;   // restore aborted, log not found, problems found by --verify
inline constexpr int kRestoreExitStartup = 2;  // bad command line, set not opened, nothing of it to restore
inline constexpr int kRestoreExitSkipped = 4;  // restored, but entries were left out (each was named)

// Runs the mode the arguments (without the program name) ask for and answers its exit status.
// Nothing when the arguments are the window program's (IsWindowCommandLine).
std::optional<int> RunRestoreCommandLine(const std::vector<std::string>& args, const RestoreCliStreams& io);

// A command line without a "--" option is the window program's: other words are ignored, as
// the window reads only the -AUTORUN switch and an archive to open.
bool IsWindowCommandLine(const std::vector<std::string>& args);
// The window program's switch: an argument that is "-AUTORUN" in any letter case.
bool HasAutorunSwitch(const std::vector<std::string>& args);
// The archive the window program is asked to open (a file manager passes one): its first
// argument that does not begin with '-'; nothing when there is none.
std::optional<std::string> WindowArchiveArgument(const std::vector<std::string>& args);

// The usage text.
std::string RestoreUsage();

}  // namespace halvex
