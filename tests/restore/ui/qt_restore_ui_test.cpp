// SPDX-License-Identifier: GPL-3.0-or-later
// The restore engine's Qt user interface: the progress window and the main window while a
// restore runs, who owns each question, and the archive file filter.
#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QMainWindow>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QtTest>

#include "restore/ui/directory_exists_dialog.h"
#include "restore/ui/file_exists_dialog.h"
#include "restore/ui/qt_restore_ui.h"
#include "restore/ui/restore_progress_dialog.h"
#include "tests/support/modal_windows.h"

using namespace halvex;

class QtRestoreUiTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void ProgressWindowDisablesTheMainWindowUntilClosed();
    void ProgressWindowLayoutAndBar();
    void ProgressCancelAndCloseBoxCallTheHandler();
    void ProgressEscapeDoesNothing();
    void ProgressShowsPathsShortened();
    void FitToProgressToMeasuresTheToText();
    void WithoutProgressWindowUpdatesAreIgnored();
    void MessageOwners();
    void QuestionsDuringARestoreTakeInput();
    void DirectoryQuestionAnswers();
    void ArchiveFilterNamesOnlyThatArchive();
    void PumpLetsClicksThrough();

private:
    QMainWindow* main_ = nullptr;
};

void QtRestoreUiTest::init() {
    main_ = new QMainWindow;
    main_->setCentralWidget(new QPushButton(QStringLiteral("Restore Selected")));
    main_->show();
}

void QtRestoreUiTest::cleanup() {
    delete main_;
    main_ = nullptr;
}

void QtRestoreUiTest::ProgressWindowDisablesTheMainWindowUntilClosed() {
    QtRestoreUi ui(main_);
    QVERIFY(!ui.ProgressWindow());
    ui.OpenProgress([] {});
    QPointer<RestoreProgressDialog> progress = ui.ProgressWindow();
    QVERIFY(progress);
    QVERIFY(progress->isVisible());
    QVERIFY(!progress->isModal());
    QCOMPARE(progress->parentWidget(), main_);
    QVERIFY(!main_->isEnabled());
    QVERIFY(!main_->centralWidget()->isEnabled());
    // The progress window and its Cancel button still take input.
    QVERIFY(progress->isEnabled());
    QVERIFY(progress->CancelButton()->isEnabled());

    ui.CloseProgress();
    QVERIFY(!ui.ProgressWindow());
    QVERIFY(main_->isEnabled());
    QVERIFY(main_->centralWidget()->isEnabled());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!progress);

    // A second restore gets a fresh window.
    ui.OpenProgress([] {});
    QVERIFY(ui.ProgressWindow());
    QVERIFY(!main_->isEnabled());
    ui.CloseProgress();
    QVERIFY(main_->isEnabled());
}

void QtRestoreUiTest::ProgressWindowLayoutAndBar() {
    RestoreProgressDialog dialog(nullptr, main_);
    QVERIFY(!dialog.windowIcon().isNull());
    for (QLabel* label : dialog.findChildren<QLabel*>()) QVERIFY(dialog.rect().contains(label->geometry()));
    QCOMPARE(dialog.Bar()->value(), 0);
    dialog.SetBar(500);
    QCOMPARE(dialog.Bar()->value(), 500);
    dialog.SetBar(1500);
    QCOMPARE(dialog.Bar()->value(), 1000);
    // Each value starts right of its caption's text.
    for (QLabel* value : {dialog.FromText(), dialog.ToText(), dialog.TimeRemainingText()}) {
        for (QLabel* caption : dialog.findChildren<QLabel*>()) {
            if (caption == value || caption->y() != value->y()) continue;
            QVERIFY(caption->x() + caption->fontMetrics().horizontalAdvance(caption->text()) < value->x());
        }
    }
}

void QtRestoreUiTest::ProgressCancelAndCloseBoxCallTheHandler() {
    QtRestoreUi ui(main_);
    int requests = 0;
    ui.OpenProgress([&] { ++requests; });
    RestoreProgressDialog* progress = ui.ProgressWindow();
    QTest::mouseClick(progress->CancelButton(), Qt::LeftButton);
    QCOMPARE(requests, 1);
    QVERIFY(!progress->close());
    QCOMPARE(requests, 2);
    QVERIFY(progress->isVisible());
    QCOMPARE(ui.ProgressWindow(), progress);
    ui.CloseProgress();
}

void QtRestoreUiTest::ProgressEscapeDoesNothing() {
    QtRestoreUi ui(main_);
    int requests = 0;
    ui.OpenProgress([&] { ++requests; });
    QTest::keyClick(ui.ProgressWindow(), Qt::Key_Escape);
    QCOMPARE(requests, 0);
    QVERIFY(ui.ProgressWindow()->isVisible());
    ui.CloseProgress();
}

