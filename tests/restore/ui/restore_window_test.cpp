// SPDX-License-Identifier: GPL-3.0-or-later
// The restore window and its Easy Restore page: the menu and title as sets open, fail and
// change date, the status bar and pages as the window is resized, the Restore button rule,
// Quit during a restore, and a whole restore of a set written by the backup program.
#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTabBar>
#include <QTreeWidget>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSettings>
#include <QInputDialog>
#include <QtTest>

#include <functional>
#include <sys/stat.h>
#include <memory>
#include <vector>

#include "restore/archive_dates.h"
#include "restore/ui/easy_restore_page.h"
#include "restore/ui/restore_main_window.h"
#include "restore/ui/restore_status_bar.h"
#include "restore/ui/search_log_page.h"
#include "restore/ui/splitter_bar.h"
#include "tests/restore/set_builder.h"
#include "tests/support/modal_windows.h"
#include "tests/support/temp_folder.h"
#include "tests/support/tools.h"

using namespace halvex;

namespace {

// Answers the message boxes as they come, in order, noting their texts in `seen`.
void AnswerBoxes(QStringList* seen, std::vector<QMessageBox::StandardButton> buttons) {
    if (buttons.empty()) return;
    const QMessageBox::StandardButton button = buttons.front();
    buttons.erase(buttons.begin());
    test::WhenModalAppears([=](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (!box) return;
        seen->append(box->windowTitle() + QStringLiteral(": ") + box->text());
        if (QAbstractButton* pressed = box->button(button)) pressed->click();
        AnswerBoxes(seen, buttons);
    });
}

EasyRestorePage& EasyPage(RestoreMainWindow& window) {
    return *dynamic_cast<EasyRestorePage*>(window.Page(RestoreMainWindow::kEasyRestorePage));
}

QStringList MenuTexts(QMenu* menu) {
    QStringList texts;
    for (QAction* action : menu->actions()) texts.append(action->text() + (action->isChecked() ? "*" : ""));
    return texts;
}

void ClickRow(QTreeWidget* list, int row, int x) {
    const QRect place = list->visualItemRect(list->topLevelItem(row));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, QPoint(x, place.center().y()));
}

// Restores the first target of the Easy Restore page into `folder`; the message boxes seen.
QStringList RestoreFirstTarget(RestoreMainWindow& window, const std::string& folder) {
    EasyRestorePage& page = EasyPage(window);
    page.SetAlternateFolder(folder);
    page.AlternateBox()->click();
    ClickRow(page.TargetList(), 0, page.TargetList()->columnWidth(0) + 20);
    QStringList seen;
    AnswerBoxes(&seen, {QMessageBox::Ok});
    QTest::mouseClick(page.RestoreButton(), Qt::LeftButton);
    return seen;
}

// Types `text` into the next input dialog and presses OK, noting its label in `seen`.
void AnswerInputDialog(QStringList* seen, const QString& text) {
    test::WhenModalAppears([=](QWidget* modal) {
        auto* dialog = qobject_cast<QInputDialog*>(modal);
        if (!dialog) return;
        seen->append(dialog->labelText());
        dialog->setTextValue(text);
        dialog->accept();
    });
}

}  // namespace

class RestoreWindowTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void MenuTitleAndDates();
    void SetWithoutDatesSelectsNone();
    void KeysStatusEdgesAndPages();
    void RestoreButtonFollowsTheChecks();
    void QuitDuringARestoreWaitsForIt();
    void RestoresASetOfTheBackupProgram();
    void SizeAndSplitterAreKeptAndTheLogGrows();
    void EncryptedSetAsksForItsPassword();

private:
    // A set of three archives: Data stores a.txt and sub/b.txt, then a new a.txt; Docs d.doc.
    std::string WriteSet() {
        test::SetBuilder builder(temp_->path(), "Job");
        builder.AddTarget("Data", "/src/data");
        builder.AddTarget("Docs", "/src/docs");
        builder.Run(test::Day(1), {{"Data", "", "(a.txt:5)[sub(b.txt:300000)]"}, {"Docs", "", "(d.doc:2)"}});
        builder.Run(test::Day(40), {{"Data", "", "(a.txt:6)"}, {"Docs", "", ""}});
        return builder.Run(test::Day(90), {{"Data", "", ""}, {"Docs", "", ""}});
    }

    std::unique_ptr<test::TempFolder> temp_;
};

void RestoreWindowTest::init() {
    temp_ = std::make_unique<test::TempFolder>();
}

void RestoreWindowTest::cleanup() {
    temp_.reset();
}

