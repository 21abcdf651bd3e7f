// SPDX-License-Identifier: GPL-3.0-or-later
#include "restore/ui/directory_exists_dialog.h"

#include <QLabel>
#include <QPushButton>
#include <QRadioButton>

#include "common/ui/dialog_units.h"
#include "common/ui/fit_path_to_control.h"
#include "restore/ui/restore_dialog_font.h"
#include "restore/ui/restore_path_text.h"

namespace halvex {

namespace {

DirectoryQuestion WholeFolderQuestion(const std::string& folder) {
    DirectoryQuestion question;
    question.folder = folder;
    return question;
}

}  // namespace

DirectoryExistsDialog::DirectoryExistsDialog(const std::string& folder, QWidget* owner)
    : DirectoryExistsDialog(WholeFolderQuestion(folder), owner) {}

DirectoryExistsDialog::DirectoryExistsDialog(const DirectoryQuestion& question, QWidget* owner) : QDialog(owner) {
    setWindowTitle(QStringLiteral("Directory Exists..."));
    setFont(RestoreDialogFont());
    const DialogUnits units(font());

    auto* heading = new QLabel(QStringLiteral("The following directory already exists:"), this);
    heading->setGeometry(units.Rect(7, 6, 173, 10));
    pathText_ = NewPathText(this, units.Rect(7, 18, 173, 12));

    int top = 36;
    for (DirectoryAnswer answer : {DirectoryAnswer::RenameFolder, DirectoryAnswer::KeepExisting,
                                   DirectoryAnswer::ReplaceExisting, DirectoryAnswer::PromptEach}) {
        auto* button = new QRadioButton(QString::fromStdString(DirectoryAnswerText(question, answer)), this);
        button->setGeometry(units.Rect(14, top, 160, 10));
        choices_[static_cast<std::size_t>(answer)] = button;
        top += 12;
    }
    if (!question.RenameOffered()) {
        // Moving this folder aside would move far more than the restore: the choice is shown
        // with the reason, and cannot be taken.
        QRadioButton* rename = Choice(DirectoryAnswer::RenameFolder);
        rename->setEnabled(false);
        const QString reason = QString::fromStdString("Not renamed: " + question.renameRefusal);
        rename->setText(reason);
        rename->setToolTip(reason);
    }
    const bool preselectedShown = question.preselected != DirectoryAnswer::Cancel &&
                                  (question.preselected != DirectoryAnswer::RenameFolder || question.RenameOffered());
    Choice(preselectedShown ? question.preselected : DirectoryAnswer::PromptEach)->setChecked(true);

    okayButton_ = new QPushButton(QStringLiteral("Okay"), this);
    okayButton_->setGeometry(units.Rect(37, 88, 50, 14));
    okayButton_->setDefault(true);
    cancelButton_ = new QPushButton(QStringLiteral("Cancel"), this);
    cancelButton_->setGeometry(units.Rect(100, 88, 50, 14));
    connect(okayButton_, &QPushButton::clicked, this, [this] {
        answer_ = CheckedAnswer();
        accept();
    });
    connect(cancelButton_, &QPushButton::clicked, this, &QDialog::reject);  // answers Cancel, as the close box does

    setFixedSize(units.Size(187, 109));
    // A dialog owned by a window that is disabled during a restore still takes input.
    setEnabled(true);
    pathText_->setText(QString::fromStdString(FitPathToControl(question.folder, *pathText_)));
}

DirectoryExistsDialog::~DirectoryExistsDialog() = default;

QRadioButton* DirectoryExistsDialog::Choice(DirectoryAnswer answer) const {
    return choices_.at(static_cast<std::size_t>(answer));
}

DirectoryAnswer DirectoryExistsDialog::CheckedAnswer() const {
    for (DirectoryAnswer answer : {DirectoryAnswer::KeepExisting, DirectoryAnswer::ReplaceExisting,
                                   DirectoryAnswer::PromptEach, DirectoryAnswer::RenameFolder}) {
        if (Choice(answer)->isChecked()) return answer;
    }
    return DirectoryAnswer::PromptEach;
}

}  // namespace halvex
