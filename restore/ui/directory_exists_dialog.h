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
    // The question as the engine settled it: the rename choice's text, whether it is offered
    // (shown disabled with the reason when not) and which answer is checked at first.
    DirectoryExistsDialog(const DirectoryQuestion& question, QWidget* owner);
    // A whole-target question about `folder` with every answer offered.
    DirectoryExistsDialog(const std::string& folder, QWidget* owner);
    ~DirectoryExistsDialog() override;

    // What the dialog was answered with once exec() returned (Cancel before, and for Cancel
    // and the close box).
    DirectoryAnswer Answer() const { return answer_; }

    QLabel* PathText() const { return pathText_; }
    // The radio button of an answer other than Cancel.
    QRadioButton* Choice(DirectoryAnswer answer) const;
    QPushButton* OkayButton() const { return okayButton_; }
    QPushButton* CancelButton() const { return cancelButton_; }

private:
    DirectoryAnswer CheckedAnswer() const;

    DirectoryAnswer answer_ = DirectoryAnswer::Cancel;
    QLabel* pathText_ = nullptr;
    std::array<QRadioButton*, 5> choices_{};
    QPushButton* okayButton_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
};

}  // namespace halvex
