// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The restore engine's user interface on a terminal, for the command-line modes. Message boxes
// become blocks on the error stream ("Caption: text"); questions are asked on the terminal, or
// answered with the fixed answers of the command-line modes when there is none (the answer is
// printed); progress is one line redrawn in place on a terminal and silent otherwise. While a
// restore runs, SIGINT and SIGTERM act as the progress window's Cancel button.
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>

#include "restore/restore_ui.h"

namespace halvex {

class ConsoleRestoreUi final : public RestoreUi {
public:
    // `interactive`: ask questions on `in`/`err` (a terminal); otherwise take the fixed answers.
    ConsoleRestoreUi(std::istream& in, std::ostream& err, bool interactive);
    ~ConsoleRestoreUi() override;

    // The answer to every "Directory Exists..." question (keep, replace, ask or rename), as
    // --existing gives it; without one the question is asked on a terminal (an empty line
    // takes the question's preselected answer) and given its unattended answer otherwise.
    void SetDirectoryAnswer(std::optional<DirectoryAnswer> answer) { directoryAnswer_ = answer; }

    DirectoryAnswer AskDirectoryExists(const DirectoryQuestion& question) override;
    FileAnswer AskFileExists(const std::string& path) override;
    void OpenProgress(std::function<void()> onCancelRequest) override;
    void CloseProgress() override;
    void SetProgressFrom(const std::string& entryPath) override;
    void SetProgressTo(const std::string& folder) override;
    void SetTimeRemaining(const std::string& text) override;
    void SetProgressBar(int position) override;
    std::string FitToProgressTo(const std::string& path) override { return path; }
    MessageAnswer ShowMessage(const std::string& text, const std::string& caption, MessageButtons buttons,
                              MessageOwner owner) override;
    std::optional<std::string> ChooseArchiveFile(const std::string& archiveName) override;
    // Hands a pending SIGINT/SIGTERM to the progress window's cancel handler.
    bool PumpMessages() override;

    // Makes the next PumpMessages act as a click on Cancel (what the signal handler does).
    void RequestCancel();

private:
    // One line read from `in_` after printing `prompt`; nothing at the end of the input.
    std::optional<std::string> Ask(const std::string& prompt);
    void PrintBlock(const std::string& caption, const std::string& text);
    void PrintFixedAnswer(const std::string& answer);
    void ClearProgressLine();
    void DrawProgress(bool force);

    std::istream& in_;
    std::ostream& err_;
    bool interactive_;
    std::optional<DirectoryAnswer> directoryAnswer_;
    std::string startFolder_;  // typed paths are taken relative to where the program started

    bool progressOpen_ = false;
    bool progressLineShown_ = false;
    std::function<void()> onCancelRequest_;
    std::string from_;
    std::string timeRemaining_;
    int bar_ = 0;
    std::uint32_t lastDraw_ = 0;
};

}  // namespace halvex
