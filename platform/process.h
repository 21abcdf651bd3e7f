// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The running process: its executable, the folder it was started in and the processors it may
// use. Nothing in the programs changes that folder: relative names typed by the user are taken
// in it.
#include <optional>
#include <string>

namespace halvex::platform {

// Full path of the running executable ("" when it cannot be read).
std::string ExecutablePath();
std::string CurrentFolder();
// Processors this process may run on (its affinity mask, so `taskset` and cpusets count), at
// least 1.
unsigned UsableProcessorCount();
// The thread count forced by environment variable `name`: its value when it is a whole number
// from 1 to `most`, none otherwise.
std::optional<int> ForcedThreadCount(const char* name, int most);

}  // namespace halvex::platform
