// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Calendar times in the C library's time zone (local) and in UTC.
#include <cstdint>
#include <string>

#include "platform/file_time.h"

namespace halvex::platform {

// Broken-down time: year, month 1-12, day of week 0 (Sunday)-6, day 1-31, hour, minute,
// second, milliseconds. All zero means "never".
struct SystemTime {
    std::uint16_t year = 0;
    std::uint16_t month = 0;
    std::uint16_t dayOfWeek = 0;
    std::uint16_t day = 0;
    std::uint16_t hour = 0;
    std::uint16_t minute = 0;
    std::uint16_t second = 0;
    std::uint16_t milliseconds = 0;

    bool IsZero() const { return year == 0 && month == 0 && day == 0; }
    bool operator==(const SystemTime&) const = default;
};

SystemTime FileTimeToLocal(FileTime ft);
SystemTime FileTimeToUtc(FileTime ft);
// Local calendar time back to a file time; daylight saving is decided by the system.
FileTime LocalToFileTime(const SystemTime& local);
SystemTime CurrentLocalTime();

// strftime of a local time; "" when the result does not fit 256 bytes.
std::string FormatLocalTime(const char* format, const SystemTime& local);
// strftime of a file time shown in UTC.
std::string FormatUtcTime(const char* format, FileTime ft);

}  // namespace halvex::platform
