// SPDX-License-Identifier: GPL-3.0-or-later
#include "backup/run_notification.h"

#include "backup/backup_cli.h"

namespace halvex {

namespace {

// A message box's text on one line: its paragraphs joined by ": ", other line ends by blanks.
std::string OneLine(const std::string& text) {
    std::string line;
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] != '\n' && text[i] != '\r') {
            line += text[i++];
            continue;
        }
        std::size_t breaks = 0;
        while (i < text.size() && (text[i] == '\n' || text[i] == '\r')) breaks += text[i++] == '\n';
        if (!line.empty() && i < text.size()) line += breaks > 1 ? ": " : " ";
    }
    return line;
}

}  // namespace

std::optional<DesktopNotice> NoticeForRun(int exitStatus, const std::vector<std::string>& skipped,
                                          const std::string& firstError) {
    std::string outcome;
    std::string reason = OneLine(firstError);
    switch (exitStatus) {
        case kExitCanceled:
            outcome = "Backup canceled";
            if (reason.empty()) reason = "The run was stopped before it ended; nothing was saved.";
            break;
        case kExitStoreError:
            outcome = "Backup not saved";
            if (reason.empty()) reason = "FileLists.tq could not be opened or saved.";
            break;
        case kExitSkipped:
            outcome = skipped.size() == 1 ? "1 item left out" : std::to_string(skipped.size()) + " items left out";
            // The skip says what and why; the message boxes before it only asked about it.
            reason = skipped.empty() ? std::string() : OneLine(skipped.front());
            break;
        case kExitFailed:
            outcome = "Backup failed";
            if (reason.empty()) reason = "An error ended the run; nothing was saved.";
            break;
        default: return std::nullopt;
    }
    const bool critical = exitStatus == kExitStoreError || exitStatus == kExitFailed;
    return DesktopNotice{"Halvex Backup: " + outcome, reason, critical};
}

MessageAnswer ErrorRecordingView::ShowMessage(const std::string& text, const std::string& caption,
                                              MessageButtons buttons) {
    if (firstError_.empty() && caption.find("Error") != std::string::npos) firstError_ = text;
    return inner_.ShowMessage(text, caption, buttons);
}

}  // namespace halvex