void RestoreWindowTest::MenuTitleAndDates() {
    RestoreMainWindow window;
    window.show();
    QCOMPARE(window.windowTitle(), QStringLiteral("Halvex Restore"));
    QCOMPARE(window.size(), QSize(687, 500));
    QCOMPARE(window.OpenAction()->shortcut(), QKeySequence(QStringLiteral("Ctrl+O")));
    QCOMPARE(window.QuitAction()->shortcut(), QKeySequence(QStringLiteral("Ctrl+Q")));
    QVERIFY(!window.DateMenu()->menuAction()->isEnabled());
    QCOMPARE(RestoreMainWindow::OpenFilter(), QStringLiteral("Halvex Backup Archives (*.TQBak)"));
    QCOMPARE(window.Tabs()->tabText(2), QStringLiteral("File Search && Log Viewer"));

    const std::string last = WriteSet();
    QVERIFY(window.ShowSet(last));
    QVERIFY(window.DateMenu()->menuAction()->isEnabled());
    const QString newest = QString::fromStdString(FormatArchiveDate(test::Day(90)));
    const QString oldest = QString::fromStdString(FormatArchiveDate(test::Day(1)));
    QCOMPARE(window.windowTitle(), "Halvex Restore - Job3.TQBak (" + newest + ")");
    QCOMPARE(MenuTexts(window.DateMenu()),
             (QStringList{"2: " + newest + "*", "1: " + QString::fromStdString(FormatArchiveDate(test::Day(40))),
                          "0: " + oldest}));
    QCOMPARE(window.StatusBar()->Text(0), "Archive Date: " + newest);
    QCOMPARE(window.Set().CurrentArchiveIndex(), 2);

    // The oldest date, then the same item again: the mark stays, nothing else changes.
    for (int twice = 0; twice < 2; ++twice) {
        window.DateMenu()->actions().last()->trigger();
        QCOMPARE(MenuTexts(window.DateMenu()).last(), "0: " + oldest + "*");
        QVERIFY(!window.DateMenu()->actions().first()->isChecked());
        QCOMPARE(window.Set().CurrentDateIndex(), 0);
        QCOMPARE(window.StatusBar()->Text(0), "Archive Date: " + oldest);
        QCOMPARE(window.windowTitle(), "Halvex Restore - Job3.TQBak (" + oldest + ")");
    }

    // A failed open leaves no set, an empty grayed date menu and the last title; the message
    // says why the archive could not be opened.
    const std::string fifo = temp_->path() + "/fifo.TQBak";
    QCOMPARE(mkfifo(fifo.c_str(), 0600), 0);
    test::WriteFile(temp_->path() + "/broken.TQBak", "not a zip archive");
    test::WriteArchive(temp_->path() + "/other.TQBak", {{"readme.txt", "some other zip archive"}});
    test::WriteArchive(temp_->path() + "/lacking.TQBak", {{"ToDirs.tq", test::ToDirsBytes(0, {"Data"}), 0}});
    struct Case {
        std::string path;
        QString message;
    };
    for (const Case& c : {Case{temp_->path() + "/broken.TQBak", "Error opening archive: not a set."},
                          Case{temp_->path() + "/other.TQBak", "Error opening archive: not a set."},
                          Case{temp_->path() + "/lacking.TQBak", "Error opening archive: damaged."},
                          Case{temp_->path() + "/missing.TQBak", "Error opening archive: no such file or directory."},
                          // A fifo is refused at once, and named (a blocking open would never come back).
                          Case{fifo, QString::fromStdString("Error opening archive: not a regular file.\nCould not open '" +
                                                            fifo + "': not a regular file.")}}) {
        QStringList seen;
        AnswerBoxes(&seen, {QMessageBox::Ok});
        QVERIFY(!window.ShowSet(c.path));
        QCOMPARE(seen, QStringList{"Halvex Restore: " + c.message});
        QVERIFY(!window.Set().IsOpen());
        QVERIFY(window.DateMenu()->actions().isEmpty());
        QVERIFY(!window.DateMenu()->menuAction()->isEnabled());
        QCOMPARE(window.StatusBar()->Text(0), QString());
        QCOMPARE(window.windowTitle(), QStringLiteral("Halvex Restore - Job3.TQBak"));
        QCOMPARE(EasyPage(window).TargetList()->topLevelItemCount(), 0);
    }
}

