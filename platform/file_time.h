// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// File times as 64-bit counts of 100-ns units since 1601-01-01 UTC.
#include <cstdint>
#include <ctime>
#include <string>

namespace halvex::platform {

using FileTime = std::uint64_t;

// Seconds between 1601-01-01 and 1970-01-01.
inline constexpr std::int64_t kEpochDifferenceSeconds = 11644473600LL;
inline constexpr std::uint64_t kFileTimeUnitsPerSecond = 10000000ULL;

FileTime FileTimeFromTimespec(const timespec& ts);
timespec TimespecFromFileTime(FileTime ft);
FileTime FileTimeFromUnixSeconds(std::int64_t seconds);
std::int64_t UnixSecondsFromFileTime(FileTime ft);

// The system clock now.
FileTime CurrentFileTime();

// Last-write time of a path (following links). False when it cannot be read.
bool GetLastWriteTime(const std::string& path, FileTime& out);
// Sets the last-write time (the access time is set to the same). False on failure, errno set.
bool SetLastWriteTime(const std::string& path, FileTime ft);
// The same for an open file.
bool SetLastWriteTime(int fd, FileTime ft);

}  // namespace halvex::platform
