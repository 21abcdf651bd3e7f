// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Keeping the windows alive during a long operation on the window thread.

namespace halvex {

// Delivers every pending event of the window thread (paints, clicks, timers, posted calls) and
// returns. True when one of them asked the application to quit (QCoreApplication::quit, its
// last window closing, the session ending): Qt consumes that request at once and ends every
// event loop that is running as soon as control returns to it, so the caller should wind its
// work down. A quit asked for before the call is not reported again. Without an application
// object it does nothing and returns false.
bool PumpMessages();

}  // namespace halvex
