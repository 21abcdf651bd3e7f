// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/message_box.h"

namespace halvex {

const char* MessageAnswerName(MessageAnswer answer) {
    switch (answer) {
        case MessageAnswer::Ok: return "OK";
        case MessageAnswer::Cancel: return "Cancel";
        case MessageAnswer::Yes: return "Yes";
        case MessageAnswer::No: return "No";
        case MessageAnswer::Retry: return "Retry";
        case MessageAnswer::Abort: return "Abort";
        case MessageAnswer::Ignore: return "Ignore";
    }
    return "";
}

}  // namespace halvex
