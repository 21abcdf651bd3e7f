// SPDX-License-Identifier: GPL-3.0-or-later
// "Directory Exists..." and "File Exists...": each answer, the confirmation of Stop, and the
// path text.
#include <QCheckBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

#include "restore/ui/directory_exists_dialog.h"
#include "restore/ui/file_exists_dialog.h"
#include "tests/support/modal_windows.h"

using namespace halvex;

namespace {

const std::string kLongPath = "/home/user/Halvex Restored/Documents from the old computer/Letters/2004/To the bank.doc";

// Runs the dialog modally, lets act press its buttons, and returns its answer.
template <class Dialog>
auto RunDialog(Dialog& dialog, const std::function<void()>& act) {
    QTimer::singleShot(0, &dialog, act);
    dialog.exec();
    return dialog.Answer();
}

}  // namespace

class RestoreDialogsTest : public QObject {
    Q_OBJECT

private slots:
    void DirectoryExistsLayout();
    void DirectoryExistsAnswers_data();
    void DirectoryExistsAnswers();
    void DirectoryExistsCancelAndCloseAnswerZero();
    void PathTextIsShortenedToShowWhole();
    void FileExistsLayout();
    void FileExistsReplaceAndSkip_data();
    void FileExistsReplaceAndSkip();
    void StopAskedNoKeepsTheDialogOpen();
    void CloseBoxAsksLikeStop();
    void StopAskedYesAnswersZero();
};

void RestoreDialogsTest::DirectoryExistsLayout() {
    DirectoryExistsDialog dialog("/home/user/Data", nullptr);
    // A short path is shown as it is.
    QCOMPARE(dialog.PathText()->text(), QStringLiteral("/home/user/Data"));
    // Controls from top to bottom, each whole inside the window.
    QList<QWidget*> order = {dialog.PathText(), dialog.Choice(DirectoryAnswer::RenameFolder),
                             dialog.Choice(DirectoryAnswer::KeepExisting),
                             dialog.Choice(DirectoryAnswer::ReplaceExisting),
                             dialog.Choice(DirectoryAnswer::PromptEach), dialog.OkayButton()};
    for (qsizetype i = 1; i < order.size(); ++i) QVERIFY(order[i - 1]->geometry().bottom() < order[i]->y());
    for (QWidget* control : order) {
        QVERIFY(dialog.rect().contains(control->geometry()));
        QVERIFY(control->sizeHint().width() <= control->width());
    }
}

void RestoreDialogsTest::DirectoryExistsAnswers_data() {
    QTest::addColumn<std::optional<DirectoryAnswer>>("choice");
    QTest::newRow("untouched answers rename") << std::optional<DirectoryAnswer>();
    QTest::newRow("do not replace") << std::optional(DirectoryAnswer::KeepExisting);
    QTest::newRow("replace") << std::optional(DirectoryAnswer::ReplaceExisting);
    QTest::newRow("prompt") << std::optional(DirectoryAnswer::PromptEach);
    QTest::newRow("rename") << std::optional(DirectoryAnswer::RenameFolder);
}

void RestoreDialogsTest::DirectoryExistsAnswers() {
    QFETCH(std::optional<DirectoryAnswer>, choice);
    DirectoryExistsDialog dialog("/home/user/Data", nullptr);
    const DirectoryAnswer answer = RunDialog(dialog, [&] {
        if (choice) {
            QRadioButton* button = dialog.Choice(*choice);
            QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(6, button->height() / 2));
        }
        QTest::mouseClick(dialog.OkayButton(), Qt::LeftButton);
    });
    QCOMPARE(answer, choice.value_or(DirectoryAnswer::RenameFolder));
}

void RestoreDialogsTest::DirectoryExistsCancelAndCloseAnswerZero() {
    for (int way = 0; way < 3; ++way) {
        DirectoryExistsDialog dialog("/home/user/Data", nullptr);
        const DirectoryAnswer answer = RunDialog(dialog, [&] {
            dialog.Choice(DirectoryAnswer::ReplaceExisting)->setChecked(true);
            if (way == 0) QTest::mouseClick(dialog.CancelButton(), Qt::LeftButton);
            if (way == 1) dialog.close();
            if (way == 2) QTest::keyClick(&dialog, Qt::Key_Escape);
        });
        QCOMPARE(answer, DirectoryAnswer::Cancel);
    }
}

void RestoreDialogsTest::PathTextIsShortenedToShowWhole() {
    DirectoryExistsDialog folder(kLongPath, nullptr);
    FileExistsDialog file(kLongPath, nullptr);
    for (QLabel* text : {folder.PathText(), file.PathText()}) {
        QVERIFY(text->text() != QString::fromStdString(kLongPath));
        QVERIFY(text->text().contains(QStringLiteral("...")));
        QVERIFY(text->text().endsWith(QStringLiteral("/To the bank.doc")));
        QVERIFY2(text->sizeHint().width() <= text->width(), qPrintable(text->text()));
    }
}

