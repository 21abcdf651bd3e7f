// SPDX-License-Identifier: GPL-3.0-or-later
#include "restore/ui/file_exists_dialog.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>

#include "common/ui/dialog_units.h"
#include "common/ui/fit_path_to_control.h"
#include "common/ui/qt_message_box.h"
#include "restore/ui/restore_dialog_font.h"
#include "restore/ui/restore_path_text.h"

namespace halvex {

FileExistsDialog::FileExistsDialog(const std::string& path, QWidget* owner) : QDialog(owner) {
    setWindowTitle(QStringLiteral("File Exists..."));
    setFont(RestoreDialogFont());
    const DialogUnits units(font());

    auto* heading = new QLabel(QStringLiteral("The following file already exists:"), this);
    heading->setGeometry(units.Rect(7, 6, 163, 10));
    pathText_ = NewPathText(this, units.Rect(7, 18, 163, 12));
    auto* question = new QLabel(QStringLiteral("What would you like to do?"), this);
    question->setGeometry(units.Rect(7, 35, 163, 10));
    doNotAskAgain_ = new QCheckBox(QStringLiteral("&Do not ask me again."), this);
    doNotAskAgain_->setGeometry(units.Rect(7, 48, 163, 10));

    replaceButton_ = new QPushButton(QStringLiteral("&Replace"), this);
    replaceButton_->setGeometry(units.Rect(7, 72, 50, 14));
    skipButton_ = new QPushButton(QStringLiteral("&Skip"), this);
    skipButton_->setGeometry(units.Rect(63, 72, 50, 14));
    stopButton_ = new QPushButton(QStringLiteral("&Stop"), this);
    stopButton_->setGeometry(units.Rect(120, 72, 50, 14));

    connect(replaceButton_, &QPushButton::clicked, this, [this] { Finish(FileAnswer::Choice::Replace); });
    connect(skipButton_, &QPushButton::clicked, this, [this] { Finish(FileAnswer::Choice::Skip); });
    connect(stopButton_, &QPushButton::clicked, this, &FileExistsDialog::reject);

    setFixedSize(units.Size(177, 94));
    // A dialog owned by a window that is disabled during a restore still takes input.
    setEnabled(true);
    pathText_->setText(QString::fromStdString(FitPathToControl(path, *pathText_)));
}

FileExistsDialog::~FileExistsDialog() = default;

void FileExistsDialog::Finish(FileAnswer::Choice choice) {
    answer_ = {choice, doNotAskAgain_->isChecked()};
    accept();
}

void FileExistsDialog::reject() {
    if (ShowMessageBox(this, "Are you sure you want to abort restoration?", "Abort...", MessageButtons::YesNo) ==
        MessageAnswer::Yes) {
        answer_ = {FileAnswer::Choice::Stop};
        done(Rejected);
    }
}

}  // namespace halvex