void RestoreWindowTest::SetWithoutDatesSelectsNone() {
    // One target that was never backed up: the set opens, but has no date.
    const std::string path = temp_->path() + "/Empty.TQBak";
    test::WriteArchive(path, {{"Data.tq", test::HistoryBytes("/src/data", std::vector<test::Record>{})},
                              {"ToDirs.tq", test::ToDirsBytes(0, {"Data"})}});
    RestoreMainWindow window;
    QVERIFY(window.ShowSet(path));
    QCOMPARE(window.SelectedDate(), -1);
    QVERIFY(!window.DateMenu()->menuAction()->isEnabled());
    QCOMPARE(window.StatusBar()->Text(0), QString());
    EasyRestorePage& page = EasyPage(window);
    QCOMPARE(page.TargetList()->topLevelItemCount(), 1);
    page.TargetList()->topLevelItem(0)->setCheckState(0, Qt::Checked);
    QStringList seen;
    AnswerBoxes(&seen, {QMessageBox::Ok});
    QVERIFY(!page.Restore());
    QCOMPARE(seen.size(), 1);
    QVERIFY(seen.first().contains(QStringLiteral("not backed up")));
}

void RestoreWindowTest::KeysStatusEdgesAndPages() {
    // Before the window lays it out, the status bar's parts end at 150 and 250 pixels.
    RestoreStatusBar fresh;
    QCOMPARE(fresh.Edge(0), 150);
    QCOMPARE(fresh.Edge(1), 250);
    RestoreMainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    for (Qt::Key key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter}) {
        QTest::keyClick(&window, key);
        QTest::keyClick(EasyPage(window).TargetList(), key);
        QVERIFY(window.isVisible());
    }
    QVERIFY(EasyPage(window).isVisible());

    for (QSize size : {QSize(687, 500), QSize(900, 640), QSize(700, 520)}) {
        window.resize(size);
        QCoreApplication::processEvents();
        const int width = window.centralWidget()->width();
        RestoreStatusBar* status = window.StatusBar();
        QCOMPARE(status->Edge(0), width - 320);
        QCOMPARE(status->Edge(1), width - 150);
        QCOMPARE(status->Part(2)->geometry().right(), width - 1);
        QCOMPARE(status->geometry().bottom(), window.centralWidget()->height() - 1);
        for (int index = 0; index < 3; ++index) {
            const QRect page = window.Page(index)->Widget()->geometry();
            QCOMPARE(page.top(), window.Tabs()->geometry().bottom() + 1);
            QCOMPARE(page.bottom() + 1, status->y());
            QCOMPARE(page.width(), width);
        }
    }
    // Only the selected tab's page is shown.
    window.Tabs()->setCurrentIndex(RestoreMainWindow::kSearchLogPage);
    QVERIFY(!EasyPage(window).isVisible());
    QVERIFY(window.Page(RestoreMainWindow::kSearchLogPage)->Widget()->isVisible());
}

void RestoreWindowTest::RestoreButtonFollowsTheChecks() {
    RestoreMainWindow window;
    window.show();
    QVERIFY(window.ShowSet(WriteSet()));
    EasyRestorePage& page = EasyPage(window);
    QTreeWidget* list = page.TargetList();
    QCOMPARE(list->topLevelItemCount(), 2);
    QCOMPARE(list->topLevelItem(1)->text(0), QStringLiteral("Docs"));
    QCOMPARE(list->topLevelItem(1)->text(1), QStringLiteral("/src/docs"));
    QVERIFY(!page.RestoreButton()->isEnabled());
    QVERIFY(page.AlternateBox()->isEnabled());

    // Every click toggles once: on the row's text and on its check box alike.
    const int onText = list->visualItemRect(list->topLevelItem(1)).left() + list->columnWidth(0) + 20;
    const int onCheckBox = list->visualItemRect(list->topLevelItem(1)).left() + 8;
    const struct {
        int row, x;
        bool checked;
    } clicks[] = {{1, onText, true}, {1, onText, false}, {1, onCheckBox, true}, {0, onCheckBox, true}, {1, onCheckBox, false}};
    for (const auto& click : clicks) {
        ClickRow(list, click.row, click.x);
        QCOMPARE(list->topLevelItem(click.row)->checkState(0) == Qt::Checked, click.checked);
        QCOMPARE(page.RestoreButton()->isEnabled(), !page.CheckedRows().empty());
    }
    QTest::keyClick(list, Qt::Key_Space);  // the current row, Docs
    QCOMPARE(page.CheckedRows(), (std::vector<int>{0, 1}));

    page.SetAlternateFolder("/home/user/Halvex Restored");
    QTest::mouseClick(page.AlternateBox(), Qt::LeftButton, {}, QPoint(6, page.AlternateBox()->height() / 2));
    QCOMPARE(list->topLevelItem(0)->text(1), QStringLiteral("/home/user/Halvex Restored/Data"));
    QCOMPARE(list->topLevelItem(1)->text(1), QStringLiteral("/home/user/Halvex Restored/Docs"));
    QTest::mouseClick(page.AlternateBox(), Qt::LeftButton, {}, QPoint(6, page.AlternateBox()->height() / 2));
    QCOMPARE(list->topLevelItem(0)->text(1), QStringLiteral("/src/data"));

    // Closing the set empties the page.
    page.AlternateBox()->setChecked(true);
    window.close();
    QCOMPARE(list->topLevelItemCount(), 0);
    QVERIFY(!page.RestoreButton()->isEnabled());
    QVERIFY(!page.AlternateBox()->isEnabled());
    QVERIFY(!page.AlternateBox()->isChecked());
    QVERIFY(!window.Set().IsOpen());
}

