// SPDX-License-Identifier: GPL-3.0-or-later
#include "restore/ui/qt_restore_ui.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QStringList>
#include <QWidget>

#include "common/ui/fit_path_to_control.h"
#include "common/ui/pump_messages.h"
#include "common/ui/qt_message_box.h"
#include "restore/ui/directory_exists_dialog.h"
#include "restore/ui/file_exists_dialog.h"
#include "restore/ui/restore_dialog_font.h"
#include "restore/ui/restore_progress_dialog.h"

namespace halvex {

QtRestoreUi::QtRestoreUi(QWidget* mainWindow) : mainWindow_(mainWindow) {}

QtRestoreUi::~QtRestoreUi() { delete progress_.data(); }

QWidget* QtRestoreUi::FrontWindow() const {
    if (progress_) return progress_;
    return mainWindow_;
}

DirectoryAnswer QtRestoreUi::AskDirectoryExists(const DirectoryQuestion& question) {
    DirectoryExistsDialog dialog(question, FrontWindow());
    dialog.exec();
    return dialog.Answer();
}

FileAnswer QtRestoreUi::AskFileExists(const std::string& path) {
    FileExistsDialog dialog(path, FrontWindow());
    dialog.exec();
    return dialog.Answer();
}

void QtRestoreUi::OpenProgress(std::function<void()> onCancelRequest) {
    CloseProgress();
    progress_ = new RestoreProgressDialog(std::move(onCancelRequest), mainWindow_);
    progress_->show();
    if (mainWindow_) {
        mainWindow_->setEnabled(false);
        // Disabling a window disables the windows it owns; the progress window must stay usable.
        progress_->setEnabled(true);
    }
}

void QtRestoreUi::CloseProgress() {
    if (progress_) {
        RestoreProgressDialog* closing = progress_;
        progress_ = nullptr;
        closing->hide();
        // Deleted from the event loop: the close may come from within one of its own handlers.
        closing->deleteLater();
    }
    if (mainWindow_) {
        mainWindow_->setEnabled(true);
        mainWindow_->update();
        mainWindow_->raise();
        mainWindow_->activateWindow();
        mainWindow_->setFocus();
    }
}

void QtRestoreUi::SetProgressFrom(const std::string& entryPath) {
    if (progress_) progress_->SetFrom(entryPath);
}

void QtRestoreUi::SetProgressTo(const std::string& folder) {
    if (progress_) progress_->SetTo(folder);
}

void QtRestoreUi::SetTimeRemaining(const std::string& text) {
    if (progress_) progress_->SetTimeRemaining(text);
}

void QtRestoreUi::SetProgressBar(int position) {
    if (progress_) progress_->SetBar(position);
}

std::string QtRestoreUi::FitToProgressTo(const std::string& path) {
    if (!progress_) return path;
    return FitPathToControl(path, *progress_->ToText());
}

MessageAnswer QtRestoreUi::ShowMessage(const std::string& text, const std::string& caption, MessageButtons buttons,
                                       MessageOwner owner) {
    QWidget* ownerWindow = owner == MessageOwner::ProgressWindow ? FrontWindow() : mainWindow_.data();
    return ShowMessageBox(ownerWindow, text, caption, buttons);
}

QString QtRestoreUi::ArchiveFileFilter(const std::string& archiveName) {
    const QString name = QString::fromStdString(archiveName);
    // A filter's patterns are split at spaces and may hold only some characters; '[' and ']'
    // would be read as a set. Any other character matches as '?', which still takes only
    // this one name in the folder of the set.
    static const QString accepted = QStringLiteral("_.,*?+;#-@{}!<>$%&=^~:|");
    QString pattern;
    for (QChar c : name) {
        bool plain = (c.unicode() < 128 && c.isLetterOrNumber()) || accepted.contains(c);
        pattern += plain ? c : QLatin1Char('?');
    }
    return name + QStringLiteral(" (") + pattern + QLatin1Char(')');
}

std::optional<std::string> QtRestoreUi::ChooseArchiveFile(const std::string& archiveName) {
    // During a restore the progress window owns the chooser; otherwise it stands alone.
    const QString folder = browseFolder_ ? browseFolder_() : QDir::currentPath();
    QFileDialog dialog(progress_.data(), QStringLiteral("Open"), folder, ArchiveFileFilter(archiveName));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    FitFileDialog(dialog);
    dialog.setDefaultSuffix(QStringLiteral("TQBak"));
    dialog.setEnabled(true);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty()) return std::nullopt;
    return QFile::encodeName(chosen.first()).toStdString();
}

bool QtRestoreUi::PumpMessages() { return halvex::PumpMessages(); }

}  // namespace halvex
