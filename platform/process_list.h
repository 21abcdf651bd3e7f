// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Whether a program runs: a look at the system's process list.
#include <string_view>

namespace halvex::platform {

// True when a running process's executable is named `name` (letter case ignored), by the
// name the kernel keeps for it (/proc/PID/comm) or the file name of its executable
// (/proc/PID/exe). `processId` receives the first such process's id. False when none is
// found or the list cannot be read.
bool IsProcessRunning(std::string_view name, int* processId = nullptr);

}  // namespace halvex::platform
