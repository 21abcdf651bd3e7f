// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the start-up tells the user about the job file: the windows show these as message
// boxes, the command-line mode prints them.
#include <optional>
#include <string>
#include <string_view>

#include "backup/job_config.h"

namespace halvex {

inline constexpr std::string_view kJobFileCaption = "Halvex Backup";
inline constexpr std::string_view kErrorCaption = "Error";

inline constexpr std::string_view kExampleWrittenText =
    "An example backup.ini file has been created in the program directory. Please edit this "
    "file to configure the backup utility.";
inline constexpr std::string_view kExampleFailedText = "Failed to create backup.ini";
inline constexpr std::string_view kOpenFailedText = "Couldn't open backup.ini";
inline constexpr std::string_view kReadFailedText = "Couldn't read backup.ini";
inline constexpr std::string_view kNotRegularText = "Couldn't open backup.ini: not a regular file";
inline constexpr const char* kLineErrorFormat = "Error in ini file on line %i";
inline constexpr std::string_view kNoJobsText = "No jobs found in ini file.";

struct UserMessage {
    std::string text;
    std::string caption;
};

// The message for a result of LoadJobConfig; none for Loaded.
std::optional<UserMessage> LoadJobConfigMessage(const JobFileResult& result);
UserMessage ExampleWrittenMessage();
UserMessage ExampleFailedMessage();
UserMessage NoJobsMessage();

}  // namespace halvex
