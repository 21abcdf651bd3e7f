// SPDX-License-Identifier: GPL-3.0-or-later
// Draws every window of both programs with sample contents and saves each as a PNG, to look
// at the layouts by eye: ui_screens OUTPUT_FOLDER [--font "Family,points"]
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFont>
#include <QMessageBox>
#include <QPixmap>
#include <QScreen>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <functional>
#include <string>

#include "backup/job_config.h"
#include "backup/ui/backup_progress_dialog.h"
#include "backup/ui/job_selection_dialog.h"
#include "common/ui/qt_message_box.h"
#include "restore/ui/directory_exists_dialog.h"
#include "restore/ui/file_exists_dialog.h"
#include "restore/ui/browser_list_model.h"
#include "restore/ui/easy_restore_page.h"
#include "restore/ui/entry_actions.h"
#include "restore/ui/file_browser_page.h"
#include "restore/ui/restore_main_window.h"
#include "restore/ui/restore_progress_dialog.h"
#include "restore/ui/restore_status_bar.h"
#include "restore/ui/search_log_page.h"
#include "restore/ui/search_results_model.h"
#include "restore/ui/sort_header.h"
#include "restore/ui/splitter_bar.h"
#include "restore/ui/styled_label.h"
#include "restore/ui/versions_dialog.h"
#include "tests/restore/set_builder.h"
#include "tests/support/temp_folder.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QStandardItemModel>
#include <QTabBar>
#include <QTreeView>
#include <QTreeWidget>

using namespace halvex;

namespace {

QString outputFolder;

void Save(QWidget& window, const QString& name) {
    window.show();
    // Views lay themselves out in posted events of their own: let them settle.
    for (int round = 0; round < 3; ++round) QApplication::processEvents();
    QString path = QDir(outputFolder).filePath(name + QStringLiteral(".png"));
    bool saved = window.grab().save(path);
    std::printf("%s %s (%dx%d) \"%s\"\n", saved ? "saved" : "FAILED", qPrintable(path), window.width(),
                window.height(), qPrintable(window.windowTitle()));
}

// The whole screen, to see where windows are placed (on X; other platforms grab nothing).
void SaveScreen(const QString& name) {
    for (int round = 0; round < 3; ++round) QApplication::processEvents();
    const QPixmap screen = QGuiApplication::primaryScreen()->grabWindow(0);
    if (screen.isNull()) return;
    const QString path = QDir(outputFolder).filePath(name + QStringLiteral("-screen.png"));
    std::printf("%s %s (whole screen)\n", screen.save(path) ? "saved" : "FAILED", qPrintable(path));
}

// Saves the message box that ask opens, then answers it with its first button.
void SaveMessageBox(const QString& name, const std::function<void()>& ask) {
    QTimer::singleShot(200, [name] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            Save(*box, name);
            SaveScreen(name);
            box->buttons().first()->click();
        }
    });
    ask();
}

Job MakeJob(const char* name, platform::SystemTime lastBackup) {
    Job job;
    job.name = name;
    job.lastBackup = lastBackup;
    return job;
}

// Grabs a popup menu opened from the window's menu bar.
void SaveMenu(QMenu& menu, const QPoint& at, const QString& name) {
    menu.popup(at);
    QApplication::processEvents();
    Save(menu, name);
    menu.hide();
}

