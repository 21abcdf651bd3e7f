// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <cstdint>

namespace halvex::platform {

// Milliseconds of a monotonic clock, wrapping at 2^32 like a tick counter.
std::uint32_t TickCountMs();

}  // namespace halvex::platform
