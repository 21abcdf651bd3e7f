// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/file_time.h"

#include <fcntl.h>
#include <sys/stat.h>

namespace halvex::platform {

FileTime FileTimeFromTimespec(const timespec& ts) {
    std::int64_t seconds = static_cast<std::int64_t>(ts.tv_sec) + kEpochDifferenceSeconds;
    if (seconds < 0) return 0;  // before 1601: not representable
    return static_cast<FileTime>(seconds) * kFileTimeUnitsPerSecond +
           static_cast<FileTime>(ts.tv_nsec / 100);
}

timespec TimespecFromFileTime(FileTime ft) {
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(static_cast<std::int64_t>(ft / kFileTimeUnitsPerSecond) -
                                    kEpochDifferenceSeconds);
    ts.tv_nsec = static_cast<long>((ft % kFileTimeUnitsPerSecond) * 100);
    return ts;
}

FileTime FileTimeFromUnixSeconds(std::int64_t seconds) {
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(seconds);
    return FileTimeFromTimespec(ts);
}

std::int64_t UnixSecondsFromFileTime(FileTime ft) {
    return static_cast<std::int64_t>(ft / kFileTimeUnitsPerSecond) - kEpochDifferenceSeconds;
}

FileTime CurrentFileTime() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return FileTimeFromTimespec(ts);
}

bool GetLastWriteTime(const std::string& path, FileTime& out) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return false;
    out = FileTimeFromTimespec(st.st_mtim);
    return true;
}

bool SetLastWriteTime(const std::string& path, FileTime ft) {
    timespec times[2] = {TimespecFromFileTime(ft), TimespecFromFileTime(ft)};
    return utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

bool SetLastWriteTime(int fd, FileTime ft) {
    timespec times[2] = {TimespecFromFileTime(ft), TimespecFromFileTime(ft)};
    return futimens(fd, times) == 0;
}

}  // namespace halvex::platform
