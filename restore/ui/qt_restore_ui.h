// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The restore engine's questions and progress shown in Qt windows.
#include <functional>

#include <QPointer>
#include <QString>

#include "restore/restore_ui.h"

class QWidget;

namespace halvex {

class RestoreProgressDialog;

class QtRestoreUi : public RestoreUi {
public:
    // mainWindow owns the dialogs and message boxes and is disabled while a restore runs.
    explicit QtRestoreUi(QWidget* mainWindow);
    ~QtRestoreUi() override;
    QtRestoreUi(const QtRestoreUi&) = delete;
    QtRestoreUi& operator=(const QtRestoreUi&) = delete;

    int AskDirectoryExists(const DirectoryQuestion& question) override;
    int AskFileExists(const std::string& path) override;

    void OpenProgress(std::function<void()> onCancelRequest) override;
    void CloseProgress() override;
    void SetProgressFrom(const std::string& entryPath) override;
    void SetProgressTo(const std::string& folder) override;
    void SetTimeRemaining(const std::string& text) override;
    void SetProgressBar(int position) override;
    std::string FitToProgressTo(const std::string& path) override;

    MessageAnswer ShowMessage(const std::string& text, const std::string& caption, MessageButtons buttons,
                              MessageOwner owner) override;
    std::optional<std::string> ChooseArchiveFile(const std::string& archiveName) override;
    bool PumpMessages() override;

    // Where the archive chooser starts (the set's folder); unset: the process's folder.
    void SetBrowseFolder(std::function<QString()> folder) { browseFolder_ = std::move(folder); }

    // The open progress window; null outside a restore.
    RestoreProgressDialog* ProgressWindow() const { return progress_; }

    // The file dialog's filter for one archive: its name as description and as pattern
    // ("Job2.TQBak (Job2.TQBak)"); characters a pattern cannot hold match as '?'.
    static QString ArchiveFileFilter(const std::string& archiveName);

private:
    // The progress window while it is open, else the main window.
    QWidget* FrontWindow() const;

    QPointer<QWidget> mainWindow_;
    QPointer<RestoreProgressDialog> progress_;
    std::function<QString()> browseFolder_;
};

}  // namespace halvex
