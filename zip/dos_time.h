// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// DOS date and time words as zip entries store them: local time, two-second resolution,
// years 1980 to 2107.
#include <cstdint>

#include "platform/file_time.h"
#include "platform/local_time.h"

namespace halvex {

struct DosDateTime {
    std::uint16_t date = 0;  // (year - 1980) x 512 + month x 32 + day
    std::uint16_t time = 0;  // hour x 2048 + minute x 32 + second / 2
    bool operator==(const DosDateTime&) const = default;
};

// A local calendar time as DOS words. Years up to 1980 store 0 in the year bits; years after
// 2107 (which do not fit the seven year bits) store 2107 rather than wrapping to 1980.
DosDateTime SystemTimeToDos(const platform::SystemTime& local);

// The DOS words back to a local calendar time (day of week and milliseconds left 0). The
// fields are taken as stored, so a damaged date may carry a month of 0 or 13 to 15.
platform::SystemTime DosToSystemTime(DosDateTime dos);

// File time (UTC) <-> DOS words, through the local time zone. Reading lets the C library decide
// daylight saving for the stored local time; out-of-range fields are normalised, not refused.
DosDateTime FileTimeToDos(platform::FileTime fileTime);
platform::FileTime DosToFileTime(DosDateTime dos);

}  // namespace halvex