void RestoreWindowTest::QuitDuringARestoreWaitsForIt() {
    RestoreMainWindow window;
    window.show();
    QVERIFY(window.ShowSet(WriteSet()));
    EasyRestorePage& page = EasyPage(window);
    page.SetAlternateFolder(temp_->path() + "/out");
    page.AlternateBox()->click();
    page.TargetList()->topLevelItem(0)->setCheckState(0, Qt::Checked);

    // The close box is used as soon as the restore lets window events through.
    QTimer::singleShot(0, &window, [&] {
        QVERIFY(window.Set().IsRunning());
        window.close();
        QVERIFY(window.isVisible());
        QVERIFY(window.Set().IsOpen());
    });
    QStringList seen;
    AnswerBoxes(&seen, {QMessageBox::Yes, QMessageBox::Ok});
    page.RestoreButton()->click();
    QCOMPARE(seen, (QStringList{"Quit??: File restoration in progress. Are you sure you want to abort?",
                                "Aborted: Restoration Aborted"}));
    // Once the restore has ended, the window ends and the set is closed.
    QTRY_VERIFY(!window.isVisible());
    QVERIFY(!window.Set().IsOpen());
    QVERIFY(!window.QuitPending());
}

void RestoreWindowTest::RestoresASetOfTheBackupProgram() {
    const std::string program = test::BuiltProgram("halvex-backup");
    test::MakeFolders(temp_->path() + "/data/sub");
    test::MakeFolders(temp_->path() + "/program");
    test::WriteFile(temp_->path() + "/program/backup.ini", "[Home]\r\n\tdir:\"" + temp_->path() +
                                                               "/data\"\r\n\tto:\"Data\"\r\n\tzip:\"" +
                                                               temp_->path() + "/sets\"\r\n");
    auto backUp = [&] {
        const test::CommandResult r = test::RunCommand({program, "--run", "--dir", temp_->path() + "/program"});
        QVERIFY2(r.exitCode == 0, r.errors.c_str());
    };
    test::WriteFile(temp_->path() + "/data/a.txt", "first");
    test::WriteFile(temp_->path() + "/data/sub/b.txt", "stays");
    test::SetMtime(temp_->path() + "/data/a.txt", 1700000001);
    backUp();
    test::WriteFile(temp_->path() + "/data/a.txt", "second version");
    test::SetMtime(temp_->path() + "/data/a.txt", 1700000003);
    backUp();

    RestoreMainWindow window;
    window.show();
    QVERIFY(window.ShowSet(temp_->path() + "/sets/Home2.TQBak"));
    QCOMPARE(RestoreFirstTarget(window, temp_->path() + "/restored"), QStringList{"Success: Restoration Complete"});
    QCOMPARE(test::ReadFile(temp_->path() + "/restored/Data/a.txt"), std::string("second version"));
    QCOMPARE(test::ReadFile(temp_->path() + "/restored/Data/sub/b.txt"), std::string("stays"));
    QVERIFY(window.isEnabled());
}

