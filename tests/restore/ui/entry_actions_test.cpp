// SPDX-License-Identifier: GPL-3.0-or-later
// Acting on what the restore window shows, on a set written by the backup program: search
// hits restored to their own folders or below a chosen one, shown in the File Browser; a
// file's versions listed, restored and opened as private read-only copies.
#include <QAction>
#include <QCheckBox>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTabBar>
#include <QTreeView>
#include <QTreeWidget>
#include <QUrl>
#include <QtTest>

#include <sys/stat.h>

#include "platform/file_attributes.h"
#include "restore/archive_dates.h"
#include "restore/archive_set.h"
#include "restore/ui/browser_list_model.h"
#include "restore/ui/entry_actions.h"
#include "restore/ui/file_browser_page.h"
#include "restore/ui/restore_main_window.h"
#include "restore/ui/search_log_page.h"
#include "restore/ui/search_results_model.h"
#include "restore/ui/versions_dialog.h"
#include "tests/restore/scripted_restore_ui.h"
#include "tests/support/temp_folder.h"
#include "tests/support/tools.h"

using namespace halvex;

namespace {

const std::string kOld = "first letter";
const std::string kNew = "first letter, revised";

QAction* ActionNamed(const std::vector<QAction*>& actions, const QString& text) {
    for (QAction* action : actions)
        if (action->text() == text) return action;
    return nullptr;
}

int Mode(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? static_cast<int>(info.st_mode & 07777) : -1;
}

}  // namespace

class EntryActionsTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void HitsAreRestoredAndShown_data();
    void HitsAreRestoredAndShown();
    void VersionsAreRestoredAndOpened_data();
    void VersionsAreRestoredAndOpened();

private:
    FileBrowserPage* Browser() { return dynamic_cast<FileBrowserPage*>(window_->Page(RestoreMainWindow::kFileBrowserPage)); }
    SearchLogPage* Search() { return dynamic_cast<SearchLogPage*>(window_->Page(RestoreMainWindow::kSearchLogPage)); }
    std::string Src(const std::string& path) const { return *temp_ / ("src/" + path); }

    std::unique_ptr<test::TempFolder> temp_;
    std::unique_ptr<RestoreMainWindow> window_;
    test::ScriptedRestoreUi ui_;
    std::vector<QUrl> opened_;
};

// Two backups by the backup program: the second stores a new version of one.txt.
void EntryActionsTest::init() {
    const std::string program = test::BuiltProgram("halvex-backup");
    QVERIFY2(platform::IsRegularFile(program), "halvex-backup is not built");
    temp_ = std::make_unique<test::TempFolder>();
    const test::TempFolder& temp = *temp_;
    test::MakeFolders(Src("letters"));
    test::MakeFolders(temp / "program");
    test::WriteFile(Src("letters/one.txt"), kOld);
    test::SetMtime(Src("letters/one.txt"), 1700000000);
    test::WriteFile(Src("top.txt"), "top");
    test::WriteFile(temp / "program/backup.ini", "[Home]\r\n\tdir:\"" + temp / "src" + "\"\r\n\tto:\"Data\"\r\n\tzip:\"" +
                                                     temp / "sets" + "\"\r\n");
    for (int run = 0; run < 2; ++run) {
        if (run == 1) {
            test::WriteFile(Src("letters/one.txt"), kNew);
            test::SetMtime(Src("letters/one.txt"), 1700086400);
        }
        const test::CommandResult result = test::RunCommand({program, "--run", "--dir", temp / "program"});
        QVERIFY2(result.exitCode == 0, result.errors.c_str());
    }
    const std::optional<std::string> newest = FindNewestArchive(temp / "sets");
    QVERIFY(newest.has_value());
    window_ = std::make_unique<RestoreMainWindow>();
    window_->show();
    QVERIFY(window_->ShowSet(*newest));
    QCOMPARE(window_->Set().DateCount(), 2);
    ui_ = test::ScriptedRestoreUi{};
    window_->Set().SetUi(&ui_);
    opened_.clear();
    for (EntryActions* actions : {&Browser()->Actions(), &Search()->Actions()}) {
        actions->SetOpener([this](const QUrl& url) {
            opened_.push_back(url);
            return true;
        });
        actions->SetFolderChooser([this](const std::string&) { return std::optional<std::string>(*temp_ / "out"); });
    }
}

void EntryActionsTest::cleanup() {
    if (window_) window_->Set().SetUi(nullptr);
    window_.reset();
    temp_.reset();
}

void EntryActionsTest::HitsAreRestoredAndShown_data() {
    QTest::addColumn<QString>("how");
    QTest::addColumn<QStringList>("expected");  // path=content, relative to the test folder
    // Each hit to its own folder: the existing one.txt moves aside, top.txt comes back.
    QTest::newRow("original folders") << "original"
                                      << QStringList{"src/letters/one.txt=" + QString::fromStdString(kNew),
                                                     "src/letters/one.txt.bak=local edit", "src/top.txt=top"};
    QTest::newRow("below a folder") << "below"
                                    << QStringList{"out/Data/letters/one.txt=" + QString::fromStdString(kNew),
                                                   "out/Data/top.txt=top", "src/letters/one.txt=local edit"};
    QTest::newRow("show in browser") << "show" << QStringList{};
}

