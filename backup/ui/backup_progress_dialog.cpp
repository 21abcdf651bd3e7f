// SPDX-License-Identifier: GPL-3.0-or-later
#include "backup/ui/backup_progress_dialog.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMetaObject>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <utility>

#include "common/ui/dialog_units.h"
#include "common/ui/fit_control_to_text.h"
#include "common/ui/fit_path_to_control.h"
#include "common/ui/program_icons.h"
#include "common/ui/qt_message_box.h"

namespace halvex {
namespace {

constexpr int kTitleTickMs = 500;
constexpr int kTitleMaxLength = 39;

QLabel* AddLabel(QWidget* parent, const QString& text, const QRect& place) {
    auto* label = new QLabel(text, parent);
    // Entry paths and job names are shown as they are, never read as markup.
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setGeometry(place);
    return label;
}

}  // namespace

BackupProgressDialog::BackupProgressDialog(CancelRequest onCancelRequest, QWidget* parent)
    : QDialog(parent), onCancelRequest_(std::move(onCancelRequest)) {
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setWindowTitle(QStringLiteral("Halvex Backup in progress"));
    setWindowIcon(BackupProgramIcon());

    const DialogUnits units(font());
    QLabel* currentJobCaption = AddLabel(this, QStringLiteral("Current Job:"), units.Rect(18, 7, 38, 8));
    currentJob_ = AddLabel(this, QString(), units.Rect(59, 7, 148, 9));
    QLabel* statusCaption = AddLabel(this, QStringLiteral("Status:"), units.Rect(18, 18, 25, 8));
    status_ = AddLabel(this, QString(), units.Rect(43, 18, 178, 9));
    QLabel* timeCaption = AddLabel(this, QStringLiteral("Time Remaining:"), units.Rect(18, 28, 55, 8));
    timeRemaining_ = AddLabel(this, QStringLiteral("Calculating..."), units.Rect(73, 28, 108, 9));
    for (auto [caption, value] : {std::pair{currentJobCaption, currentJob_}, std::pair{statusCaption, status_},
                                  std::pair{timeCaption, timeRemaining_}}) {
        WidenToFitText(*caption, value->x());
        KeepCaptionApart(*caption, *value, units.X(2));
    }

    bar_ = new QProgressBar(this);
    bar_->setGeometry(units.Rect(7, 43, 214, 15));
    bar_->setTextVisible(false);
    bar_->setRange(0, 100);
    bar_->setValue(0);

    cancelButton_ = new QPushButton(QStringLiteral("Cancel"), this);
    cancelButton_->setGeometry(units.Rect(73, 69, 71, 16));
    cancelButton_->setAutoDefault(false);
    connect(cancelButton_, &QPushButton::clicked, this, [this] { RequestCancel(); });

    titleTimer_ = new QTimer(this);
    titleTimer_->setInterval(kTitleTickMs);
    connect(titleTimer_, &QTimer::timeout, this, [this] { AnimateTitle(); });

    setFixedSize(units.Size(229, 92));
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect area = screen->availableGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
}

BackupProgressDialog::~BackupProgressDialog() = default;

int BackupProgressDialog::Run(const std::function<void()>& startRun) {
    // Started from the event loop, so that every call the worker makes finds the window up.
    QTimer::singleShot(0, this, [startRun] {
        if (startRun) startRun();
    });
    return exec();
}

void BackupProgressDialog::OnWindowThread(const std::function<void()>& work) {
    if (QThread::currentThread() == thread()) {
        work();
    } else {
        QMetaObject::invokeMethod(this, work, Qt::BlockingQueuedConnection);
    }
}

QLabel* BackupProgressDialog::TextLabel(ProgressText line) const {
    switch (line) {
        case ProgressText::CurrentJob: return currentJob_;
        case ProgressText::Status: return status_;
        case ProgressText::TimeRemaining: break;
    }
    return timeRemaining_;
}

void BackupProgressDialog::SetText(ProgressText line, const std::string& text) {
    OnWindowThread([&] { TextLabel(line)->setText(QString::fromStdString(text)); });
}

void BackupProgressDialog::SetProgressRange(int minimum, int maximum) {
    OnWindowThread([&] { bar_->setRange(minimum, std::max(minimum, maximum)); });
}

void BackupProgressDialog::SetProgressPosition(int position) {
    OnWindowThread([&] { bar_->setValue(std::clamp(position, bar_->minimum(), bar_->maximum())); });
}

void BackupProgressDialog::StepProgress() {
    OnWindowThread([&] { bar_->setValue(std::min(bar_->value() + 1, bar_->maximum())); });
}

void BackupProgressDialog::EnableCancel(bool enabled) {
    OnWindowThread([&] { cancelButton_->setEnabled(enabled); });
}

MessageAnswer BackupProgressDialog::ShowMessage(const std::string& text, const std::string& caption,
                                                MessageButtons buttons) {
    MessageAnswer answer = MessageAnswer::Cancel;
    OnWindowThread([&] { answer = ShowMessageBox(this, text, caption, buttons); });
    return answer;
}

void BackupProgressDialog::StartTitleTimer() {
    OnWindowThread([&] { titleTimer_->start(); });
}

void BackupProgressDialog::StopTitleTimer() {
    OnWindowThread([&] { titleTimer_->stop(); });
}

bool BackupProgressDialog::TitleTimerActive() const { return titleTimer_->isActive(); }

std::string BackupProgressDialog::FitStatusPath(const std::string& path) {
    std::string fitted;
    OnWindowThread([&] { fitted = FitPathToControl(path, *status_); });
    return fitted;
}

void BackupProgressDialog::CloseWindow(int result) {
    OnWindowThread([&] {
        titleTimer_->stop();
        done(result);
    });
}

void BackupProgressDialog::AnimateTitle() {
    QString title = windowTitle().left(kTitleMaxLength);
    qsizetype dots = 0;
    while (dots < title.size() && title.at(title.size() - 1 - dots) == QLatin1Char('.')) ++dots;
    title.chop(dots);
    title += QString(dots % 3 + 1, QLatin1Char('.'));
    setWindowTitle(title);
}

void BackupProgressDialog::RequestCancel() {
    if (!onCancelRequest_) return;
    AskFunction ask = [this](const std::string& text, const std::string& caption, MessageButtons buttons) {
        return ShowMessage(text, caption, buttons);
    };
    onCancelRequest_(ask);
}

void BackupProgressDialog::closeEvent(QCloseEvent* event) {
    // Closing is a wish to cancel; only the run closes the window.
    event->ignore();
    RequestCancel();
}

void BackupProgressDialog::keyPressEvent(QKeyEvent* event) {
    // Escape must not end the run; only the Cancel button and the close box ask to.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

}  // namespace halvex
