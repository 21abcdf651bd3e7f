// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The backup run's view for `halvex-backup --run`: progress and message boxes on standard
// error, questions on the terminal.
//
// Interactive (standard input and standard error both terminals): progress is one line
// redrawn in place (current job or file, percent, time remaining) and questions are asked
// and read from standard input. Otherwise: one plain line per phase and per job, and every
// question takes its fixed answer, which is printed. A box is printed as its caption, ": "
// and its text.
//
// The run's worker thread and the thread that handles signals (the "Quit??" question) both
// use the view; one lock keeps their output and their questions apart.
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

#include "backup/backup_view.h"

namespace halvex {

class ConsoleBackupView : public BackupView {
public:
    ConsoleBackupView(std::FILE* out, std::FILE* in, bool interactive);
    // Whether standard input and standard error are both terminals.
    // The answer taken without a terminal.
    static MessageAnswer FixedAnswer(MessageButtons buttons);

    void SetText(ProgressText line, const std::string& text) override;
    void SetProgressRange(int minimum, int maximum) override;
    void SetProgressPosition(int position) override;
    void StepProgress() override;
    void EnableCancel(bool enabled) override;
    MessageAnswer ShowMessage(const std::string& text, const std::string& caption, MessageButtons buttons) override;
    void StartTitleTimer() override {}
    void StopTitleTimer() override {}
    std::string FitStatusPath(const std::string& path) override;
    void CloseWindow(int result) override;

    // Asks from another thread than the run's (a cancel request): the same as ShowMessage.
    MessageAnswer Ask(const std::string& text, const std::string& caption, MessageButtons buttons) {
        return ShowMessage(text, caption, buttons);
    }
    // Prints one line (a summary after the run), keeping the progress line intact.
    void PrintLine(const std::string& line);

private:
    void Redraw(bool force);
    void ClearProgressLine();
    void PrintPhase(const std::string& line);
    MessageAnswer Prompt(MessageButtons buttons);

    std::mutex mutex_;
    std::FILE* out_;
    std::FILE* in_;
    bool interactive_;
    std::string currentJob_, status_, timeRemaining_;
    int minimum_ = 0, maximum_ = 0, position_ = 0;
    bool statusIsPath_ = false;
    bool lineShown_ = false;
    std::uint32_t lastRedraw_ = 0;
    std::string lastPhase_;
};

}  // namespace halvex
