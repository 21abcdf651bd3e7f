#pragma once
// The running process: its executable and its current folder.
#include <string>

namespace halvex::platform {

// Full path of the running executable ("" when it cannot be read).
std::string ExecutablePath();
std::string CurrentFolder();
bool SetCurrentFolder(const std::string& folder);

}  // namespace halvex::platform
