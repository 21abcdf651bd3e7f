// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// "Restoring...": the modeless window shown while a restore runs. It shows what the engine
// tells it and hands a click on Cancel or on the close box to the engine.
#include <QDialog>

#include <functional>
#include <string>

class QLabel;
class QProgressBar;
class QPushButton;

namespace halvex {

class RestoreProgressDialog : public QDialog {
    Q_OBJECT

public:
    RestoreProgressDialog(std::function<void()> onCancelRequest, QWidget* owner);
    ~RestoreProgressDialog() override;

    // The paths are shortened to fit their texts.
    void SetFrom(const std::string& entryPath);
    void SetTo(const std::string& folder);
    void SetTimeRemaining(const std::string& text);
    // 0 to 1000.
    void SetBar(int position);

    QLabel* FromText() const { return from_; }
    QLabel* ToText() const { return to_; }
    QLabel* TimeRemainingText() const { return timeRemaining_; }
    QProgressBar* Bar() const { return bar_; }
    QPushButton* CancelButton() const { return cancelButton_; }

    // What Cancel does: hands the wish to stop to the engine, which asks the user.
    void RequestCancel() {
        if (onCancelRequest_) onCancelRequest_();
    }

public slots:
    // Escape does nothing: only Cancel and the close box ask to stop.
    void reject() override {}

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    std::function<void()> onCancelRequest_;
    QLabel* from_ = nullptr;
    QLabel* to_ = nullptr;
    QLabel* timeRemaining_ = nullptr;
    QProgressBar* bar_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
};

}  // namespace halvex
