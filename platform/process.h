// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The running process: its executable, its current folder and the processors it may use.
#include <string>

namespace halvex::platform {

// Full path of the running executable ("" when it cannot be read).
std::string ExecutablePath();
std::string CurrentFolder();
bool SetCurrentFolder(const std::string& folder);
// Processors this process may run on (its affinity mask, so `taskset` and cpusets count), at
// least 1.
unsigned UsableProcessorCount();

}  // namespace halvex::platform
