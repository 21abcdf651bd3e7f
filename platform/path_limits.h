// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <climits>
#include <cstddef>

namespace halvex::platform {

// Longest path the platform accepts, terminating zero included.
inline constexpr std::size_t kPathLimit = PATH_MAX;

}  // namespace halvex::platform
