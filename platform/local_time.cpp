// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/local_time.h"

#include <ctime>

namespace halvex::platform {
namespace {

SystemTime FromTm(const std::tm& tm, std::uint16_t milliseconds) {
    SystemTime st;
    st.year = static_cast<std::uint16_t>(tm.tm_year + 1900);
    st.month = static_cast<std::uint16_t>(tm.tm_mon + 1);
    st.dayOfWeek = static_cast<std::uint16_t>(tm.tm_wday);
    st.day = static_cast<std::uint16_t>(tm.tm_mday);
    st.hour = static_cast<std::uint16_t>(tm.tm_hour);
    st.minute = static_cast<std::uint16_t>(tm.tm_min);
    st.second = static_cast<std::uint16_t>(tm.tm_sec);
    st.milliseconds = milliseconds;
    return st;
}

std::tm ToTm(const SystemTime& st) {
    std::tm tm{};
    tm.tm_year = st.year - 1900;
    tm.tm_mon = st.month - 1;
    tm.tm_mday = st.day;
    tm.tm_hour = st.hour;
    tm.tm_min = st.minute;
    tm.tm_sec = st.second;
    tm.tm_wday = st.dayOfWeek;
    tm.tm_isdst = -1;
    return tm;
}

std::uint16_t MillisecondsOf(FileTime ft) {
    return static_cast<std::uint16_t>((ft % kFileTimeUnitsPerSecond) / 10000);
}

}  // namespace

SystemTime FileTimeToLocal(FileTime ft) {
    time_t t = static_cast<time_t>(UnixSecondsFromFileTime(ft));
    std::tm tm{};
    localtime_r(&t, &tm);
    return FromTm(tm, MillisecondsOf(ft));
}

SystemTime FileTimeToUtc(FileTime ft) {
    time_t t = static_cast<time_t>(UnixSecondsFromFileTime(ft));
    std::tm tm{};
    gmtime_r(&t, &tm);
    return FromTm(tm, MillisecondsOf(ft));
}

FileTime LocalToFileTime(const SystemTime& local) {
    std::tm tm = ToTm(local);
    time_t t = mktime(&tm);
    return FileTimeFromUnixSeconds(t) +
           static_cast<FileTime>(local.milliseconds) * 10000;
}

SystemTime CurrentLocalTime() { return FileTimeToLocal(CurrentFileTime()); }

std::string FormatLocalTime(const char* format, const SystemTime& local) {
    std::tm tm = ToTm(local);
    mktime(&tm);  // fills day of week, day of year and DST
    char buffer[256];
    std::size_t n = std::strftime(buffer, sizeof buffer, format, &tm);
    return std::string(buffer, n);
}

std::string FormatUtcTime(const char* format, FileTime ft) {
    time_t t = static_cast<time_t>(UnixSecondsFromFileTime(ft));
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buffer[256];
    std::size_t n = std::strftime(buffer, sizeof buffer, format, &tm);
    return std::string(buffer, n);
}

}  // namespace halvex::platform
