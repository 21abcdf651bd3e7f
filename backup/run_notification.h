// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The desktop notification that an unattended run without a terminal (a systemd timer's)
// sends when it did not end cleanly: nobody reads the journal, so the desktop is told.
//
// The engine and the command line know only DesktopNotifier; the program links a notifier
// that reaches the session bus (backup/ui/notify), builds without it use NoDesktopNotifier.
#include <optional>
#include <string>
#include <vector>

#include "backup/backup_view.h"

namespace halvex {

struct DesktopNotice {
    std::string summary;  // "Halvex Backup: " and the outcome
    std::string body;     // the first reason
    bool critical = false;  // nothing of the run was saved: it stays until it is dismissed
};

class DesktopNotifier {
public:
    virtual ~DesktopNotifier() = default;
    // Shows the notice on the user's desktop. False when it could not be sent (no session
    // bus, no notification service); the caller carries on as before.
    virtual bool Send(const DesktopNotice& notice) = 0;
};

class NoDesktopNotifier : public DesktopNotifier {
public:
    bool Send(const DesktopNotice&) override { return false; }
};

// The notice for an unattended run's exit status: none for 0 and 2 (a start-up error is
// printed before any run and a timer's unit shows it as failed). `skipped` are the run's
// skipped entries, `firstError` the first error message the run showed (empty: none).
std::optional<DesktopNotice> NoticeForRun(int exitStatus, const std::vector<std::string>& skipped,
                                          const std::string& firstError);

// Passes every call on to another view and keeps the first error message box's text.
class ErrorRecordingView : public BackupView {
public:
    explicit ErrorRecordingView(BackupView& inner) : inner_(inner) {}
    const std::string& FirstError() const { return firstError_; }

    void SetText(ProgressText line, const std::string& text) override { inner_.SetText(line, text); }
    void SetProgressRange(int minimum, int maximum) override { inner_.SetProgressRange(minimum, maximum); }
    void SetProgressPosition(int position) override { inner_.SetProgressPosition(position); }
    void StepProgress() override { inner_.StepProgress(); }
    void EnableCancel(bool enabled) override { inner_.EnableCancel(enabled); }
    MessageAnswer ShowMessage(const std::string& text, const std::string& caption, MessageButtons buttons) override;
    void StartTitleTimer() override { inner_.StartTitleTimer(); }
    void StopTitleTimer() override { inner_.StopTitleTimer(); }
    std::string FitStatusPath(const std::string& path) override { return inner_.FitStatusPath(path); }
    void CloseWindow(int result) override { inner_.CloseWindow(result); }

private:
    BackupView& inner_;
    std::string firstError_;  // written by the run's thread, read once it has ended
};

}  // namespace halvex
