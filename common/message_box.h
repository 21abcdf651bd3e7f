// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The buttons of a message box and the answer it gives, shared by every user interface
// (windows, console, scripted tests) of both programs.
#include <functional>
#include <string>

namespace halvex {

enum class MessageButtons { Ok, OkCancel, YesNo, RetryCancel, AbortRetryIgnore };

enum class MessageAnswer { Ok, Cancel, Yes, No, Retry, Abort, Ignore };

// The answer as its button reads ("OK", "Cancel", "Yes", ...), for the console.
const char* MessageAnswerName(MessageAnswer answer);

// Shows a box with text, caption and buttons on the caller's own thread and returns the answer.
using AskFunction =
    std::function<MessageAnswer(const std::string& text, const std::string& caption, MessageButtons buttons)>;

}  // namespace halvex
