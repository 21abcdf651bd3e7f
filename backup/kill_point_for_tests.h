#pragma once
// Named points of a real run where tests act. Crash-safety tests stop the run there: when the
// environment variable HALVEX_TEST_KILL_AT holds `point`, the process kills itself (SIGKILL),
// exactly as a power cut or `kill -9` would end it. Window tests act there instead through a
// hook, called with the point's name on the run's thread. Without the variable and the hook
// (the programs never set one) nothing happens.
#include <functional>

namespace halvex {

void KillPointForTests(const char* point);

// Sets the hook (an empty function clears it). Only while no run is going: the run's thread
// reads it without a lock.
void SetTestPointHook(std::function<void(const char* point)> hook);

}  // namespace halvex
