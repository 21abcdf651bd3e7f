// SPDX-License-Identifier: GPL-3.0-or-later
#include "backup/run_log.h"

namespace halvex {

std::string RunLogHeader(std::string_view jobName, const platform::SystemTime& date) {
    std::string header = " TQ Backup\r\n-----------\r\nJob: ";
    header += jobName;
    header += "\r\nDate: ";
    header += platform::FormatLocalTime("%A, %B %d, %Y", date);
    header += "\r\n\r\n";
    return header;
}

std::string RunLogLine(std::string_view text, const platform::SystemTime& time) {
    std::string line = "[";
    line += platform::FormatLocalTime("%X", time);
    line += "] - ";
    line += text;
    line += "\r\n";
    return line;
}

std::string RunLogSeparator() { return "\r\n" + std::string(62, '-') + "\r\n\r\n"; }

bool CumulativeLog::Open(const std::string& path) {
    // The log names private files: its owner alone may read it, also one an older version made.
    failed_ = !file_.TryOpen(path, platform::File::Mode::Append, platform::File::Access::OwnerOnly);
    return !failed_;
}

bool CumulativeLog::Append(std::string_view runLog) {
    if (failed_ || !file_.IsOpen()) return false;
    try {
        std::string block(runLog);
        block += RunLogSeparator();
        file_.Write(block.data(), block.size());
    } catch (const std::exception&) {
        failed_ = true;
    }
    return !failed_;
}

bool CumulativeLog::Close() {
    if (!file_.IsOpen()) return false;
    try {
        if (!failed_) file_.Sync();
        file_.Close();
    } catch (const std::exception&) {
        file_.Abandon();
        failed_ = true;
    }
    return !failed_;
}

}  // namespace halvex
