// SPDX-License-Identifier: GPL-3.0-or-later
#include "backup/job_config_messages.h"

#include <cstdio>

namespace halvex {
namespace {

UserMessage Error(std::string text) { return UserMessage{std::move(text), std::string(kErrorCaption)}; }

}  // namespace

std::optional<UserMessage> LoadJobConfigMessage(const JobFileResult& result) {
    switch (result.status) {
        case JobFileResult::Status::Loaded: return std::nullopt;
        case JobFileResult::Status::CannotOpen: return Error(std::string(kOpenFailedText));
        case JobFileResult::Status::NotRegularFile: return Error(std::string(kNotRegularText));
        case JobFileResult::Status::CannotRead: break;
        case JobFileResult::Status::LineInError: {
            char text[64];
            std::snprintf(text, sizeof text, kLineErrorFormat, result.line);
            return Error(text);
        }
    }
    return Error(std::string(kReadFailedText));
}

UserMessage ExampleWrittenMessage() {
    return UserMessage{std::string(kExampleWrittenText), std::string(kJobFileCaption)};
}

UserMessage ExampleFailedMessage() { return Error(std::string(kExampleFailedText)); }

UserMessage NoJobsMessage() { return Error(std::string(kNoJobsText)); }

}  // namespace halvex
