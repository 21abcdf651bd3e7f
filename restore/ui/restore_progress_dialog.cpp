// SPDX-License-Identifier: GPL-3.0-or-later
#include "restore/ui/restore_progress_dialog.h"

#include <QCloseEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include <algorithm>

#include "common/fit_path.h"
#include "common/ui/dialog_units.h"
#include "common/ui/fit_control_to_text.h"
#include "common/ui/fit_path_to_control.h"
#include "common/ui/program_icons.h"
#include "restore/ui/restore_dialog_font.h"

namespace halvex {
namespace {

QLabel* AddLabel(QWidget* parent, const QString& text, const QRect& place) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setGeometry(place);
    return label;
}

}  // namespace

RestoreProgressDialog::RestoreProgressDialog(std::function<void()> onCancelRequest, QWidget* owner)
    : QDialog(owner), onCancelRequest_(std::move(onCancelRequest)) {
    setWindowTitle(QStringLiteral("Restoring..."));
    setWindowIcon(RestoreProgramIcon());
    setFont(RestoreDialogFont());
    setModal(false);
    const DialogUnits units(font());

    // Captions on the left, the three values in one column.
    QLabel* fromCaption = AddLabel(this, QStringLiteral("From:"), units.Rect(7, 7, 52, 10));
    from_ = AddLabel(this, QString(), units.Rect(61, 7, 105, 10));
    QLabel* toCaption = AddLabel(this, QStringLiteral("To:"), units.Rect(7, 19, 52, 10));
    to_ = AddLabel(this, QString(), units.Rect(61, 19, 105, 10));
    QLabel* timeCaption = AddLabel(this, QStringLiteral("Time Remaining:"), units.Rect(7, 31, 52, 10));
    timeRemaining_ = AddLabel(this, QStringLiteral("Calculating..."), units.Rect(61, 31, 105, 10));
    // A wide stand-in font moves the value column right, for all three alike.
    int column = from_->x();
    for (QLabel* caption : {fromCaption, toCaption, timeCaption}) {
        WidenToFitText(*caption, caption->x() + caption->width() + units.X(40));
        column = std::max(column, caption->x() + caption->width() + units.X(2));
    }
    for (QLabel* value : {from_, to_, timeRemaining_}) {
        QRect place = value->geometry();
        place.setLeft(column);
        value->setGeometry(place);
    }

    bar_ = new QProgressBar(this);
    bar_->setGeometry(units.Rect(7, 45, 159, 12));
    bar_->setTextVisible(false);
    bar_->setRange(0, 1000);
    bar_->setValue(0);

    cancelButton_ = new QPushButton(QStringLiteral("Cancel"), this);
    cancelButton_->setGeometry(units.Rect(61, 62, 50, 14));
    connect(cancelButton_, &QPushButton::clicked, this, [this] {
        if (onCancelRequest_) onCancelRequest_();
    });

    setFixedSize(units.Size(173, 82));
}

RestoreProgressDialog::~RestoreProgressDialog() = default;

void RestoreProgressDialog::SetFrom(const std::string& entryPath) {
    from_->setText(QString::fromStdString(FitPathToControl(ShownPath(entryPath), *from_)));
}

void RestoreProgressDialog::SetTo(const std::string& folder) {
    to_->setText(QString::fromStdString(FitPathToControl(folder, *to_)));
}

void RestoreProgressDialog::SetTimeRemaining(const std::string& text) {
    timeRemaining_->setText(QString::fromStdString(text));
}

void RestoreProgressDialog::SetBar(int position) { bar_->setValue(std::clamp(position, 0, 1000)); }

void RestoreProgressDialog::closeEvent(QCloseEvent* event) {
    // The window goes only when the restore ends; closing it is a wish to stop.
    event->ignore();
    if (onCancelRequest_) onCancelRequest_();
}

}  // namespace halvex
