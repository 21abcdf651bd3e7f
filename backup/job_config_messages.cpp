// SPDX-License-Identifier: GPL-3.0-or-later
#include "backup/job_config_messages.h"

#include <cstdio>

namespace halvex {
namespace {

UserMessage Error(std::string text) { return UserMessage{std::move(text), std::string(kErrorCaption)}; }

}  // namespace

std::optional<UserMessage> LoadJobConfigMessage(int result) {
    if (result == 0) return std::nullopt;
    if (result == -1) return Error(std::string(kOpenFailedText));
    if (result == -3) return Error(std::string(kNotRegularText));
    if (result < 0) return Error(std::string(kReadFailedText));
    char text[64];
    std::snprintf(text, sizeof text, kLineErrorFormat, result);
    return Error(text);
}

UserMessage ExampleWrittenMessage() {
    return UserMessage{std::string(kExampleWrittenText), std::string(kJobFileCaption)};
}

UserMessage ExampleFailedMessage() { return Error(std::string(kExampleFailedText)); }

UserMessage NoJobsMessage() { return Error(std::string(kNoJobsText)); }

}  // namespace halvex
