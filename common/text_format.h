// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Sizes and durations as the progress windows and lists show them.
#include <cstdint>
#include <string>

namespace halvex {

// "999 bytes", "1.0 KB" (from 1,000), "100 KB" (from 102,400), "0.95 MB" (from 1,000,000),
// "0.93 GB" (from 1,000,000,000): decimal thresholds, binary divisors.
std::string FormatByteSize(std::uint64_t size);

// "59 seconds", "1 minutes, 0 seconds", "75 minutes, 0 seconds" (no hours, no singular).
std::string FormatDuration(std::uint32_t seconds);

}  // namespace halvex
