// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// RunLog: the text log of one job's run, stored as "tqbackup.log" in the job's archive and
// appended to backups.log in the program folder when the run completes. CR LF line ends, no
// terminating 0 byte:
//
//    TQ Backup
//   -----------
//   Job: <job name>
//   Date: <long date on which the job's copying began>
//   <empty line>
//   [<time of day>] - <event>          one line per event
#include <string>
#include <string_view>

#include "platform/file.h"
#include "platform/local_time.h"

namespace halvex {

inline constexpr const char* kCumulativeLogName = "backups.log";

// The header of a job's log for its copying date.
std::string RunLogHeader(std::string_view jobName, const platform::SystemTime& date);
// One event line at the given local time.
std::string RunLogLine(std::string_view text, const platform::SystemTime& time);
// What follows each job's log in backups.log: an empty line end, 62 dashes, an empty line.
std::string RunLogSeparator();

// backups.log: a file that only grows; each completed run appends its jobs' logs.
class CumulativeLog {
public:
    // Opens the file for appending, creating it when missing. False when it cannot.
    bool Open(const std::string& path);
    // Appends a job's log and the separator. False once anything failed.
    bool Append(std::string_view runLog);
    // Writes the appended text to disk and closes the file. False when anything failed.
    bool Close();

private:
    platform::File file_;
    bool failed_ = false;
};

}  // namespace halvex
