// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// "File Exists...": whether to replace one existing file, skip it or stop the restore.
#include <QDialog>

#include <string>

class QCheckBox;
class QLabel;
class QPushButton;

namespace halvex {

class FileExistsDialog : public QDialog {
    Q_OBJECT

public:
    // exec() answers 2 Replace, 1 Skip, their negatives when "Do not ask me again." is ticked,
    // and 0 when the user confirmed Stop.
    FileExistsDialog(const std::string& path, QWidget* owner);
    ~FileExistsDialog() override;

    QLabel* PathText() const { return pathText_; }
    QCheckBox* DoNotAskAgain() const { return doNotAskAgain_; }
    QPushButton* ReplaceButton() const { return replaceButton_; }
    QPushButton* SkipButton() const { return skipButton_; }
    QPushButton* StopButton() const { return stopButton_; }

public slots:
    // Stop, the close box and Escape: asks, and ends with 0 only on Yes.
    void reject() override;

private:
    QLabel* pathText_ = nullptr;
    QCheckBox* doNotAskAgain_ = nullptr;
    QPushButton* replaceButton_ = nullptr;
    QPushButton* skipButton_ = nullptr;
    QPushButton* stopButton_ = nullptr;
};

}  // namespace halvex
