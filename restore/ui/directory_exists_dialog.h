// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// "Directory Exists...": what to do with a destination folder that is already there.
#include <QDialog>

#include <array>
#include <string>

#include "restore/restore_ui.h"

class QLabel;
class QPushButton;
class QRadioButton;

namespace halvex {

class DirectoryExistsDialog : public QDialog {
    Q_OBJECT

public:
    // The answers exec() returns.
    enum Answer {
        Cancel = 0,
        KeepExisting = 1,     // "Do not replace existing files"
        ReplaceExisting = 2,  // "Replace existing files"
        PromptEach = 3,       // "Prompt if files already exist"
        RenameFolder = 4,     // "Rename destination folder"
    };

    // The question as the engine settled it: the rename choice's text, whether it is offered
    // (shown disabled with the reason when not) and which answer is checked at first.
    DirectoryExistsDialog(const DirectoryQuestion& question, QWidget* owner);
    // A whole-target question about `folder` with every answer offered.
    DirectoryExistsDialog(const std::string& folder, QWidget* owner);
    ~DirectoryExistsDialog() override;

    QLabel* PathText() const { return pathText_; }
    // The radio button that answers 1 to 4.
    QRadioButton* Choice(Answer answer) const;
    QPushButton* OkayButton() const { return okayButton_; }
    QPushButton* CancelButton() const { return cancelButton_; }

private:
    int CheckedAnswer() const;

    QLabel* pathText_ = nullptr;
    std::array<QRadioButton*, 5> choices_{};
    QPushButton* okayButton_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
};

}  // namespace halvex
