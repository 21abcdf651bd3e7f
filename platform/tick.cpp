// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/tick.h"

#include <ctime>

namespace halvex::platform {

std::uint32_t TickCountMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(ts.tv_sec) * 1000u +
                                      static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u);
}

}  // namespace halvex::platform
