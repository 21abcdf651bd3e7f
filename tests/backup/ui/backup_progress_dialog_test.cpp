// SPDX-License-Identifier: GPL-3.0-or-later
// "Halvex Backup in progress": driven by a worker thread through the view, the title animation,
// and the ways the user can and cannot ask to cancel.
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QtTest>

#include <atomic>
#include <thread>

#include "backup/ui/backup_progress_dialog.h"
#include "tests/support/modal_windows.h"

using namespace halvex;

class BackupProgressDialogTest : public QObject {
    Q_OBJECT

private slots:
    void CaptionsStayReadable();
    void TitleCyclesThroughOneTwoThreeDots();
    void TitleTimerRunsWhileStarted();
    void EscapeDoesNothing();
    void CancelButtonAndCloseBoxAskToCancel();
    void CancelQuestionIsOwnedByTheWindow();
    void WorkerDrivesTheWindowUntilItClosesIt();
    void CallsFromTheWindowThreadApplyDirectly();
};

void BackupProgressDialogTest::CaptionsStayReadable() {
    BackupProgressDialog dialog(nullptr);
    QVERIFY(!dialog.windowIcon().isNull());
    // Three distinct labels, one per line, one below the other.
    QVERIFY(dialog.TextLabel(ProgressText::CurrentJob)->y() < dialog.TextLabel(ProgressText::Status)->y());
    QVERIFY(dialog.TextLabel(ProgressText::Status)->y() < dialog.TextLabel(ProgressText::TimeRemaining)->y());
    // The captions are readable next to their values.
    const QStringList captions = {QStringLiteral("Current Job:"), QStringLiteral("Status:"), QStringLiteral("Time Remaining:")};
    for (QLabel* label : dialog.findChildren<QLabel*>()) {
        if (!captions.contains(label->text())) continue;
        QVERIFY2(label->sizeHint().width() <= label->width(), qPrintable(label->text()));
        for (ProgressText line : {ProgressText::CurrentJob, ProgressText::Status, ProgressText::TimeRemaining}) {
            QLabel* value = dialog.TextLabel(line);
            if (value->y() == label->y()) QVERIFY(label->x() + label->fontMetrics().horizontalAdvance(label->text()) < value->x());
        }
    }
}

void BackupProgressDialogTest::TitleCyclesThroughOneTwoThreeDots() {
    BackupProgressDialog dialog(nullptr);
    const QString base = QStringLiteral("Halvex Backup in progress");
    QStringList seen;
    for (int tick = 0; tick < 7; ++tick) {
        dialog.AnimateTitle();
        seen << dialog.windowTitle();
    }
    QCOMPARE(seen, QStringList({base + ".", base + "..", base + "...", base + ".", base + "..", base + "...",
                                base + "."}));
}

void BackupProgressDialogTest::TitleTimerRunsWhileStarted() {
    BackupProgressDialog dialog(nullptr);
    dialog.show();
    QVERIFY(!dialog.TitleTimerActive());
    dialog.StartTitleTimer();
    QTRY_COMPARE_WITH_TIMEOUT(dialog.windowTitle(), QStringLiteral("Halvex Backup in progress.."), 3000);
    dialog.StopTitleTimer();
    QVERIFY(!dialog.TitleTimerActive());
    const QString stopped = dialog.windowTitle();
    QTest::qWait(700);
    QCOMPARE(dialog.windowTitle(), stopped);
}

void BackupProgressDialogTest::EscapeDoesNothing() {
    int requests = 0;
    BackupProgressDialog dialog([&](const AskFunction&) { ++requests; });
    dialog.show();
    QTest::keyClick(&dialog, Qt::Key_Escape);
    dialog.CancelButton()->setFocus();
    QTest::keyClick(dialog.CancelButton(), Qt::Key_Escape);
    QVERIFY(dialog.isVisible());
    QCOMPARE(requests, 0);
}

void BackupProgressDialogTest::CancelButtonAndCloseBoxAskToCancel() {
    int requests = 0;
    BackupProgressDialog dialog([&](const AskFunction&) { ++requests; });
    dialog.show();
    QTest::mouseClick(dialog.CancelButton(), Qt::LeftButton);
    QCOMPARE(requests, 1);
    // The close box asks as well, and the window stays: only the run closes it.
    QVERIFY(!dialog.close());
    QCOMPARE(requests, 2);
    QVERIFY(dialog.isVisible());
}

void BackupProgressDialogTest::CancelQuestionIsOwnedByTheWindow() {
    MessageAnswer answer = MessageAnswer::Ok;
    BackupProgressDialog dialog([&](const AskFunction& ask) {
        answer = ask("File copy in progress. Are you sure you want to abort?", "Quit??", MessageButtons::YesNo);
    });
    dialog.show();
    QWidget* owner = nullptr;
    QString title, text;
    test::WhenModalAppears([&](QWidget* modal) {
        owner = modal->parentWidget();
        title = modal->windowTitle();
        text = qobject_cast<QMessageBox*>(modal)->text();
        qobject_cast<QMessageBox*>(modal)->button(QMessageBox::Yes)->click();
    });
    QTest::mouseClick(dialog.CancelButton(), Qt::LeftButton);
    QCOMPARE(answer, MessageAnswer::Yes);
    QCOMPARE(owner, &dialog);
    QCOMPARE(title, QStringLiteral("Quit??"));
    QCOMPARE(text, QStringLiteral("File copy in progress. Are you sure you want to abort?"));
}