void QtRestoreUiTest::ProgressShowsPathsShortened() {
    QtRestoreUi ui(main_);
    ui.OpenProgress([] {});
    RestoreProgressDialog* progress = ui.ProgressWindow();
    const std::string entry = "Documents\\Letters\\2004\\old\\older\\oldest\\To the bank.doc";
    const std::string folder = "/home/user/Halvex Restored/Documents/Letters/2004/old/older/oldest";
    ui.SetProgressFrom(entry);
    ui.SetProgressTo(folder);
    for (QLabel* text : {progress->FromText(), progress->ToText()}) {
        QVERIFY(text->text().contains(QStringLiteral("...")));
        QVERIFY(text->sizeHint().width() <= text->width());
    }
    QVERIFY(progress->FromText()->text().endsWith(QStringLiteral("/To the bank.doc")));
    QVERIFY(progress->ToText()->text().endsWith(QStringLiteral("/oldest")));
    ui.SetProgressFrom("Aborting...");
    ui.SetProgressTo("Aborting...");
    ui.SetTimeRemaining("Aborting...");
    ui.SetProgressBar(250);
    QCOMPARE(progress->FromText()->text(), QStringLiteral("Aborting..."));
    QCOMPARE(progress->ToText()->text(), QStringLiteral("Aborting..."));
    QCOMPARE(progress->TimeRemainingText()->text(), QStringLiteral("Aborting..."));
    QCOMPARE(progress->Bar()->value(), 250);
    ui.CloseProgress();
}

void QtRestoreUiTest::FitToProgressToMeasuresTheToText() {
    QtRestoreUi ui(main_);
    const std::string path = "/home/user/Halvex Restored/Documents/Letters/2004/old/older/To the bank.doc";
    QCOMPARE(ui.FitToProgressTo(path), path);  // no progress window: nothing to measure against
    ui.OpenProgress([] {});
    std::string fitted = ui.FitToProgressTo(path);
    QVERIFY(fitted != path);
    QLabel* to = ui.ProgressWindow()->ToText();
    QVERIFY(QFontMetrics(to->font()).horizontalAdvance(QString::fromStdString(fitted)) <= to->contentsRect().width());
    QCOMPARE(ui.FitToProgressTo("/a.doc"), std::string("/a.doc"));
    ui.CloseProgress();
}

void QtRestoreUiTest::WithoutProgressWindowUpdatesAreIgnored() {
    QtRestoreUi ui(main_);
    ui.SetProgressFrom("x");
    ui.SetProgressTo("y");
    ui.SetTimeRemaining("z");
    ui.SetProgressBar(3);
    ui.CloseProgress();
    QVERIFY(main_->isEnabled());
    QVERIFY(!ui.ProgressWindow());
}

void QtRestoreUiTest::MessageOwners() {
    QtRestoreUi ui(main_);
    QWidget* owner = nullptr;
    auto answerNext = [&owner](QMessageBox::StandardButton button) {
        test::WhenModalAppears([&owner, button](QWidget* modal) {
            owner = modal->parentWidget();
            qobject_cast<QMessageBox*>(modal)->button(button)->click();
        });
    };
    answerNext(QMessageBox::Ok);
    QCOMPARE(ui.ShowMessage("Restoration Complete", "Success", MessageButtons::Ok, MessageOwner::MainWindow),
             MessageAnswer::Ok);
    QCOMPARE(owner, main_);
    // Outside a restore a box meant for the progress window goes to the main window.
    answerNext(QMessageBox::Ok);
    ui.ShowMessage("x", "Error", MessageButtons::Ok, MessageOwner::ProgressWindow);
    QCOMPARE(owner, main_);

    ui.OpenProgress([] {});
    answerNext(QMessageBox::Ignore);
    QCOMPARE(ui.ShowMessage("CRC error", "Error", MessageButtons::AbortRetryIgnore, MessageOwner::ProgressWindow),
             MessageAnswer::Ignore);
    QCOMPARE(owner, ui.ProgressWindow());
    answerNext(QMessageBox::Cancel);
    QCOMPARE(ui.ShowMessage("Unreadable", "Error", MessageButtons::RetryCancel, MessageOwner::MainWindow),
             MessageAnswer::Cancel);
    QCOMPARE(owner, main_);
    ui.CloseProgress();
}