// The pages' shared controls on their own: a file list with its sort header (sorted by size,
// descending) and a splitter bar under a styled note.
void SaveRestoreControls(const QString& suffix) {
    QWidget page;
    page.resize(460, 230);
    QStandardItemModel model(0, 5);
    model.setHorizontalHeaderLabels({QString(), QStringLiteral("File Name"), QStringLiteral("File Date"),
                                     QStringLiteral("File Size"), QStringLiteral("Archive")});
    const char* rows[][4] = {{"<..>", "", "", ""},
                             {"report.doc", "Mar-22 2023 12:00:00", "120 KB", "Home3.TQBak"},
                             {"notes.txt", "Jan-11 2023 08:15:42", "2 KB", "Home.TQBak"}};
    for (const auto& row : rows) {
        QList<QStandardItem*> items{new QStandardItem()};
        for (const char* text : row) items.append(new QStandardItem(QString::fromLatin1(text)));
        model.appendRow(items);
    }
    QTreeView list(&page);
    list.setRootIsDecorated(false);
    list.setModel(&model);
    SortHeader* header = SortHeader::AttachTo(list);
    header->SetLockedColumns({0});
    header->SetLockEnabled(true);
    list.setColumnWidth(0, 18);
    list.setColumnWidth(1, 140);
    list.setColumnWidth(2, 120);
    list.setColumnWidth(3, 70);
    header->ClickColumn(3);
    header->ClickColumn(3);
    list.setGeometry(8, 8, 444, 120);
    SplitterBar bar(Qt::Horizontal, QRect(8, 134, 444, 6), &page);
    StyledLabel note(QStringLiteral("Note:"), &page);
    note.TakeFont(page.font()).SetBold(true).SetTextColour(QColor(0, 0, 128));
    note.setGeometry(8, 148, 60, note.sizeHint().height());
    StyledLabel line(QString(), &page);
    line.SetBackgroundColour(QColor(0, 0, 128));
    line.setGeometry(8, 180, 444, 2);
    Save(page, QStringLiteral("restore-controls") + suffix);
}

void SaveRestoreWindows(const QString& suffix) {
    SaveRestoreControls(suffix);
    RestoreMainWindow empty;
    Save(empty, QStringLiteral("restore-main-empty") + suffix);
    QMenu* menu = empty.menuBar()->findChild<QMenu*>();
    SaveMenu(*menu, empty.mapToGlobal(QPoint(0, empty.menuBar()->height())), QStringLiteral("restore-menu-empty") + suffix);
    SaveMessageBox(QStringLiteral("restore-open-error") + suffix, [&] { empty.ShowSet("/nonexistent/Job.TQBak"); });

    // A set of three runs with three targets, one of them with a long source folder.
    test::TempFolder folder;
    test::SetBuilder builder(folder.path(), "Home");
    builder.AddTarget("Documents", "/home/user/Documents");
    builder.AddTarget("Pictures", "/home/user/Pictures from the old computer/Holidays and family");
    builder.AddTarget("Mail", "/home/user/.local/share/mail");
    builder.Run(test::Day(10), {{"Documents", "", "(a.doc:2000)"}, {"Pictures", "", "(p.jpg:90000)"},
                                {"Mail", "", "(inbox:500)"}});
    builder.Run(test::Day(45), {{"Documents", "", "(b.doc:3000)"}, {"Pictures", "", ""}, {"Mail", "", ""}});
    const std::string last = builder.Run(test::Day(80), {{"Documents", "", ""}, {"Pictures", "", ""}, {"Mail", "", "(inbox:900)"}});

    RestoreMainWindow window;
    window.ShowSet(last);
    auto* page = dynamic_cast<EasyRestorePage*>(window.Page(RestoreMainWindow::kEasyRestorePage));
    page->TargetList()->topLevelItem(0)->setCheckState(0, Qt::Checked);
    page->TargetList()->topLevelItem(2)->setCheckState(0, Qt::Checked);
    page->TargetList()->setCurrentItem(page->TargetList()->topLevelItem(2));
    Save(window, QStringLiteral("restore-main-open") + suffix);
    SaveMenu(*window.DateMenu(), window.mapToGlobal(QPoint(40, window.menuBar()->height() + 30)),
             QStringLiteral("restore-date-menu") + suffix);
    page->AlternateBox()->click();
    window.resize(900, 640);
    Save(window, QStringLiteral("restore-main-alternate-large") + suffix);
    window.resize(window.minimumSize());
    Save(window, QStringLiteral("restore-main-smallest") + suffix);
}

