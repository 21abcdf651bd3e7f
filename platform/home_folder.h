// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The user's home folder.
#include <string>

namespace halvex::platform {

// The home folder of the user running the program, from the user database ("" when unknown).
std::string HomeFolder();

}  // namespace halvex::platform