void EntryActionsTest::HitsAreRestoredAndShown() {
    QFETCH(QString, how);
    QFETCH(QStringList, expected);
    test::WriteFile(Src("letters/one.txt"), "local edit");
    test::RemoveTree(Src("top.txt"));
    ui_.defaultDirectoryAnswer = DirectoryAnswer::RenameFolder;
    window_->Tabs()->setCurrentIndex(RestoreMainWindow::kSearchLogPage);
    SearchLogPage& page = *Search();
    page.PatternEdit()->setText(QStringLiteral("*.txt"));
    QTest::mouseClick(page.SearchButton(), Qt::LeftButton);
    QCOMPARE(page.ResultsModel()->rowCount(), 2);
    QVERIFY(!page.RestoreSelectedButton()->isEnabled());
    page.Results()->selectAll();
    QVERIFY(page.RestoreSelectedButton()->isEnabled());

    if (how == "original") {
        page.RestoreSelectedButton()->menu()->actions().at(0)->trigger();
    } else if (how == "below") {
        QAction* restoreTo = ActionNamed(page.HitActions(), QStringLiteral("Restore To..."));
        QVERIFY(restoreTo != nullptr && restoreTo->isEnabled());
        restoreTo->trigger();
    } else {
        // One hit: it is shown selected in its folder.
        QAction* show = ActionNamed(page.HitActions(), QStringLiteral("Show in File Browser"));
        QVERIFY(!show->isEnabled());
        const int row = page.ResultsModel()->Text(0, SearchResultsModel::NameColumn) == "one.txt" ? 0 : 1;
        page.Results()->selectionModel()->select(page.ResultsModel()->index(row, 0),
                                                 QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        QVERIFY(show->isEnabled());
        show->trigger();
        QCOMPARE(window_->Tabs()->currentIndex(), static_cast<int>(RestoreMainWindow::kFileBrowserPage));
        FileBrowserPage& browser = *Browser();
        QCOMPARE(browser.Tree()->currentItem()->text(0), QStringLiteral("letters"));
        const std::vector<ActionItem> selected = browser.SelectedItems();
        QCOMPARE(selected.size(), std::size_t{1});
        QCOMPARE(selected.front().EntryPath(), std::string("Data\\letters\\one.txt"));
        QCOMPARE(ui_.messages, std::vector<std::string>{});
        return;
    }
    QCOMPARE(ui_.messages, std::vector<std::string>{"Success: Restoration Complete"});
    for (const QString& line : expected) {
        const QStringList parts = line.split(QLatin1Char('='));
        QCOMPARE(QString::fromStdString(test::ReadFile(*temp_ / parts[0].toStdString())), parts[1]);
    }
}

void EntryActionsTest::VersionsAreRestoredAndOpened_data() {
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("version");  // row in the dialog, newest first
    QTest::addColumn<QString>("content");
    QTest::addColumn<int>("date");  // the date selected in the window
    QTest::newRow("older version restored") << "restore" << 1 << QString::fromStdString(kOld) << 1;
    QTest::newRow("older version opened") << "open" << 1 << QString::fromStdString(kOld) << 1;
    // The newer version's archive lies beyond the selected date's.
    QTest::newRow("newer version restored at the older date") << "restore" << 0 << QString::fromStdString(kNew) << 0;
    QTest::newRow("current file opened by double-click") << "double-click" << 0 << QString::fromStdString(kNew) << 1;
}

void EntryActionsTest::VersionsAreRestoredAndOpened() {
    QFETCH(QString, how);
    QFETCH(int, version);
    QFETCH(QString, content);
    QFETCH(int, date);
    window_->SelectDate(date);
    window_->Tabs()->setCurrentIndex(RestoreMainWindow::kFileBrowserPage);
    FileBrowserPage& page = *Browser();
    QVERIFY(page.ShowEntry("Data\\letters", "one.txt"));
    EntryActions& actions = page.Actions();
    std::string result;
    if (how == "double-click") {
        const QModelIndex index = page.List()->selectionModel()->selectedRows().at(0);
        emit page.List()->doubleClicked(index);
    } else {
        VersionsDialog dialog(actions, "Data\\letters\\one.txt", window_.get());
        QCOMPARE(dialog.List()->topLevelItemCount(), 2);
        const std::vector<std::string> dates = ArchiveDateTexts(window_->Set().GetBackupDates());
        for (int row = 0; row < 2; ++row)
            QCOMPARE(dialog.List()->topLevelItem(row)->text(0).toStdString(), dates.at(static_cast<std::size_t>(1 - row)));
        QCOMPARE(dialog.List()->topLevelItem(0)->text(2), QStringLiteral("21 bytes"));
        dialog.List()->setCurrentItem(dialog.List()->topLevelItem(version));
        QTest::mouseClick(how == "restore" ? dialog.RestoreToButton() : dialog.OpenButton(), Qt::LeftButton);
    }
    if (how == "restore") {
        QCOMPARE(ui_.messages, std::vector<std::string>{"Success: Restoration Complete"});
        result = *temp_ / "out/one.txt";
    } else {
        // A copy in a private folder, read-only, handed to the opener; no message.
        QCOMPARE(ui_.messages, std::vector<std::string>{});
        QCOMPARE(opened_.size(), std::size_t{1});
        result = opened_.front().toLocalFile().toStdString();
        QCOMPARE(result, actions.LastOpenedCopy());
        QCOMPARE(actions.PrivateFolders().size(), std::size_t{1});
        QCOMPARE(Mode(actions.PrivateFolders().front()), 0700);
        QCOMPARE(Mode(result) & 0222, 0);
    }
    QCOMPARE(QString::fromStdString(test::ReadFile(result)), content);
}

QTEST_MAIN(EntryActionsTest)
#include "entry_actions_test.moc"
