// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace halvex::platform {

// Whether questions can be asked: standard input and standard error are both terminals.
bool HasInteractiveTerminal();

}  // namespace halvex::platform