void BackupProgressDialogTest::WorkerDrivesTheWindowUntilItClosesIt() {
    BackupProgressDialog dialog(nullptr);
    std::thread worker;
    std::atomic<bool> workerDone{false};
    MessageAnswer answer = MessageAnswer::Ok;
    std::string fitted;
    const std::string longPath =
        "Data\\Letters\\2004\\To the bank about the new account and the old one\\letter of October the sixth.doc";

    // What the window shows while the worker waits for the answer to its question.
    QString job, status, time, title;
    int barMinimum = -1, barMaximum = -1, barValue = -1;
    bool cancelEnabled = true, dialogVisible = false, ownedByDialog = false;
    test::WhenModalAppears(
        [&](QWidget* modal) {
            job = dialog.TextLabel(ProgressText::CurrentJob)->text();
            status = dialog.TextLabel(ProgressText::Status)->text();
            time = dialog.TextLabel(ProgressText::TimeRemaining)->text();
            barMinimum = dialog.ProgressBar()->minimum();
            barMaximum = dialog.ProgressBar()->maximum();
            barValue = dialog.ProgressBar()->value();
            cancelEnabled = dialog.CancelButton()->isEnabled();
            dialogVisible = dialog.isVisible();
            ownedByDialog = modal->parentWidget() == &dialog;
            title = modal->windowTitle();
            qobject_cast<QMessageBox*>(modal)->button(QMessageBox::Retry)->click();
        },
        &dialog);

    int result = dialog.Run([&] {
        worker = std::thread([&] {
            BackupView& view = dialog;
            view.SetText(ProgressText::CurrentJob, "Documents");
            view.SetText(ProgressText::Status, "Backing Up Files...");
            view.SetText(ProgressText::TimeRemaining, "1 minutes, 5 seconds");
            view.SetProgressRange(0, 10);
            view.StepProgress();
            view.StepProgress();
            view.StepProgress();
            view.EnableCancel(false);
            answer = view.ShowMessage("Could not open file", "Error", MessageButtons::AbortRetryIgnore);
            fitted = view.FitStatusPath(longPath);
            view.SetProgressPosition(10);
            view.StepProgress();  // never past the end
            view.StartTitleTimer();
            view.StopTitleTimer();
            view.CloseWindow(2);
            workerDone = true;
        });
    });
    worker.join();
    QVERIFY(workerDone);
    QCOMPARE(result, 2);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(answer, MessageAnswer::Retry);
    QCOMPARE(job, QStringLiteral("Documents"));
    QCOMPARE(status, QStringLiteral("Backing Up Files..."));
    QCOMPARE(time, QStringLiteral("1 minutes, 5 seconds"));
    QCOMPARE(barMinimum, 0);
    QCOMPARE(barMaximum, 10);
    QCOMPARE(barValue, 3);
    QVERIFY(!cancelEnabled);
    QVERIFY(dialogVisible);
    QVERIFY(ownedByDialog);
    QCOMPARE(title, QStringLiteral("Error"));
    QCOMPARE(dialog.ProgressBar()->value(), 10);
    // The path was fitted on the window thread to the "Status:" line.
    QVERIFY(fitted != longPath);
    QVERIFY(QString::fromStdString(fitted).endsWith(QStringLiteral("...\\letter of October the sixth.doc")));
    QLabel* statusLabel = dialog.TextLabel(ProgressText::Status);
    statusLabel->setText(QString::fromStdString(fitted));
    QVERIFY(statusLabel->sizeHint().width() <= statusLabel->width());
}

void BackupProgressDialogTest::CallsFromTheWindowThreadApplyDirectly() {
    BackupProgressDialog dialog(nullptr);
    dialog.SetText(ProgressText::Status, "Saving File Lists...");
    QCOMPARE(dialog.TextLabel(ProgressText::Status)->text(), QStringLiteral("Saving File Lists..."));
    dialog.SetProgressRange(0, 4);
    dialog.SetProgressPosition(9);
    QCOMPARE(dialog.ProgressBar()->value(), 4);
    dialog.EnableCancel(false);
    QVERIFY(!dialog.CancelButton()->isEnabled());
    QCOMPARE(dialog.FitStatusPath("a.txt"), std::string("a.txt"));
    dialog.show();
    dialog.CloseWindow(2);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.result(), 2);
}

QTEST_MAIN(BackupProgressDialogTest)
#include "backup_progress_dialog_test.moc"