// The File Browser and the File Search & Log Viewer pages on a set with folders and a log.
void SaveBrowseAndSearchPages(const QString& suffix) {
    test::TempFolder folder;
    test::SetBuilder builder(folder.path(), "Home");
    builder.AddTarget("Documents", "/home/user/Documents");
    builder.AddTarget("Pictures", "/home/user/Pictures");
    const std::string t1 = std::to_string(test::Day(400, 3600 * 3 + 125)), t2 = std::to_string(test::Day(431, 7));
    builder.Run(test::Day(401),
                {{"Documents", "",
                  "(budget-2004.xls@" + t1 + ":48200,notes.txt@" + t1 + ":912,report.doc@" + t1 +
                      ":120400,letter-to-the-bank-about-the-new-account.doc@" + t1 + ":23000)[Letters(old.doc@" + t1 +
                      ":3000)[2004(january.doc@" + t1 + ":2100)] Recipes(soup.txt@" + t1 + ":400) Taxes]"},
                 {"Pictures", "", "(beach.jpg@" + t1 + ":2400000,family.png@" + t1 + ":1800000)[Holidays(sea.jpg@" +
                                      t1 + ":3100000)]"}});
    const std::string last = builder.Run(test::Day(432), {{"Documents", "", "(report.doc@" + t2 + ":131000)"},
                                                          {"Pictures", "", ""}});
    RestoreMainWindow window;
    window.ShowSet(last);
    window.Tabs()->setCurrentIndex(RestoreMainWindow::kFileBrowserPage);
    auto* browser = dynamic_cast<FileBrowserPage*>(window.Page(RestoreMainWindow::kFileBrowserPage));
    Save(window, QStringLiteral("restore-browser-set") + suffix);
    browser->OpenRow(0);  // Documents
    for (int row = 0; row < browser->ListModel()->rowCount(); ++row) {
        const QString name = browser->ListModel()->Text(row, BrowserListModel::NameColumn);
        if (name == QStringLiteral("Letters") || name.endsWith(QStringLiteral(".doc")))
            browser->List()->selectionModel()->select(browser->ListModel()->index(row, 0),
                                                      QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    browser->Tree()->expandAll();
    Save(window, QStringLiteral("restore-browser-folder") + suffix);
    window.resize(window.minimumSize());
    Save(window, QStringLiteral("restore-browser-smallest") + suffix);
    window.resize(687, 500);

    window.Tabs()->setCurrentIndex(RestoreMainWindow::kSearchLogPage);
    auto* search = dynamic_cast<SearchLogPage*>(window.Page(RestoreMainWindow::kSearchLogPage));
    Save(window, QStringLiteral("restore-search-empty") + suffix);
    search->PatternEdit()->setText(QStringLiteral("*.doc"));
    search->CurrentArchiveOnly()->setChecked(false);
    search->Search();
    Save(window, QStringLiteral("restore-search-results") + suffix);
    window.resize(900, 640);
    Save(window, QStringLiteral("restore-search-large") + suffix);
    window.resize(window.minimumSize());
    Save(window, QStringLiteral("restore-search-smallest") + suffix);

    // The actions on a hit and on browser rows, and a file's versions.
    window.resize(687, 500);
    search->Results()->selectionModel()->select(search->ResultsModel()->index(0, 0),
                                                QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    QMenu hitMenu;
    for (QAction* action : search->HitActions()) hitMenu.addAction(action);
    SaveMenu(hitMenu, window.mapToGlobal(QPoint(200, 200)), QStringLiteral("restore-search-hit-menu") + suffix);
    window.Tabs()->setCurrentIndex(RestoreMainWindow::kFileBrowserPage);
    for (int row = 0; row < browser->ListModel()->rowCount(); ++row)
        if (browser->ListModel()->Text(row, BrowserListModel::NameColumn) == QStringLiteral("report.doc"))
            browser->List()->selectionModel()->select(browser->ListModel()->index(row, 0),
                                                      QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    QMenu rowMenu;
    for (QAction* action : browser->RowActions()) rowMenu.addAction(action);
    SaveMenu(rowMenu, window.mapToGlobal(QPoint(300, 200)), QStringLiteral("restore-browser-row-menu") + suffix);
    VersionsDialog versions(browser->Actions(), "Documents\\report.doc", &window);
    Save(versions, QStringLiteral("restore-versions") + suffix);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: ui_screens OUTPUT_FOLDER [--font \"Family,points\"]\n");
        return 2;
    }
    outputFolder = QString::fromLocal8Bit(argv[1]);
    QString suffix;
    if (argc >= 4 && std::string(argv[2]) == "--font") {
        QStringList parts = QString::fromLocal8Bit(argv[3]).split(QLatin1Char(','));
        QApplication::setFont(QFont(parts.value(0), parts.value(1, QStringLiteral("10")).toInt()));
        suffix = QStringLiteral("-") + parts.value(0).remove(QLatin1Char(' ')) + parts.value(1);
    }
    QDir().mkpath(outputFolder);
    std::printf("dialog font: %s\n", qPrintable(QApplication::font().toString()));

    JobConfig three;
    three.jobs.push_back(MakeJob("Documents", platform::SystemTime{2004, 10, 3, 6, 21, 15, 0, 0}));
    three.jobs.push_back(MakeJob("Pictures and music of the whole family", {}));
    three.jobs.push_back(MakeJob("Mail", platform::SystemTime{2005, 2, 1, 22, 8, 0, 0, 0}));
    JobSelectionDialog selection(three, nullptr);
    selection.JobCheckBox(1)->setChecked(false);
    Save(selection, QStringLiteral("job-selection-3") + suffix);
    SaveScreen(QStringLiteral("job-selection-3") + suffix);

    JobConfig ten;
    for (int i = 0; i < 10; ++i) {
        std::string name = "Job " + std::to_string(i + 1);
        ten.jobs.push_back(MakeJob("", i % 3 ? platform::SystemTime{2004, 1, 0, 31, 12, 0, 0, 0} : platform::SystemTime{}));
        ten.jobs.back().name = name;
    }
    JobSelectionDialog selectionTen(ten, nullptr);
    Save(selectionTen, QStringLiteral("job-selection-10") + suffix);

    BackupProgressDialog progress(nullptr);
    progress.SetText(ProgressText::CurrentJob, "Documents");
    progress.show();
    QApplication::processEvents();
    progress.SetText(ProgressText::Status,
                     progress.FitStatusPath("Data\\Letters\\2004\\To the bank about the new account\\letter of October.doc"));
    progress.SetText(ProgressText::TimeRemaining, "3 minutes, 12 seconds");
    progress.SetProgressRange(0, 1000);
    progress.SetProgressPosition(420);
    progress.AnimateTitle();
    progress.AnimateTitle();
    Save(progress, QStringLiteral("backup-progress") + suffix);
    SaveMessageBox(QStringLiteral("backup-quit-question") + suffix, [&] {
        progress.ShowMessage("File copy in progress. Are you sure you want to abort?", "Quit??", MessageButtons::YesNo);
    });
    SaveMessageBox(QStringLiteral("backup-copy-error") + suffix, [&] {
        progress.ShowMessage("Could not open file:\n/home/user/data/locked <file>.txt", "Error",
                             MessageButtons::AbortRetryIgnore);
    });

    DirectoryExistsDialog directory("/home/user/Halvex Restored/Documents from the old computer/Letters", nullptr);
    Save(directory, QStringLiteral("directory-exists") + suffix);

    FileExistsDialog file("/home/user/Halvex Restored/Documents/Letters/2004/letter-to-the-bank-about-the-new-account.doc",
                          nullptr);
    Save(file, QStringLiteral("file-exists") + suffix);
    SaveMessageBox(QStringLiteral("file-exists-stop-question") + suffix, [&] { file.StopButton()->click(); });

    RestoreProgressDialog restore(nullptr, nullptr);
    restore.show();
    QApplication::processEvents();
    restore.SetFrom("Documents\\Letters\\2004\\letter-to-the-bank-about-the-new-account.doc");
    restore.SetTo("/home/user/Halvex Restored/Documents/Letters/2004");
    restore.SetTimeRemaining("1 minutes, 5 seconds");
    restore.SetBar(650);
    Save(restore, QStringLiteral("restore-progress") + suffix);

    SaveRestoreWindows(suffix);
    SaveBrowseAndSearchPages(suffix);
    return 0;
}
