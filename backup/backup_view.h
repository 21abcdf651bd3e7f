// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// How a backup run reaches the user: the progress window's texts, bar and Cancel button,
// message boxes, the title animation and closing the window. Implemented by the Qt progress
// window, the console (halvex-backup --run) and a scripted view in tests.
//
// Every call comes from the run's worker thread and returns only once the view has applied it
// (a message box returns the user's answer). A view never calls back into the run from these
// calls; the window side asks for a cancel through BackupEngine::RequestCancel on its own thread.
//
// RequestCancel asks its question through the AskFunction it is given, on the calling thread,
// and never calls the view. Until the worker reaches its next cancellation test it may still
// make (blocking) view calls, so the question must not wait for the worker: a window view
// keeps applying them while the question is open (a modal message box's own event loop does).
// After a confirmed cancel the worker itself writes "Aborting..." into the three texts.
#include <string>

#include "common/message_box.h"

namespace halvex {

// The three text lines of the progress window.
enum class ProgressText {
    CurrentJob,     // "Current Job:"
    Status,         // "Status:"
    TimeRemaining,  // "Time Remaining:"
};

class BackupView {
public:
    virtual ~BackupView() = default;

    virtual void SetText(ProgressText line, const std::string& text) = 0;
    virtual void SetProgressRange(int minimum, int maximum) = 0;
    virtual void SetProgressPosition(int position) = 0;
    // Moves the bar one step on.
    virtual void StepProgress() = 0;
    virtual void EnableCancel(bool enabled) = 0;
    // A message box owned by the progress window; the run waits for the answer.
    virtual MessageAnswer ShowMessage(const std::string& text, const std::string& caption,
                                      MessageButtons buttons) = 0;
    // The repeating 500 ms timer that animates the window title.
    virtual void StartTitleTimer() = 0;
    virtual void StopTitleTimer() = 0;
    // The entry path shortened to fit the "Status:" line (unchanged where width is no concern).
    virtual std::string FitStatusPath(const std::string& path) = 0;
    // The run has ended: close the progress window with this result (2).
    virtual void CloseWindow(int result) = 0;
};

}  // namespace halvex
