// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <cstdint>

namespace halvex::platform {

// Bytes of physical memory of the machine; 0 when it cannot be told.
std::uint64_t PhysicalMemoryBytes();

}  // namespace halvex::platform
