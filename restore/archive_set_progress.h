// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The arithmetic of the "Restoring..." window: the bar's position and the time remaining.
// ArchiveSet::RestoreProgress (archive_set_progress.cpp) applies it while a file is extracted.
#include <cstdint>

namespace halvex {

// Share of the selection restored, 0 to 1. A selection of total size 0 counts as complete;
// more done than the total (sizes that grew since the backup) counts as complete too.
double ProgressFraction(std::uint64_t done, std::uint64_t total);

// The bar's position, 0 to 1000.
int ProgressBarPosition(double fraction);

// Seconds still to go when `fraction` (above 0) of the work took `elapsedMs` milliseconds:
// the estimated total time less the elapsed time.
std::uint32_t EstimateRemainingSeconds(std::uint32_t elapsedMs, double fraction);

// The estimate is renewed at most this often.
inline constexpr std::uint32_t kEstimateIntervalMs = 1000;

}  // namespace halvex
