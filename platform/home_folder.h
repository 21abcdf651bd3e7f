// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The user's home folder.
#include <string>

namespace halvex::platform {

// The home folder of the user running the program: $HOME when it is an absolute path, else the
// user database's entry ("" when neither is known).
std::string HomeFolder();

// The user database's home folder alone ("" when unknown).
std::string DatabaseHomeFolder();

}  // namespace halvex::platform
