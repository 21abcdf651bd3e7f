#pragma once
// Crash-safety tests stop a real run at a named point: when the environment variable
// HALVEX_TEST_KILL_AT holds `point`, the process kills itself there (SIGKILL), exactly as a
// power cut or `kill -9` would end it. Without that variable nothing happens.
namespace halvex {

void KillPointForTests(const char* point);

}  // namespace halvex