void RestoreDialogsTest::FileExistsLayout() {
    FileExistsDialog dialog("/home/user/a.doc", nullptr);
    QCOMPARE(dialog.PathText()->text(), QStringLiteral("/home/user/a.doc"));
    // Every control whole inside the window, every fixed text shown whole.
    for (QWidget* control : dialog.findChildren<QWidget*>()) {
        if (control->parentWidget() != &dialog) continue;
        QVERIFY(dialog.rect().contains(control->geometry()));
        if (control != dialog.PathText()) QVERIFY(control->sizeHint().width() <= control->width());
    }
}

void RestoreDialogsTest::FileExistsReplaceAndSkip_data() {
    QTest::addColumn<bool>("replace");
    QTest::addColumn<bool>("doNotAskAgain");
    QTest::addColumn<FileAnswer>("answer");
    QTest::newRow("replace") << true << false << FileAnswer{FileAnswer::Choice::Replace, false};
    QTest::newRow("replace, do not ask again") << true << true << FileAnswer{FileAnswer::Choice::Replace, true};
    QTest::newRow("skip") << false << false << FileAnswer{FileAnswer::Choice::Skip, false};
    QTest::newRow("skip, do not ask again") << false << true << FileAnswer{FileAnswer::Choice::Skip, true};
}

void RestoreDialogsTest::FileExistsReplaceAndSkip() {
    QFETCH(bool, replace);
    QFETCH(bool, doNotAskAgain);
    QFETCH(FileAnswer, answer);
    FileExistsDialog dialog("/home/user/a.doc", nullptr);
    const FileAnswer got = RunDialog(dialog, [&] {
        if (doNotAskAgain) QTest::mouseClick(dialog.DoNotAskAgain(), Qt::LeftButton, {}, QPoint(6, 6));
        QTest::mouseClick(replace ? dialog.ReplaceButton() : dialog.SkipButton(), Qt::LeftButton);
    });
    QCOMPARE(got, answer);
}

void RestoreDialogsTest::StopAskedNoKeepsTheDialogOpen() {
    FileExistsDialog dialog("/home/user/a.doc", nullptr);
    QString title, text;
    QWidget* owner = nullptr;
    bool openAfterNo = false;
    const FileAnswer got = RunDialog(dialog, [&] {
        test::WhenModalAppears(
            [&](QWidget* modal) {
                title = modal->windowTitle();
                text = qobject_cast<QMessageBox*>(modal)->text();
                owner = modal->parentWidget();
                qobject_cast<QMessageBox*>(modal)->button(QMessageBox::No)->click();
            },
            &dialog);
        QTest::mouseClick(dialog.StopButton(), Qt::LeftButton);
        openAfterNo = dialog.isVisible();
        // The dialog still takes its answer afterwards.
        QTest::mouseClick(dialog.SkipButton(), Qt::LeftButton);
    });
    QVERIFY(openAfterNo);
    QCOMPARE(got, FileAnswer{FileAnswer::Choice::Skip});
    QCOMPARE(title, QStringLiteral("Abort..."));
    QCOMPARE(text, QStringLiteral("Are you sure you want to abort restoration?"));
    QCOMPARE(owner, &dialog);
}

void RestoreDialogsTest::CloseBoxAsksLikeStop() {
    FileExistsDialog dialog("/home/user/a.doc", nullptr);
    int questions = 0;
    bool openAfterNo = false;
    const FileAnswer got = RunDialog(dialog, [&] {
        test::AnswerNextMessageBox(QMessageBox::No, &dialog);
        dialog.close();
        ++questions;
        openAfterNo = dialog.isVisible();
        test::WhenModalAppears(
            [&](QWidget* modal) {
                ++questions;
                qobject_cast<QMessageBox*>(modal)->button(QMessageBox::Yes)->click();
            },
            &dialog);
        QTest::keyClick(&dialog, Qt::Key_Escape);
    });
    QVERIFY(openAfterNo);
    QCOMPARE(questions, 2);
    QCOMPARE(got, FileAnswer{FileAnswer::Choice::Stop});
}

void RestoreDialogsTest::StopAskedYesAnswersZero() {
    FileExistsDialog dialog("/home/user/a.doc", nullptr);
    const FileAnswer got = RunDialog(dialog, [&] {
        dialog.DoNotAskAgain()->setChecked(true);
        test::AnswerNextMessageBox(QMessageBox::Yes, &dialog);
        QTest::mouseClick(dialog.StopButton(), Qt::LeftButton);
    });
    QCOMPARE(got, FileAnswer{FileAnswer::Choice::Stop});
}

QTEST_MAIN(RestoreDialogsTest)
#include "restore_dialogs_test.moc"
