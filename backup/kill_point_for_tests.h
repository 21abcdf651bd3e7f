// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Named points of a real run where tests act. They exist only in the test builds of the
// engine (HALVEX_TEST_POINTS, set on the library variant the tests link): the shipped
// programs have no test points and read no environment variable for them.
//
// In a test build, crash-safety tests stop the run there: when the environment variable
// HALVEX_TEST_KILL_AT holds `point`, the process kills itself (SIGKILL), exactly as a power
// cut or `kill -9` would end it. When HALVEX_TEST_STALL_AT holds `point`, the run's thread
// stops there for good, as in a read from a disk that never answers. Window and engine tests act there instead through a hook,
// called with the point's name on the run's thread.
#include <functional>

namespace halvex {

#ifdef HALVEX_TEST_POINTS
void KillPointForTests(const char* point);

// Sets the hook (an empty function clears it). Only while no run is going: the run's thread
// reads it without a lock.
void SetTestPointHook(std::function<void(const char* point)> hook);
#else
inline void KillPointForTests(const char*) {}
#endif

}  // namespace halvex
