// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// "File Exists...": whether to replace one existing file, skip it or stop the restore.
#include <QDialog>

#include <string>

#include "restore/restore_ui.h"

class QCheckBox;
class QLabel;
class QPushButton;

namespace halvex {

class FileExistsDialog : public QDialog {
    Q_OBJECT

public:
    FileExistsDialog(const std::string& path, QWidget* owner);
    ~FileExistsDialog() override;

    // What the dialog was answered with once exec() returned: Replace or Skip (with the
    // "Do not ask me again." box), or Stop once the user confirmed it.
    FileAnswer Answer() const { return answer_; }

    QLabel* PathText() const { return pathText_; }
    QCheckBox* DoNotAskAgain() const { return doNotAskAgain_; }
    QPushButton* ReplaceButton() const { return replaceButton_; }
    QPushButton* SkipButton() const { return skipButton_; }
    QPushButton* StopButton() const { return stopButton_; }

public slots:
    // Stop, the close box and Escape: asks, and ends with Stop only on Yes.
    void reject() override;

private:
    void Finish(FileAnswer::Choice choice);

    FileAnswer answer_;
    QLabel* pathText_ = nullptr;
    QCheckBox* doNotAskAgain_ = nullptr;
    QPushButton* replaceButton_ = nullptr;
    QPushButton* skipButton_ = nullptr;
    QPushButton* stopButton_ = nullptr;
};

}  // namespace halvex
