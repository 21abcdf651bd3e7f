#pragma once

namespace halvex::platform {

// Whether questions can be asked: standard input and standard error are both terminals.
bool HasInteractiveTerminal();

}  // namespace halvex::platform
