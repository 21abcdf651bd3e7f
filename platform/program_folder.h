// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The program folder: where backup.ini, the store, the logs and the archives of jobs without a
// folder of their own are kept.
#include <string>

namespace halvex::platform {

// The folder of the running executable for a copy that lives in a folder of its own (a USB
// stick, a disc, a home folder). An installed copy (its executable in the install's bin folder,
// or in a folder the user cannot write) uses $XDG_DATA_HOME/halvex, by default
// ~/.local/share/halvex, created when missing. "" with `error` set when neither can be had.
std::string ProgramFolder(std::string& error);

// Is a copy whose executable lies in `executableFolder` an installed one? `installBinFolder` is
// the bin folder the build installs into.
bool IsInstalledCopy(const std::string& executableFolder, const std::string& installBinFolder);

// $XDG_DATA_HOME/halvex (an absolute XDG_DATA_HOME only), else HOME's .local/share/halvex.
std::string UserDataFolder();

}  // namespace halvex::platform
