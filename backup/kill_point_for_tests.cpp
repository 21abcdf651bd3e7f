// SPDX-License-Identifier: GPL-3.0-or-later
#include "backup/kill_point_for_tests.h"

#ifdef HALVEX_TEST_POINTS

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>
#include <utility>

namespace halvex {
namespace {

std::function<void(const char*)>& Hook() {
    static std::function<void(const char*)> hook;
    return hook;
}

}  // namespace

void KillPointForTests(const char* point) {
    if (Hook()) Hook()(point);
    const char* wanted = std::getenv("HALVEX_TEST_KILL_AT");
    if (wanted != nullptr && std::strcmp(wanted, point) == 0) std::raise(SIGKILL);
    const char* stall = std::getenv("HALVEX_TEST_STALL_AT");
    if (stall != nullptr && std::strcmp(stall, point) == 0) {
        std::fprintf(stderr, "test point: stalled at %s\n", point);
        for (;;) pause();  // the signals the program takes are blocked on this thread
    }
}

void SetTestPointHook(std::function<void(const char* point)> hook) { Hook() = std::move(hook); }

}  // namespace halvex

#endif  // HALVEX_TEST_POINTS
