// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/terminal.h"

#include <unistd.h>

namespace halvex::platform {

bool HasInteractiveTerminal() { return ::isatty(0) == 1 && ::isatty(2) == 1; }

}  // namespace halvex::platform
