#include "backup/kill_point_for_tests.h"

#include <csignal>
#include <cstdlib>
#include <cstring>

namespace halvex {

void KillPointForTests(const char* point) {
    const char* wanted = std::getenv("HALVEX_TEST_KILL_AT");
    if (wanted != nullptr && std::strcmp(wanted, point) == 0) std::raise(SIGKILL);
}

}  // namespace halvex