void QtRestoreUiTest::QuestionsDuringARestoreTakeInput() {
    // The main window is disabled; the boxes and dialogs shown meanwhile must not be.
    QtRestoreUi ui(main_);
    ui.OpenProgress([] {});
    bool boxEnabled = false;
    test::WhenModalAppears([&](QWidget* modal) {
        boxEnabled = modal->isEnabled();
        QTest::mouseClick(qobject_cast<QMessageBox*>(modal)->button(QMessageBox::No), Qt::LeftButton);
    });
    QCOMPARE(ui.ShowMessage("Are you sure you want to abort?", "Abort?", MessageButtons::YesNo, MessageOwner::MainWindow),
             MessageAnswer::No);
    QVERIFY(boxEnabled);

    QWidget* fileOwner = nullptr;
    bool fileEnabled = false;
    test::WhenModalAppears([&](QWidget* modal) {
        auto* dialog = qobject_cast<FileExistsDialog*>(modal);
        fileOwner = dialog->parentWidget();
        fileEnabled = dialog->isEnabled() && dialog->ReplaceButton()->isEnabled();
        QTest::mouseClick(dialog->DoNotAskAgain(), Qt::LeftButton, {}, QPoint(6, 6));
        QTest::mouseClick(dialog->ReplaceButton(), Qt::LeftButton);
    });
    QCOMPARE(ui.AskFileExists("/home/user/a.doc"), (FileAnswer{FileAnswer::Choice::Replace, true}));
    QCOMPARE(fileOwner, ui.ProgressWindow());
    QVERIFY(fileEnabled);
    ui.CloseProgress();
}

void QtRestoreUiTest::DirectoryQuestionAnswers() {
    QtRestoreUi ui(main_);
    QWidget* owner = nullptr;
    test::WhenModalAppears([&](QWidget* modal) {
        auto* dialog = qobject_cast<DirectoryExistsDialog*>(modal);
        owner = dialog->parentWidget();
        dialog->Choice(DirectoryAnswer::PromptEach)->setChecked(true);
        QTest::mouseClick(dialog->OkayButton(), Qt::LeftButton);
    });
    DirectoryQuestion question;
    question.folder = "/home/user/Data";
    QCOMPARE(ui.AskDirectoryExists(question), DirectoryAnswer::PromptEach);
    QCOMPARE(owner, main_);
    // Where rename is not offered its choice cannot be taken, and the preselected answer is
    // what Okay gives.
    question.rename = DirectoryQuestion::Rename::NotOffered;
    question.renameRefusal = "it is your home folder";
    question.preselected = DirectoryAnswer::PromptEach;
    bool renameEnabled = true;
    test::WhenModalAppears([&](QWidget* modal) {
        auto* dialog = qobject_cast<DirectoryExistsDialog*>(modal);
        renameEnabled = dialog->Choice(DirectoryAnswer::RenameFolder)->isEnabled();
        QTest::mouseClick(dialog->OkayButton(), Qt::LeftButton);
    });
    QCOMPARE(ui.AskDirectoryExists(question), DirectoryAnswer::PromptEach);
    QVERIFY(!renameEnabled);
}

void QtRestoreUiTest::ArchiveFilterNamesOnlyThatArchive() {
    QCOMPARE(QtRestoreUi::ArchiveFileFilter("Job2.TQBak"), QStringLiteral("Job2.TQBak (Job2.TQBak)"));
    // Names that a filter's pattern cannot hold as they are still make one usable pattern
    // that takes the archive and not its neighbours.
    for (const char* name : {"My Job2.TQBak", "Job (old)3.TQBak", "a[1].TQBak", "Sauvegarde été.TQBak"}) {
        QString filter = QtRestoreUi::ArchiveFileFilter(name);
        QRegularExpression form(QStringLiteral("^(.*) \\(([a-zA-Z0-9_.,*?+;#\\-\\[\\]@\\{\\}/!<>\\$%&=^~:\\|]*)\\)$"));
        QRegularExpressionMatch match = form.match(filter);
        QVERIFY2(match.hasMatch(), qPrintable(filter));
        QCOMPARE(match.captured(1), QString::fromUtf8(name));
        QString pattern = match.captured(2);
        QVERIFY(!pattern.contains(QLatin1Char(' ')));
        QVERIFY2(QDir::match(pattern, QString::fromUtf8(name)), qPrintable(pattern));
        QString neighbour = QString::fromUtf8(name).replace(QStringLiteral(".TQBak"), QStringLiteral("9.TQBak"));
        QVERIFY(!QDir::match(pattern, neighbour));
    }
}

void QtRestoreUiTest::PumpLetsClicksThrough() {
    QtRestoreUi ui(main_);
    int requests = 0;
    ui.OpenProgress([&] { ++requests; });
    // A click queued for the progress window is seen at the next pump, as during an extraction.
    QMetaObject::invokeMethod(ui.ProgressWindow()->CancelButton(), "click", Qt::QueuedConnection);
    QCOMPARE(requests, 0);
    QCOMPARE(ui.PumpMessages(), false);
    QCOMPARE(requests, 1);
    ui.CloseProgress();
}

QTEST_MAIN(QtRestoreUiTest)
#include "qt_restore_ui_test.moc"