// A set that turned encrypted after its first archive: the dialog asks once, a wrong password
// is told as such and opens nothing, and the right one opens every date and restores.
void RestoreWindowTest::EncryptedSetAsksForItsPassword() {
    const std::string program = test::BuiltProgram("halvex-backup");
    const std::string root = temp_->path();
    test::MakeFolders(root + "/data");
    test::MakeFolders(root + "/program");
    test::WriteFile(root + "/key", "correct horse battery staple\n");
    QVERIFY(chmod((root + "/key").c_str(), 0600) == 0);
    const std::string job = "[Home]\r\n\tdir:\"" + root + "/data\"\r\n\tto:\"Data\"\r\n\tzip:\"" + root + "/sets\"\r\n";
    const auto backUp = [&](const std::string& text, const std::string& extraLine) {
        test::WriteFile(root + "/program/backup.ini", job + extraLine);
        test::WriteFile(root + "/data/a.txt", text);
        const test::CommandResult r = test::RunCommand({program, "--run", "--dir", root + "/program"});
        QVERIFY2(r.exitCode == 0, r.errors.c_str());
    };
    backUp("plain", "");
    test::SetMtime(root + "/data/a.txt", 1700000001);
    backUp("secret", "\tencrypt:\"" + root + "/key\"\r\n");

    RestoreMainWindow window;
    window.show();
    QStringList asked, told;
    AnswerInputDialog(&asked, "not it");
    AnswerBoxes(&told, {QMessageBox::Ok});
    QVERIFY(!window.ShowSet(root + "/sets/Home2.TQBak"));
    QCOMPARE(asked, QStringList{"Password for Home2.TQBak:"});
    QCOMPARE(told.size(), 1);
    QVERIFY2(told[0].contains("wrong password for") && told[0].contains("Home2.TQBak"), qPrintable(told[0]));
    QVERIFY(!window.DateMenu()->menuAction()->isEnabled());

    AnswerInputDialog(&asked, "correct horse battery staple");
    QVERIFY(window.ShowSet(root + "/sets/Home2.TQBak"));
    QCOMPARE(asked.size(), 2);
    QCOMPARE(window.DateMenu()->actions().size(), 2);
    QCOMPARE(RestoreFirstTarget(window, root + "/restored"), QStringList{"Success: Restoration Complete"});
    QCOMPARE(test::ReadFile(root + "/restored/Data/a.txt"), std::string("secret"));
}

QTEST_MAIN(RestoreWindowTest)
void RestoreWindowTest::SizeAndSplitterAreKeptAndTheLogGrows() {
    // Settings under a folder of the test's own, emptied first.
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(temp_->path() + "/config"));
    QSettings(QStringLiteral("halvex"), QStringLiteral("halvex-restore")).clear();
    const auto search = [](RestoreMainWindow& window) {
        return dynamic_cast<SearchLogPage*>(window.Page(RestoreMainWindow::kSearchLogPage));
    };
    double share = 0;
    {
        RestoreMainWindow window;
        window.RestoreSettings();
        window.show();
        QCOMPARE(window.size(), QSize(687, 500));  // nothing kept yet
        test::SetBuilder builder(temp_->path(), "Job");
        builder.AddTarget("Data", "/data");
        QVERIFY(window.ShowSet(builder.Run(test::Day(1), {{"Data", "", "(a@1:1)"}})));
        // Ctrl+F goes to the search page, into its pattern.
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QTest::keySequence(&window, QKeySequence(Qt::CTRL | Qt::Key_F));
        QCOMPARE(window.Tabs()->currentIndex(), static_cast<int>(RestoreMainWindow::kSearchLogPage));
        QVERIFY(search(window)->PatternEdit()->hasFocus());
        // The log pane takes part of the new height, not the list alone.
        const int logBefore = search(window)->Log()->height(), listBefore = search(window)->Results()->height();
        window.resize(900, 800);
        QCoreApplication::processEvents();
        const int logGrowth = search(window)->Log()->height() - logBefore;
        const int listGrowth = search(window)->Results()->height() - listBefore;
        QVERIFY2(logGrowth > 100 && listGrowth > 100, qPrintable(QString("log +%1, list +%2").arg(logGrowth).arg(listGrowth)));
        search(window)->SetSplitterShare(0.5);
        share = search(window)->SplitterShare();
        QVERIFY(window.close());
    }
    RestoreMainWindow again;
    again.RestoreSettings();
    again.show();
    QCoreApplication::processEvents();
    QCOMPARE(again.size(), QSize(900, 800));
    again.Tabs()->setCurrentIndex(RestoreMainWindow::kSearchLogPage);
    QCoreApplication::processEvents();
    QCOMPARE(search(again)->SplitterShare(), share);
    const SplitterBar& bar = *search(again)->Splitter();
    QVERIFY2(std::abs(bar.Centre() - search(again)->height() / 2) <= 1, qPrintable(QString("%1 of %2").arg(bar.Centre()).arg(search(again)->height())));
}

#include "restore_window_test.moc"
