// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// "Halvex Backup in progress": the modal window a backup run takes place under. The run's worker
// thread drives it through BackupView; the window itself holds no run logic and hands the
// user's wish to cancel to the run.
#include <QDialog>

#include <functional>
#include <string>

#include "backup/backup_view.h"
#include "common/message_box.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace halvex {

class BackupProgressDialog : public QDialog, public BackupView {
    Q_OBJECT

public:
    // Called on the window thread for a click on Cancel or a close request. ask shows a box
    // owned by this window (from any thread) and returns the answer.
    using CancelRequest = std::function<void(const AskFunction& ask)>;

    explicit BackupProgressDialog(CancelRequest onCancelRequest, QWidget* parent = nullptr);
    ~BackupProgressDialog() override;

    // Shows the window modally and calls startRun once its event loop is running (startRun
    // starts the worker). Returns the result the run closed the window with. The window
    // thread must not wait for the worker while the window is up (every view call blocks
    // until this thread has carried it out, so a cancel request must not wait for the worker
    // either), and the window must outlive the worker's last call.
    int Run(const std::function<void()>& startRun);

    // BackupView: called from the worker thread, applied on the window thread before returning.
    void SetText(ProgressText line, const std::string& text) override;
    void SetProgressRange(int minimum, int maximum) override;
    void SetProgressPosition(int position) override;
    void StepProgress() override;
    void EnableCancel(bool enabled) override;
    MessageAnswer ShowMessage(const std::string& text, const std::string& caption, MessageButtons buttons) override;
    void StartTitleTimer() override;
    void StopTitleTimer() override;
    std::string FitStatusPath(const std::string& path) override;
    void CloseWindow(int result) override;

    // One step of the title animation (the 500 ms timer): one, two, three dots, then one again.
    void AnimateTitle();

    QLabel* TextLabel(ProgressText line) const;
    QProgressBar* ProgressBar() const { return bar_; }
    QPushButton* CancelButton() const { return cancelButton_; }
    bool TitleTimerActive() const;

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    // Runs work on the window thread and waits for it; directly when already there.
    void OnWindowThread(const std::function<void()>& work);
    void RequestCancel();

    CancelRequest onCancelRequest_;
    QLabel* currentJob_ = nullptr;
    QLabel* status_ = nullptr;
    QLabel* timeRemaining_ = nullptr;
    QProgressBar* bar_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
    QTimer* titleTimer_ = nullptr;
};

}  // namespace halvex
